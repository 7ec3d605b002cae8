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
#include <sys/wait.h>
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
    const SharedBytes mapped = SharedBytes::mapping(source);
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

// Views of a mapped file stay intact while it is replaced by renaming, and
// tell when it is cut short, grown or written into in place.
TEST(AtomicFileWriterTest, MappedBytesTellWhetherTheirFileChanged) {
    testing::TemporaryFolder folder;
    const auto path = folder.path() / "list.plist";
    const PropertyListObject list = PropertyListArray{SharedBytes(pattern(100000, 6)), "text"};
    struct Case {
        const char* name;
        std::function<void()> change;
        bool intact;
    };
    const Case cases[] = {
        {"replaced by renaming", [&] { BinaryPropertyList::writeFile(list, path); }, true},
        {"cut short", [&] { ASSERT_EQ(::truncate(path.c_str(), 100), 0); }, false},
        {"grown", [&] { std::ofstream(path, std::ios::app) << "more"; }, false},
        {"written in place",
         [&] {
             std::this_thread::sleep_for(std::chrono::milliseconds(20));
             std::fstream out(path, std::ios::in | std::ios::out | std::ios::binary);
             out.seekp(200);
             out.put('x');
         },
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        BinaryPropertyList::writeFile(list, path);
        const SharedBytes mapped = SharedBytes::mapping(path);
        const PropertyListObject back = BinaryPropertyList::decode(mapped);
        const SharedBytes& data = *(*back.array())[0].data();
        ASSERT_TRUE(data.data() >= mapped.data() && data.data() < mapped.data() + mapped.size());
        EXPECT_TRUE(data.isIntact());
        c.change();
        EXPECT_EQ(data.isIntact(), c.intact);
        EXPECT_EQ(mapped.isIntact(), c.intact);
        EXPECT_TRUE(SharedBytes(pattern(10, 1)).isIntact());
    }
}

} // namespace
} // namespace velmora
