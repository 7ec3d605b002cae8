#include "Canvas/CanvasArchive.hpp"
#include "Document/DocumentConversionDecision.hpp"
#include "Document/DocumentError.hpp"
#include "Document/FlatExport.hpp"
#include "Document/NativeDocument.hpp"
#include "MetalExtensions/MTLGeometryCoding.hpp"
#include "app/Document/DocumentTestSupport.hpp"
#include "coding/KeyedArchiveError.hpp"
#include "coding/KeyedArchiver.hpp"
#include "coding/PropertyListEncoder.hpp"
#include "core/Canvas/CanvasTestSupport.hpp"
#include "foundation/UserDefaults.hpp"

#include <algorithm>
#include <gtest/gtest.h>

namespace velmora {
namespace {

using Kind = DocumentError::Kind;

std::shared_ptr<LayeredCanvas> smallCanvas() {
    return LayeredCanvas::make(*test::asymmetricPicture(6, 4), "Ink");
}

std::vector<uint8_t> archiveWithCanvasTree(CodedValue tree) {
    KeyedArchiver archiver;
    archiver.encodeObject(PropertyListEncoder::propertyList(std::move(tree)), "Canvas");
    return archiver.encodedData();
}

// What reading the data as a layered canvas and as previews throws.
std::string failure(const std::function<void()>& read) {
    try {
        read();
    } catch (const DocumentError& error) {
        return error.kind() == Kind::unsupportedImageSize
                   ? "size " + description(error.currentSize())
                   : "format";
    } catch (const KeyedArchiveError& error) {
        return error.code() == KeyedArchiveError::Code::notAnArchive ? "not an archive"
                                                                     : "other archive error";
    } catch (const std::exception& error) {
        return std::string("unexpected: ") + error.what();
    }
    return "read";
}

TEST(NativeDocument, EveryReadErrorIsTheDocuments) {
    const auto canvas = smallCanvas();
    const auto flat = test::asymmetricPicture(6, 4);
    const auto good = NativeDocument::data(*canvas, flat);
    CodedValue tree = testing::encodeTree(*canvas);
    tree.dictionary()->set("size", testing::encodeTree(MTLSize{8001, 10, 1}));
    const auto oversized = archiveWithCanvasTree(std::move(tree));
    KeyedArchiver previewsOnly;
    previewsOnly.encodeEncodable(*CanvasPreviews::makeStandardPreviews(flat), "Previews");
    auto damaged = good;
    std::replace(damaged.begin() + 200, damaged.begin() + 400, uint8_t('$'), uint8_t('#'));
    const auto bigPreview = NativeDocument::data(*canvas, test::asymmetricPicture(8001, 2));

    struct Case {
        const char* name;
        std::vector<uint8_t> data;
        const char* canvas;
        const char* previews;
    };
    const std::vector<Case> cases{
        {"good", good, "read", "read"},
        {"text", {'n', 'o', 'p', 'e'}, "format", "format"},
        {"oversized canvas", oversized, "size 8001 x 10", "format"},
        {"no canvas", previewsOnly.encodedData(), "format", "read"},
        {"no previews", archiveWithCanvasTree(testing::encodeTree(*canvas)), "read", "format"},
        {"oversized preview", bigPreview, "read", "format"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(failure([&] { NativeDocument::readCanvas(c.data); }), c.canvas) << c.name;
        EXPECT_EQ(failure([&] { NativeDocument::readPreviewCanvas(c.data); }), c.previews)
            << c.name;
    }
    const auto hurt = failure([&] { NativeDocument::readCanvas(damaged); });
    EXPECT_TRUE(hurt == "format" || hurt == "read") << hurt;
}

bool holds(const std::vector<uint8_t>& bytes, std::string_view marker) {
    return std::search(bytes.begin(), bytes.end(), marker.begin(), marker.end()) != bytes.end();
}

TEST(FlatExport, AsymmetricPictureThroughEachWritableFlatType) {
    const auto picture = test::asymmetricPicture(13, 9);
    const auto opaque = test::quadrantPicture(16, 16);
    // The profile's signature as stored: raw in TIFF, a compressed chunk in PNG.
    for (const auto& [type, marker] :
         {std::pair{DocumentFileType::tiff, "acsp"}, std::pair{DocumentFileType::png, "iCCP"}}) {
        const auto bytes = FlatExport::data(*picture, type);
        EXPECT_TRUE(holds(bytes, marker)) << "profile embedded";
        EXPECT_EQ(test::pixels(*ImageCodecs::decode(bytes)), test::pixels(*picture));
    }
    const auto tiff = FlatExport::data(*picture, DocumentFileType::tiff);
    EXPECT_EQ(FlatExport::properties(DocumentFileType::tiff).compressionMethod, 5);
    EXPECT_LT(tiff.size(), size_t(13 * 9 * 4 + 3000)) << "LZW";
    const auto jpeg = FlatExport::data(*opaque, DocumentFileType::jpeg);
    EXPECT_TRUE(holds(jpeg, "ICC_PROFILE"));
    const auto decoded = test::pixels(*ImageCodecs::decode(jpeg));
    const auto expected = test::pixels(*opaque);
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_NEAR(decoded[i], expected[i], 3) << i;
    }
    for (const auto type :
         {DocumentFileType::gif, DocumentFileType::bmp, DocumentFileType::velmora}) {
        try {
            FlatExport::data(*picture, type);
            ADD_FAILURE() << "written";
        } catch (const DocumentError& error) {
            EXPECT_EQ(error.kind(), Kind::unsupportedFormat);
        }
    }
}

TEST(DocumentConversionDecision, TypePolicyAndAnswer) {
    using Answer = ConversionControllerResponse;
    struct Case {
        DocumentFileType type;
        std::optional<const char*> stored;
        std::optional<Answer> answer; // asked when set
        bool converts;
        const char* storedAfter;
    };
    const std::vector<Case> cases{
        {DocumentFileType::velmora, "convertAlways", {}, false, "convertAlways"},
        {DocumentFileType::gif, "keepAlways", {}, true, "keepAlways"},
        {DocumentFileType::bmp, {}, {}, true, ""},
        {DocumentFileType::jpeg, "convertAlways", {}, true, "convertAlways"},
        {DocumentFileType::tiff, "keepAlways", {}, false, "keepAlways"},
        {DocumentFileType::png, {}, Answer::convert, true, ""},
        {DocumentFileType::png, "ask", Answer::keep, false, "ask"},
        {DocumentFileType::png, "sometimes", Answer::keepAlways, false, "keepAlways"},
        {DocumentFileType::tiff, "ask", Answer::convertAlways, true, "convertAlways"},
    };
    for (const auto& c : cases) {
        UserDefaults defaults(std::nullopt);
        if (c.stored) {
            defaults.set(std::string(*c.stored), Preferences::documentFormatConversionKey);
        }
        Preferences preferences(defaults);
        int asked = 0;
        const bool converts = shouldConvertOpenedDocument(c.type, preferences, [&] {
            ++asked;
            return c.answer.value_or(Answer::convert);
        });
        const auto label =
            std::string(DocumentFileTypes::identifier(c.type)) + " " + c.stored.value_or("none");
        EXPECT_EQ(converts, c.converts) << label;
        EXPECT_EQ(asked, c.answer ? 1 : 0) << label;
        EXPECT_EQ(defaults.stringForKey(Preferences::documentFormatConversionKey).value_or(""),
                  c.storedAfter)
            << label;
    }
}

} // namespace
} // namespace velmora
