#include "graphics/CodecSupport.hpp"

#include <algorithm>
#include <cstring>
#include <gif_lib.h>
#include <memory>

namespace velmora::codec {

namespace {

using Kind = ImageCodecError::Kind;

struct Input {
    std::span<const uint8_t> data;
    size_t position = 0;
    bool ranOut = false;
};

int readInput(GifFileType* gif, GifByteType* out, int length) {
    auto* in = static_cast<Input*>(gif->UserData);
    if (length <= 0) {
        return 0;
    }
    const size_t count = std::min<size_t>(size_t(length), in->data.size() - in->position);
    in->ranOut = in->ranOut || count < size_t(length);
    std::memcpy(out, in->data.data() + in->position, count);
    in->position += count;
    return static_cast<int>(count);
}

struct GifCloser {
    void operator()(GifFileType* gif) const {
        int error = 0;
        DGifCloseFile(gif, &error);
    }
};
using GifHandle = std::unique_ptr<GifFileType, GifCloser>;

[[noreturn]] void failWith(const Input& input, int code, const char* fallback) {
    const char* text = GifErrorString(code);
    const bool truncated =
        input.ranOut || code == D_GIF_ERR_READ_FAILED || code == D_GIF_ERR_EOF_TOO_SOON;
    fail(truncated ? Kind::truncated : Kind::corrupt,
         std::string("GIF: ") + (text != nullptr ? text : fallback));
}

GifHandle open(Input& input) {
    int error = 0;
    GifFileType* gif = DGifOpen(&input, readInput, &error);
    if (gif == nullptr) {
        failWith(input, error, "unreadable header");
    }
    return GifHandle(gif);
}

} // namespace

ImageInfo gifInfo(std::span<const uint8_t> data) {
    Input input{data};
    auto gif = open(input);
    ImageInfo info{NSBitmapImageFileType::gif};
    info.pixelsWide = gif->SWidth;
    info.pixelsHigh = gif->SHeight;
    info.colorSpaceModel = NSColorSpaceModel::rgb;
    info.bitsPerSample = 8;
    return info;
}

NSBitmapImageRepRef gifDecode(std::span<const uint8_t> data, const ImageDecodingLimits& limits) {
    Input input{data};
    auto gif = open(input);
    const int64_t width = gif->SWidth, height = gif->SHeight;
    checkPixelCount(width, height, limits);

    int transparent = -1;
    for (;;) {
        GifRecordType record = UNDEFINED_RECORD_TYPE;
        if (DGifGetRecordType(gif.get(), &record) == GIF_ERROR) {
            failWith(input, gif->Error, "bad record");
        }
        if (record == TERMINATE_RECORD_TYPE) {
            fail(Kind::corrupt, "GIF: the file holds no image");
        }
        if (record == EXTENSION_RECORD_TYPE) {
            int code = 0;
            GifByteType* block = nullptr;
            if (DGifGetExtension(gif.get(), &code, &block) == GIF_ERROR) {
                failWith(input, gif->Error, "bad extension");
            }
            while (block != nullptr) {
                if (code == GRAPHICS_EXT_FUNC_CODE && block[0] >= 4) {
                    GraphicsControlBlock control;
                    if (DGifExtensionToGCB(block[0], block + 1, &control) == GIF_OK) {
                        transparent = control.TransparentColor;
                    }
                }
                if (DGifGetExtensionNext(gif.get(), &block) == GIF_ERROR) {
                    failWith(input, gif->Error, "bad extension");
                }
            }
            continue;
        }
        if (record != IMAGE_DESC_RECORD_TYPE) {
            continue;
        }
        if (DGifGetImageDesc(gif.get()) == GIF_ERROR) {
            failWith(input, gif->Error, "bad image descriptor");
        }
        break;
    }

    const GifImageDesc& frame = gif->Image;
    const ColorMapObject* map = frame.ColorMap != nullptr ? frame.ColorMap : gif->SColorMap;
    if (map == nullptr || map->Colors == nullptr || map->ColorCount <= 0) {
        fail(Kind::corrupt, "GIF: no colour table");
    }
    checkPixelCount(frame.Width, frame.Height, limits);

    // The first frame on a transparent screen; what lies outside it stays clear.
    ImageBuilder builder(width, height, PixelLayout::rgba8, {});
    std::vector<GifPixelType> line(size_t(frame.Width));
    static constexpr int kStart[] = {0, 4, 2, 1};
    static constexpr int kStep[] = {8, 8, 4, 2};
    const int passes = frame.Interlace ? 4 : 1;
    for (int pass = 0; pass < passes; ++pass) {
        const int start = frame.Interlace ? kStart[pass] : 0;
        const int step = frame.Interlace ? kStep[pass] : 1;
        for (int r = start; r < frame.Height; r += step) {
            if (DGifGetLine(gif.get(), line.data(), frame.Width) == GIF_ERROR) {
                failWith(input, gif->Error, "bad image data");
            }
            const int64_t y = int64_t(frame.Top) + r;
            if (y >= height) {
                continue;
            }
            uint8_t* out = builder.rgbaRow(y);
            for (int c = 0; c < frame.Width; ++c) {
                const int index = line[size_t(c)];
                if (index >= map->ColorCount) {
                    fail(Kind::corrupt, "GIF: palette index out of range");
                }
                const int64_t x = int64_t(frame.Left) + c;
                if (x >= width || index == transparent) {
                    continue;
                }
                uint8_t* p = out + x * 4;
                p[0] = map->Colors[index].Red;
                p[1] = map->Colors[index].Green;
                p[2] = map->Colors[index].Blue;
                p[3] = 255;
            }
        }
    }
    return builder.finish();
}

} // namespace velmora::codec
