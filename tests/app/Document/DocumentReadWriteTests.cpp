#include "Canvas/CanvasArchive.hpp"
#include "Canvas/GroupLayer.hpp"
#include "Canvas/RasterLayer.hpp"
#include "Document/Document.hpp"
#include "Document/DocumentError.hpp"
#include "Document/NativeDocument.hpp"
#include "app/Document/DocumentTestSupport.hpp"
#include "coding/KeyedArchiver.hpp"
#include "core/Canvas/PixelTestSupport.hpp"
#include "desktop/NSAlert.hpp"
#include "desktop/NSPresentedError.hpp"
#include "desktop/VersionStore.hpp"

#include <QTemporaryDir>
#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <unistd.h>

namespace velmora {
namespace {

namespace fs = std::filesystem;
using Kind = DocumentError::Kind;
const std::string native = "com.tovik.velmora-image";

struct FixedProvider : BitmapProvider {
    std::shared_ptr<NSBitmapImageRep> picture = test::asymmetricPicture(6, 4);
    std::shared_ptr<NSBitmapImageRep> bitmap() override { return picture; }
};

// The kind of DocumentError a call throws, also inside an error already shown.
std::optional<Kind> documentError(const std::function<void()>& call) {
    try {
        call();
    } catch (const NSPresentedError& shown) {
        try {
            std::rethrow_exception(shown.original());
        } catch (const DocumentError& error) {
            return error.kind();
        } catch (...) {
            ADD_FAILURE() << "another error was shown";
        }
    } catch (const DocumentError& error) {
        return error.kind();
    }
    return std::nullopt;
}

std::vector<std::shared_ptr<RasterLayer>> rasterLayers(const Layers& layers) {
    std::vector<std::shared_ptr<RasterLayer>> found;
    for (const auto& layer : layers) {
        if (const auto raster = std::dynamic_pointer_cast<RasterLayer>(layer)) {
            found.push_back(raster);
        } else if (const auto group = std::dynamic_pointer_cast<GroupLayer>(layer)) {
            const auto inner = rasterLayers(group->immediateLayers());
            found.insert(found.end(), inner.begin(), inner.end());
        }
    }
    return found;
}

void expectSamePixels(const LayeredCanvas& a, const LayeredCanvas& b) {
    const auto ra = rasterLayers(a.immediateLayers());
    const auto rb = rasterLayers(b.immediateLayers());
    ASSERT_EQ(ra.size(), rb.size());
    for (size_t i = 0; i < ra.size(); ++i) {
        EXPECT_EQ(ra[i]->regions(), rb[i]->regions()) << ra[i]->name();
        ASSERT_EQ(ra[i]->patches().size(), rb[i]->patches().size());
        for (size_t p = 0; p < ra[i]->patches().size(); ++p) {
            EXPECT_EQ(testing::texturePixels(ra[i]->patches()[p]->texture()),
                      testing::texturePixels(rb[i]->patches()[p]->texture()))
                << ra[i]->name();
        }
    }
}

class DocumentReadWriteTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(temporary.isValid());
        folder = temporary.path().toStdString();
        NSAlert::setTestResponder([this](const NSAlert& alert) {
            alerts.push_back(alert.messageText);
            details.push_back(alert.informativeText);
            return NSAlertFirstButtonReturn;
        });
    }
    void TearDown() override { NSAlert::setTestResponder(nullptr); }

    std::shared_ptr<Document> makeDocument(const std::string& name = "Picture") {
        auto document = std::make_shared<Document>();
        document->versionStore = nullptr;
        document->setFileURL(URL::fileURL(folder / (name + ".png"), false));
        return document;
    }
    URL file(const std::string& name, const std::vector<uint8_t>& bytes) {
        test::writeFile(folder / name, bytes);
        return URL::fileURL(folder / name, false);
    }

    QTemporaryDir temporary;
    fs::path folder;
    std::vector<std::string> alerts;
    std::vector<std::string> details;
};

TEST_F(DocumentReadWriteTest, ContentByViewingModeAndType) {
    const auto picture = test::asymmetricPicture(6, 4);
    const auto png = test::pngOf(*picture);
    const auto layered = LayeredCanvas::make(*picture, "Ink");
    // No "Canvas" entry: only a viewer can read it.
    KeyedArchiver previewsOnly;
    previewsOnly.encodeEncodable(*CanvasPreviews::makeStandardPreviews(picture), "Previews");
    const auto previews = previewsOnly.encodedData();
    struct Case {
        bool viewing;
        std::string type;
        std::vector<uint8_t> data;
        std::optional<Kind> error;
        bool layeredContent;
    };
    const std::vector<Case> cases{
        {true, native, previews, {}, false},
        {true, "public.png", png, {}, false},
        {false, native, NativeDocument::data(*layered, picture), {}, true},
        {false, "public.png", png, {}, true},
        {false, native, previews, Kind::unsupportedFormat, false},
        {true, "public.png", test::blankPng(3, 2, 16), Kind::unsupportedPixelFormat, false},
        {true, "public.image", png, Kind::unsupportedFormat, false},
        {false, "com.compuserve.gif", test::tinyGif(), {}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.type + (c.viewing ? " viewed" : " edited"));
        const auto document = makeDocument("Portrait");
        document->setInViewingMode(c.viewing);
        EXPECT_EQ(documentError([&] { document->read(c.data, c.type); }), c.error);
        if (c.error) {
            EXPECT_FALSE(document->content().has_value()) << "a failed read changes nothing";
            continue;
        }
        EXPECT_EQ(document->layeredCanvas() != nullptr, c.layeredContent);
        EXPECT_EQ(document->previewCanvas() != nullptr, !c.layeredContent);
        EXPECT_EQ(document->imageDropHandler() != nullptr, c.layeredContent);
        if (c.type != native && c.layeredContent) {
            EXPECT_EQ(document->layeredCanvas()->immediateLayers().at(0)->name(), "Portrait");
        }
    }
}

TEST_F(DocumentReadWriteTest, AFailedReadKeepsTheContentAndShowsOneAlert) {
    const auto document = makeDocument();
    document->read(test::pngOf(*test::asymmetricPicture()), "public.png");
    const auto canvas = document->layeredCanvas();
    const struct {
        const char* name;
        std::vector<uint8_t> bytes;
        Kind kind;
    } cases[] = {
        {"grey.png", test::blankPng(3, 2, 8, PNG_COLOR_TYPE_GRAY), Kind::unsupportedPixelFormat},
        {"grey-wide.png", test::blankPng(8001, 10, 8, PNG_COLOR_TYPE_GRAY),
         Kind::unsupportedPixelFormat},
        {"wide.png", test::blankPng(8001, 10), Kind::unsupportedImageSize}};
    for (const auto& c : cases) {
        alerts.clear();
        const auto url = file(c.name, c.bytes);
        EXPECT_EQ(documentError([&] { document->read(url, "public.png"); }), c.kind) << c.name;
        EXPECT_EQ(alerts.size(), 1u) << c.name;
        EXPECT_EQ(document->layeredCanvas(), canvas);
    }
    // Told only through the error when asked so.
    document->modalErrorOpenHandler = false;
    alerts.clear();
    EXPECT_THROW(document->read(file("x.png", {1, 2, 3}), "public.png"), DocumentError);
    EXPECT_TRUE(alerts.empty());
    // Presenting an error the document showed already shows nothing.
    document->presentError(
        NSPresentedError(std::make_exception_ptr(DocumentError::missingCanvas())));
    EXPECT_TRUE(alerts.empty());
}

TEST_F(DocumentReadWriteTest, WritingNeedsALayeredCanvasAProviderAndAWritableType) {
    const auto provider = std::make_shared<FixedProvider>();
    const auto document = makeDocument();
    EXPECT_EQ(documentError([&] { document->data("public.png"); }), Kind::missingCanvas);
    document->setInViewingMode(true);
    document->read(test::pngOf(*provider->picture), "public.png");
    document->setBitmapProvider(provider);
    EXPECT_EQ(documentError([&] { document->data("public.png"); }), Kind::missingCanvas)
        << "a preview";
    document->setInViewingMode(false);
    document->read(test::pngOf(*provider->picture), "public.png");
    for (const auto* type : {"com.compuserve.gif", "com.microsoft.bmp", "public.image"}) {
        EXPECT_EQ(documentError([&] { document->data(type); }), Kind::unsupportedFormat) << type;
        try {
            document->data(type);
        } catch (const DocumentError& error) {
            EXPECT_EQ(error.errorDescription().informativeText,
                      "Supported formats are TIFF, JPEG, PNG, GIF, BMP and Velmora document.");
        }
    }
    EXPECT_EQ(test::pixels(*ImageCodecs::decode(document->data("public.png"))),
              test::pixels(*provider->picture));
    const URL url = URL::fileURL(folder / "out.tiff", false);
    document->write(url, "public.tiff");
    EXPECT_EQ(test::pixels(*ImageCodecs::decode(test::readFile(url.filePath()))),
              test::pixels(*provider->picture));
    // The window and its controller gone: nothing supplies the picture.
    document->setBitmapProvider(std::make_shared<FixedProvider>());
    EXPECT_EQ(documentError([&] { document->data("public.png"); }), Kind::missingCanvas);
}

TEST_F(DocumentReadWriteTest, ADamagedPatchAmongManyShowsOneAlertAndKeepsTheContent) {
    const auto canvas = LayeredCanvas::make({64, 64, 1});
    Layers layers;
    for (int i = 0; i < 5; ++i) {
        layers.push_back(RasterLayer::make("L" + std::to_string(i),
                                           *testing::lopsidedBitmap(40 + i, 30 + 2 * i)));
    }
    canvas->setImmediateLayers(layers);
    const auto previews = CanvasPreviews::makeStandardPreviews(test::asymmetricPicture(6, 4));
    auto bytes = CanvasArchive::encodedData(*canvas, *previews);
    const auto tiff =
        std::static_pointer_cast<RasterLayer>(layers[2])->patches()[0]->cachedTiffData;
    const auto at = std::search(bytes.begin(), bytes.end(), tiff.span().begin(), tiff.span().end());
    ASSERT_NE(at, bytes.end());
    std::fill(at + 8, at + static_cast<std::ptrdiff_t>(tiff.size() / 2), uint8_t(0xFF));

    const auto document = makeDocument();
    document->read(test::pngOf(*test::asymmetricPicture()), "public.png");
    const auto before = document->layeredCanvas();
    alerts.clear();
    EXPECT_EQ(documentError([&] { document->read(file("damaged.velmora", bytes), native); }),
              Kind::unsupportedFormat);
    EXPECT_EQ(alerts.size(), 1u);
    EXPECT_EQ(document->layeredCanvas(), before);
}

TEST_F(DocumentReadWriteTest, ASaveRemovesOnlyItsOwnStaleTemporaries) {
    const auto provider = std::make_shared<FixedProvider>();
    const auto old = fs::file_time_type::clock::now() - std::chrono::hours(1);
    for (const std::string& type : {native, std::string("public.png")}) {
        SCOPED_TRACE(type);
        const fs::path saved = folder / (type == native ? "Sketch.velmora" : "Sketch.png");
        const std::string hidden = "." + saved.filename().string() + ".";
        const std::string marked = hidden + "velmora-save-";
        // What saves killed midway leave, whichever writer made them.
        const std::vector<std::string> stale{marked + "a1B2c3", marked + "0A1B2C"};
        // The user's own files and other programs' that look alike, another
        // document's, one a save still writes, one newer than this save, and
        // things that are no file of ours.
        const std::vector<std::string> kept{hidden + "backup",
                                            hidden + "old001",
                                            hidden + "v2copy",
                                            hidden + "a1B2c3",
                                            hidden + "Zq09xY.k3LmN0",
                                            hidden + "0A1B2C3D",
                                            hidden + "swp",
                                            marked + "a1B2c",
                                            saved.filename().string() + ".velmora-save-a1B2c3",
                                            ".Other.png.velmora-save-a1B2c3",
                                            marked + "Lock01",
                                            marked + "Fresh1",
                                            marked + "Link12",
                                            marked + "Dir123"};
        for (const auto& name : stale) {
            test::writeFile(folder / name, {1, 2, 3});
            fs::last_write_time(folder / name, old);
        }
        for (const auto& name : kept) {
            if (name.ends_with("Link12")) {
                test::writeFile(folder / "target", {7});
                fs::create_symlink(folder / "target", folder / name);
            } else if (name.ends_with("Dir123")) {
                fs::create_directory(folder / name);
            } else {
                test::writeFile(folder / name, {4, 5, 6});
                fs::last_write_time(folder / name,
                                    name.ends_with("Fresh1")
                                        ? fs::file_time_type::clock::now() + std::chrono::hours(1)
                                        : old);
            }
        }
        // The lock a write under way holds, from another open of the file.
        const int writing = ::open((folder / (marked + "Lock01")).c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(writing, 0);
        ASSERT_EQ(::flock(writing, LOCK_EX), 0);

        const auto document = makeDocument("Sketch");
        document->read(test::pngOf(*test::asymmetricPicture()), "public.png");
        document->setBitmapProvider(provider);
        document->setFileURL(URL::fileURL(saved, false));
        document->setFileType(type);
        document->updateChangeCount(NSDocumentChangeType::changeDone);
        EXPECT_TRUE(document->saveDocument());
        ::close(writing);

        EXPECT_TRUE(alerts.empty());
        EXPECT_FALSE(test::readFile(saved).empty());
        for (const auto& name : stale) {
            EXPECT_FALSE(fs::exists(fs::symlink_status(folder / name))) << name;
        }
        for (const auto& name : kept) {
            EXPECT_TRUE(fs::exists(fs::symlink_status(folder / name))) << name;
        }
        EXPECT_EQ(test::readFile(folder / "target"), std::vector<uint8_t>{7});
        for (const auto& name : kept) {
            fs::remove(folder / name);
        }
    }
}

// A save that fails as the disk fills (the file size limit stands in) says
// which document and file it could not save, never the hidden temporary, and
// leaves the old file and no temporary.
TEST_F(DocumentReadWriteTest, AFailedSaveAlertNamesTheDocument) {
    const auto provider = std::make_shared<FixedProvider>();
    for (const std::string& type : {native, std::string("public.png")}) {
        SCOPED_TRACE(type);
        const fs::path saved = folder / (type == native ? "Sketch.velmora" : "Sketch.png");
        const auto document = makeDocument("Sketch");
        document->read(test::pngOf(*test::asymmetricPicture(40, 30)), "public.png");
        document->setBitmapProvider(provider);
        document->setFileURL(URL::fileURL(saved, false));
        document->setFileType(type);
        ASSERT_TRUE(document->saveDocument());
        const auto before = test::readFile(saved);
        document->updateChangeCount(NSDocumentChangeType::changeDone);

        rlimit limit{};
        ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &limit), 0);
        rlimit small = limit;
        small.rlim_cur = 16;
        const auto signal = std::signal(SIGXFSZ, SIG_IGN);
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
        alerts.clear();
        const bool wrote = document->saveDocument();
        ::setrlimit(RLIMIT_FSIZE, &limit);
        std::signal(SIGXFSZ, signal);

        EXPECT_FALSE(wrote);
        EXPECT_TRUE(document->isDocumentEdited());
        ASSERT_EQ(alerts.size(), 1u);
        EXPECT_EQ(alerts[0], "The document \"Sketch\" could not be saved as \"" +
                                 saved.filename().string() + "\".");
        EXPECT_NE(details.back().find(saved.string()), std::string::npos) << details.back();
        EXPECT_EQ(details.back().find("velmora-save"), std::string::npos) << details.back();
        EXPECT_EQ(test::readFile(saved), before);
        EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
        fs::remove(saved);
    }
}

TEST_F(DocumentReadWriteTest, NativeSaveKeepsLayersModesOpacityAndPixelsAndAVersion) {
    const auto provider = std::make_shared<FixedProvider>();
    const auto document = makeDocument();
    document->read(test::pngOf(*test::asymmetricPicture(13, 9, true)), "public.png");
    const auto canvas = document->layeredCanvas();
    const auto top = RasterLayer::make("Top", *testing::lopsidedBitmap(5, 7));
    top->setBlendMode(BlendMode::multiply);
    top->setOpacity(0.25f);
    top->moveContents({3, -2, 0});
    const auto group = GroupLayer::make("Group");
    group->setVisible(false);
    canvas->insertLayer(group, {1});
    canvas->insertLayer(top, {1, 0});
    document->setBitmapProvider(provider);
    document->versionStore = std::make_shared<VersionStore>(folder / "Versions");
    const URL url = URL::fileURL(folder / "saved.velmora", false);
    document->write(url, native);
    document->write(url, native);
    EXPECT_EQ(document->versionStore->versions(url).size(), 1u) << "the first file was kept";

    const auto back = std::make_shared<Document>();
    back->read(url, native);
    const auto read = back->layeredCanvas();
    ASSERT_TRUE(read);
    EXPECT_EQ(read->debugDescription(), canvas->debugDescription());
    expectSamePixels(*canvas, *read);
    const auto readGroup = std::dynamic_pointer_cast<GroupLayer>(read->immediateLayers().at(1));
    ASSERT_TRUE(readGroup);
    EXPECT_FALSE(readGroup->visible());
    const auto readTop = readGroup->immediateLayers().at(0);
    EXPECT_EQ(readTop->blendMode(), BlendMode::multiply);
    EXPECT_FLOAT_EQ(readTop->opacity(), 0.25f);
    EXPECT_EQ(readTop->boundingRect(), (MTLRegion{{3, -2, 0}, {5, 7, 1}}));

    // A flat save over an existing file keeps the file it replaces too.
    const URL flat = file("flat.png", test::pngOf(*test::asymmetricPicture(2, 2)));
    document->write(flat, "public.png");
    EXPECT_EQ(document->versionStore->versions(flat).size(), 1u);
    EXPECT_EQ(test::pixels(*ImageCodecs::decode(test::readFile(flat.filePath()))),
              test::pixels(*provider->picture));
}

} // namespace
} // namespace velmora
