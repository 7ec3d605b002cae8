#include "Document/DocumentFileType.hpp"
#include "Document/ImageImport.hpp"
#include "app/Document/DocumentTestSupport.hpp"

#include <gtest/gtest.h>

namespace velmora {
namespace {

using Kind = DocumentError::Kind;
using Order = ImageImport::CheckOrder;

struct ImportCase {
    const char* name;
    std::vector<uint8_t> bytes;
    std::optional<Kind> opened;  // formatFirst, unreadable as unsupportedFormat
    std::optional<Kind> dropped; // sizeFirst, unreadable as unsupportedDroppedFormat
    const char* informativeEnd;  // of the opened error, when there is one
};

std::optional<Kind> importError(const std::vector<uint8_t>& bytes, Order order,
                                std::string* informative = nullptr) {
    const Kind unreadable =
        order == Order::formatFirst ? Kind::unsupportedFormat : Kind::unsupportedDroppedFormat;
    try {
        const auto bitmap = ImageImport::bitmap(bytes, order, unreadable);
        EXPECT_EQ(bitmap->bitsPerSample(), 8);
        return std::nullopt;
    } catch (const DocumentError& error) {
        if (informative) {
            *informative = error.errorDescription().informativeText;
        }
        return error.kind();
    }
}

TEST(ImageImport, HeaderChecksInOrderThenPixels) {
    auto truncated = test::pngOf(*test::asymmetricPicture(40, 30));
    truncated.resize(truncated.size() / 2);
    const std::vector<ImportCase> cases{
        {"rgb png", test::blankPng(3, 2), {}, {}, ""},
        {"rgba png", test::pngOf(*test::asymmetricPicture()), {}, {}, ""},
        {"gif", test::tinyGif(), {}, {}, ""},
        {"bmp", test::tinyBmp(), {}, {}, ""},
        {"16-bit", test::blankPng(3, 2, 16), Kind::unsupportedPixelFormat,
         Kind::unsupportedPixelFormat, "is RGB 16 bits."},
        {"grey", test::blankPng(3, 2, 8, PNG_COLOR_TYPE_GRAY), Kind::unsupportedPixelFormat,
         Kind::unsupportedPixelFormat, "is Gray 8 bits."},
        {"wide", test::blankPng(8001, 10), Kind::unsupportedImageSize, Kind::unsupportedImageSize,
         "image is 8001 x 10 pixels."},
        // Opening names the format first, dropping the size.
        {"grey and wide", test::blankPng(8001, 10, 8, PNG_COLOR_TYPE_GRAY),
         Kind::unsupportedPixelFormat, Kind::unsupportedImageSize, "is Gray 8 bits."},
        {"not an image",
         {'h', 'e', 'l', 'l', 'o'},
         Kind::unsupportedFormat,
         Kind::unsupportedDroppedFormat,
         "GIF, BMP and Velmora document."},
        {"header over damaged pixels", truncated, Kind::unsupportedFormat,
         Kind::unsupportedDroppedFormat, "GIF, BMP and Velmora document."},
    };
    for (const auto& c : cases) {
        std::string informative;
        EXPECT_EQ(importError(c.bytes, Order::formatFirst, &informative), c.opened) << c.name;
        EXPECT_TRUE(informative.ends_with(c.informativeEnd)) << c.name << ": " << informative;
        EXPECT_EQ(importError(c.bytes, Order::sizeFirst), c.dropped) << c.name;
    }
}

TEST(DocumentFileTypes, TableOrderIdentifiersAndExtensions) {
    EXPECT_EQ(DocumentFileTypes::writableIdentifiers(),
              (std::vector<std::string>{"public.tiff", "public.jpeg", "public.png",
                                        "com.tovik.velmora-image"}));
    for (const auto type : DocumentFileTypes::allCases) {
        EXPECT_EQ(DocumentFileTypes::fileType(DocumentFileTypes::identifier(type)), type);
    }
    EXPECT_EQ(DocumentFileTypes::fileType("public.image"), std::nullopt);
    const std::vector<std::pair<const char*, std::optional<DocumentFileType>>> paths{
        {"/a/b.TIF", DocumentFileType::tiff},
        {"x.Jpeg", DocumentFileType::jpeg},
        {"x.jpg", DocumentFileType::jpeg},
        {"x.PNG", DocumentFileType::png},
        {"x.gif", DocumentFileType::gif},
        {"x.bmp", DocumentFileType::bmp},
        {"a.b.Velmora", DocumentFileType::velmora},
        {"x.pdf", std::nullopt},
        {"png", std::nullopt},
        {"x.", std::nullopt},
    };
    for (const auto& [path, type] : paths) {
        EXPECT_EQ(DocumentFileTypes::fileTypeForPath(path), type) << path;
    }
}

} // namespace
} // namespace velmora
