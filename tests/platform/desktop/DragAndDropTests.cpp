#include "desktop/NSDraggingInfo.hpp"
#include "foundation/MainQueue.hpp"
#include "foundation/Thread.hpp"

#include <QMimeData>
#include <QUrl>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace velmora;
namespace fs = std::filesystem;

namespace {

class TempFolder {
public:
    TempFolder() {
        path_ = fs::temp_directory_path() /
                ("velmora-dnd-" + std::to_string(::getpid()) + "-" + std::to_string(counter()++));
        fs::create_directories(path_);
    }
    ~TempFolder() { fs::remove_all(path_); }
    const fs::path& path() const { return path_; }
    URL url() const { return URL::fileURL(path_, true); }
    URL write(const std::string& name, const std::string& bytes) const {
        std::ofstream(path_ / name, std::ios::binary) << bytes;
        return URL::fileURL(path_ / name, false);
    }

private:
    static int& counter() {
        static int n = 0;
        return n;
    }
    fs::path path_;
};

NSPasteboardItem item(const std::string& type, const std::string& text) {
    NSPasteboardItem i;
    i.setString(text, type);
    return i;
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

} // namespace

TEST(DragAndDropTest, ItemsTravelThroughMimeDataByTypeName) {
    TempFolder folder;
    const URL file = folder.write("a b.png", "x");
    NSPasteboardItem first = item("Velmora.Brush", "1111");
    first.setString(file.absoluteString(), NSPasteboardTypeFileURL);
    const NSPasteboard out({first, item("Velmora.Brush", "2222")});
    const auto mime = out.makeMimeData();
    EXPECT_EQ(mime->data("Velmora.Brush"), "1111") << "the first item is readable by its type";
    EXPECT_EQ(mime->data("Velmora.Brush#1"), "2222");
    ASSERT_EQ(mime->urls().size(), 1);
    EXPECT_EQ(mime->urls()[0].toLocalFile().toStdString(), file.path());

    const NSPasteboard in = NSPasteboard::fromMimeData(*mime);
    ASSERT_EQ(in.pasteboardItems().size(), 2u);
    EXPECT_EQ(in.pasteboardItems()[0].string("Velmora.Brush"), "1111");
    EXPECT_EQ(in.pasteboardItems()[1].string("Velmora.Brush"), "2222");
    EXPECT_EQ(in.fileURLs(), std::vector<URL>{file});
    EXPECT_EQ(in.availableType({"Velmora.Layer", "Velmora.Brush"}), "Velmora.Brush");
    EXPECT_EQ(in.availableType({"Velmora.Layer"}), std::nullopt);
}

TEST(DragAndDropTest, EnumerationKeepsImageFilesAndImageDataWithoutAURL) {
    TempFolder folder;
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(folder.write("a.png", "p").path())),
                  QUrl::fromLocalFile(QString::fromStdString(folder.write("b.txt", "t").path())),
                  QUrl::fromLocalFile(QString::fromStdString(folder.write("c.pdf", "%PDF").path())),
                  QUrl("https://example.org/d.png")});
    const NSDraggingInfo files(NSPasteboard::fromMimeData(mime), {}, NSDragOperation::copy);
    const NSDraggingInfo::SearchOptions options{true, {kUTTypeImage}};
    const std::vector classes{NSDraggingInfo::ItemClass::filePromiseReceiver,
                              NSDraggingInfo::ItemClass::url};
    std::vector<std::string> taken;
    files.enumerateDraggingItems(classes, options, [&](const auto& i, size_t, bool&) {
        taken.push_back(std::get<URL>(i).lastPathComponent());
    });
    EXPECT_EQ(taken, std::vector<std::string>{"a.png"});

    QMimeData data;
    data.setData("image/jpeg", "jpeg bytes");
    data.setText("not an image");
    const NSDraggingInfo promised(NSPasteboard::fromMimeData(data), {}, NSDragOperation::copy);
    std::vector<std::string> promises;
    promised.enumerateDraggingItems(classes, options, [&](const auto& i, size_t, bool&) {
        promises.push_back(std::get<0>(i)->fileType());
    });
    EXPECT_EQ(promises, std::vector<std::string>{"image/jpeg"});
}

TEST(DragAndDropTest, ImageDataDroppedIsWrittenAsANewFileAndReadOnTheMainQueue) {
    TempFolder folder;
    QMimeData data;
    data.setData("image/png", QByteArray("\x89PNG\0data", 9));
    const auto pasteboard = NSPasteboard::fromMimeData(data);
    const auto receiver = NSFilePromiseReceiver::make(pasteboard.pasteboardItems()[0]);
    ASSERT_NE(receiver, nullptr);
    folder.write("Dropped Image.png", "already there");

    std::vector<fs::path> files;
    bool onMain = true;
    for (int i = 0; i < 2; ++i) {
        receiver->receivePromisedFiles(folder.url(), DispatchQueue::main(),
                                       [&](const URL& file, std::exception_ptr error) {
                                           EXPECT_FALSE(error);
                                           onMain = onMain && Thread::isMainThread();
                                           files.push_back(file.filePath());
                                       });
    }
    ASSERT_TRUE(MainQueue::runUntil([&] { return files.size() == 2; }, std::chrono::seconds(10)));
    EXPECT_TRUE(onMain);
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files[0].filename(), "Dropped Image 2.png");
    EXPECT_EQ(files[1].filename(), "Dropped Image 3.png");
    EXPECT_EQ(readFile(files[0]), std::string("\x89PNG\0data", 9));
    EXPECT_EQ(readFile(folder.path() / "Dropped Image.png"), "already there");

    std::exception_ptr failure;
    bool called = false;
    receiver->receivePromisedFiles(URL::fileURL(folder.path() / "missing", true),
                                   DispatchQueue::main(), [&](const URL&, std::exception_ptr e) {
                                       failure = e;
                                       called = true;
                                   });
    ASSERT_TRUE(MainQueue::runUntil([&] { return called; }, std::chrono::seconds(10)));
    EXPECT_THROW(std::rethrow_exception(failure), FilePromiseError);
}

TEST(DragAndDropTest, AnItemWithAFileURLIsNoPromise) {
    NSPasteboardItem i = item(NSPasteboardTypeFileURL, "file:///tmp/x.png");
    i.setString("png", "image/png");
    EXPECT_EQ(NSFilePromiseReceiver::make(i), nullptr);
    EXPECT_EQ(NSFilePromiseReceiver::make(item("text/plain", "x")), nullptr);
}
