#include "coding/AtomicFileWriter.hpp"
#include "coding/BinaryPropertyList.hpp"
#include "coding/PropertyListError.hpp"
#include "foundation/AtomicFile.hpp"
#include "platform/coding/PropertyListTestSupport.hpp"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <optional>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace velmora {
namespace {

namespace fs = std::filesystem;

std::vector<std::uint8_t> fileBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void putFile(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

std::vector<std::uint8_t> pattern(std::size_t size, unsigned seed) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = std::uint8_t((i * 131 + seed * 7 + (i >> 12)) & 0xFF);
    }
    return bytes;
}

std::vector<fs::path> entries(const fs::path& folder) {
    return {fs::directory_iterator(folder), fs::directory_iterator()};
}

// Small copied writes and large kept ones, across piece boundaries and larger
// than a piece, in every order, give exactly the bytes written.
TEST(AtomicFileWriterTest, StreamedPiecesGiveTheBytesInOrder) {
    testing::TemporaryFolder folder;
    const auto path = folder.path() / "a.bin";
    const std::vector<std::size_t> sizes = {3, 70000,  1,     4096, 300000,
                                            0, 200000, 65535, 5000, 1 << 20};
    for (const std::size_t piece : {std::size_t(4096), std::size_t(65536), std::size_t(32) << 20}) {
        SCOPED_TRACE(piece);
        std::vector<std::uint8_t> expected;
        AtomicFileWriter::Options options;
        options.pieceBytes = piece;
        fs::path seen;
        options.beforeReplace = [&](const fs::path& temporary) {
            seen = temporary;
            EXPECT_EQ(fileBytes(temporary), expected) << "complete before the rename";
        };
        AtomicFileWriter file(path, options);
        EXPECT_TRUE(isTemporaryNameOf(path, file.temporaryPath().filename().string()));
        for (std::size_t i = 0; i < sizes.size(); ++i) {
            const auto bytes = pattern(sizes[i], unsigned(i));
            expected.insert(expected.end(), bytes.begin(), bytes.end());
            if (i % 2 == 0) {
                file.write(bytes);
            } else {
                file.writeShared(SharedBytes(bytes));
            }
        }
        file.commit();
        EXPECT_EQ(seen, file.temporaryPath());
        EXPECT_EQ(fileBytes(path), expected);
        EXPECT_EQ(entries(folder.path()).size(), 1u) << "no temporary left";
    }
}

// A source that faults (a mapped file cut short) or a full disk fails the
// write with an error value; the file being replaced stays as it was.
TEST(AtomicFileWriterTest, FailedStreamKeepsTheOldFile) {
    testing::TemporaryFolder folder;
    const auto path = folder.path() / "doc.bin";
    const auto source = folder.path() / "source.bin";
    putFile(path, pattern(1000, 1));
    putFile(source, pattern(std::size_t(1) << 20, 2));
    // Bytes that fault when read: a mapping of a file since cut short.
    const std::size_t size = std::size_t(1) << 20;
    const int fd = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    void* address = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    ::close(fd);
    ASSERT_NE(address, MAP_FAILED);
    const SharedBytes mapped(std::shared_ptr<void>(address, [size](void* a) { ::munmap(a, size); }),
                             {static_cast<const std::uint8_t*>(address), size});
    ASSERT_EQ(::truncate(source.c_str(), 4096), 0);
    try {
        AtomicFileWriter file(path);
        file.write(pattern(10, 3));
        file.writeShared(mapped);
        file.commit();
        ADD_FAILURE() << "the write went through";
    } catch (const PropertyListError& error) {
        EXPECT_EQ(error.code(), PropertyListError::Code::fileError);
    }
    EXPECT_EQ(fileBytes(path), pattern(1000, 1));
    EXPECT_EQ(entries(folder.path()).size(), 2u) << "no temporary left";
}

// A save killed halfway leaves the old file whole, and its temporary, no
// longer locked, goes with the next save's clean-up.
TEST(AtomicFileWriterTest, KilledWriteLeavesTheOldFile) {
    // The writer runs in a fresh process, which runs this body again from the
    // start (a fork of this one, whose threads are gone, may not start more):
    // it finds the folder in the environment.
    constexpr const char* inheritedFolder = "VELMORA_KILLED_WRITE_FOLDER";
    std::optional<testing::TemporaryFolder> own;
    fs::path folder;
    if (const char* inherited = std::getenv(inheritedFolder)) {
        folder = inherited;
    } else {
        folder = own.emplace().path();
        ::setenv(inheritedFolder, folder.c_str(), 1);
        putFile(folder / "doc.bin", pattern(5000, 4));
    }
    const auto path = folder / "doc.bin";
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            AtomicFileWriter::Options options;
            options.pieceBytes = 65536;
            AtomicFileWriter file(path, options);
            const SharedBytes bytes(pattern(std::size_t(256) << 10, 5));
            file.writeShared(bytes);
            // Killed once the temporary has some of the bytes and more are queued.
            while (fs::file_size(file.temporaryPath()) == 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            for (int i = 0; i < 8; ++i) {
                file.writeShared(bytes);
            }
            ::kill(::getpid(), SIGKILL);
        },
        ::testing::KilledBySignal(SIGKILL), "");
    ::unsetenv(inheritedFolder);
    EXPECT_EQ(fileBytes(path), pattern(5000, 4));
    ASSERT_EQ(entries(folder).size(), 2u) << "the killed write's temporary";
    EXPECT_EQ(
        removeStaleTemporaries(path, std::chrono::system_clock::now() + std::chrono::seconds(1)),
        1u);
    EXPECT_EQ(entries(folder).size(), 1u);
}

// Bytes read from a file are the program's own: whatever then happens to the
// file (replaced by renaming, cut short, grown, written in place with its time
// put back), they and the views into them stay as they were read.
TEST(AtomicFileWriterTest, BytesReadFromAFileStayAsReadWhateverHappensToIt) {
    testing::TemporaryFolder folder;
    const auto path = folder.path() / "list.plist";
    const PropertyListObject list = PropertyListArray{SharedBytes(pattern(20 << 20, 6)), "text"};
    struct Case {
        const char* name;
        std::function<void()> change;
    };
    const Case cases[] = {
        {"replaced by renaming", [&] { BinaryPropertyList::writeFile(PropertyListArray{}, path); }},
        {"cut short", [&] { ASSERT_EQ(::truncate(path.c_str(), 100), 0); }},
        {"grown", [&] { std::ofstream(path, std::ios::app) << "more"; }},
        {"written in place",
         [&] {
             struct stat before {};
             ASSERT_EQ(::stat(path.c_str(), &before), 0);
             std::fstream out(path, std::ios::in | std::ios::out | std::ios::binary);
             out.seekp(200);
             out.write(std::string(4 << 20, 'x').data(), 4 << 20);
             out.close();
             const timespec times[2] = {before.st_atim, before.st_mtim};
             ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        BinaryPropertyList::writeFile(list, path);
        const auto written = fileBytes(path);
        const SharedBytes read = SharedBytes::readFile(path);
        ASSERT_EQ(read.toVector(), written);
        const PropertyListObject back = BinaryPropertyList::decode(read);
        const SharedBytes& data = *(*back.array())[0].data();
        ASSERT_TRUE(data.data() >= read.data() && data.data() < read.data() + read.size());
        c.change();
        EXPECT_EQ(read.toVector(), written);
        EXPECT_EQ(data, SharedBytes(pattern(20 << 20, 6)));
    }
    EXPECT_THROW(SharedBytes::readFile(folder.path() / "none"), std::system_error);
    EXPECT_THROW(SharedBytes::readFile(folder.path()), std::system_error);
}

} // namespace
} // namespace velmora
