#include "desktop/VersionStore.hpp"
#include "desktop/VersionStoreFiles.hpp"
#include "foundation/AtomicFile.hpp"

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace velmora;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

using TimePoint = std::chrono::system_clock::time_point;

class VersionStoreTest : public ::testing::Test {
protected:
    VersionStoreTest() {
        std::string pattern = (fs::temp_directory_path() / "velmora-versions-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::abort();
        }
        scratch = pattern;
        fs::create_directories(scratch / "Documents");
    }
    ~VersionStoreTest() override {
        std::error_code ignored;
        fs::remove_all(scratch, ignored);
    }

    VersionStore::Options options(bool attributes = true) {
        VersionStore::Options o;
        o.clock = [this] { return clock; };
        o.extendedAttributes = attributes;
        return o;
    }
    fs::path storeFolder() const { return scratch / "data" / "velmora" / "Versions"; }
    URL document(const std::string& name) const {
        return URL::fileURL(scratch / "Documents" / name, false);
    }

    // A save of `text` whose file then says it was saved at `savedAt`.
    static void save(VersionStore& store, const URL& url, const std::string& text,
                     TimePoint savedAt) {
        store.replaceFile(
            url, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
        setSavedAt(url.filePath(), savedAt);
    }
    static void setSavedAt(const fs::path& path, TimePoint savedAt) {
        const auto ns =
            std::chrono::duration_cast<std::chrono::nanoseconds>(savedAt.time_since_epoch())
                .count();
        const timespec times[2] = {{0, UTIME_OMIT},
                                   {time_t(ns / 1'000'000'000), long(ns % 1'000'000'000)}};
        ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    }
    static std::string contents(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        std::string text(fs::is_regular_file(path) ? fs::file_size(path) : 0, '\0');
        in.read(text.data(), std::streamsize(text.size()));
        return text;
    }
    static std::vector<std::string> texts(const std::vector<DocumentVersion>& versions) {
        std::vector<std::string> out;
        for (const auto& version : versions) {
            out.push_back(contents(version.url.filePath()));
        }
        return out;
    }

    fs::path scratch;
    TimePoint clock = TimePoint(std::chrono::days(20000) + 12h);
};

} // namespace

TEST_F(VersionStoreTest, KeepsEachSavedStateNewestFirstWithItsSaveTime) {
    VersionStore store(storeFolder(), options());
    const URL url = document("Picture.velmora");
    EXPECT_FALSE(store.keepVersion(url)); // nothing to keep before the first save
    save(store, url, "one", clock - 30min);
    save(store, url, "two", clock - 20min);
    save(store, url, "three", clock - 10min);
    // Keeping the same state twice keeps it once.
    const auto kept = store.keepVersion(url);
    ASSERT_TRUE(kept);
    // A copy of its own: the document written into in place leaves it as kept.
    EXPECT_FALSE(fs::equivalent(kept->url.filePath(), url.filePath()));
    std::fstream(url.filePath(), std::ios::in | std::ios::out | std::ios::binary) << "THR";
    EXPECT_EQ(contents(kept->url.filePath()), "three");
    std::fstream(url.filePath(), std::ios::in | std::ios::out | std::ios::binary) << "thr";
    setSavedAt(url.filePath(), clock - 10min);
    EXPECT_EQ(store.keepVersion(url), kept);
    EXPECT_FALSE(store.keepVersion(kept->url)); // a version is no document of its own

    const auto versions = store.versions(url);
    EXPECT_EQ(texts(versions), (std::vector<std::string>{"three", "two", "one"}));
    ASSERT_EQ(versions.size(), 3u);
    EXPECT_EQ(versions[0].savedAt, clock - 10min);
    EXPECT_EQ(versions[2].savedAt, clock - 30min);
    EXPECT_EQ(versions[1].size, 3u);
    EXPECT_EQ(versions[0].url.pathExtension(), "velmora");
    EXPECT_FALSE(versions[0].isDamaged);
    EXPECT_EQ(contents(url.filePath()), "three");
    EXPECT_EQ(store.totalSize(), 11u);

    // A store that cannot keep a version says so, and saving goes on without it.
    std::ofstream(scratch / "blocked") << "a file where a folder should be";
    VersionStore blocked(scratch / "blocked" / "Versions", options());
    EXPECT_THROW(blocked.keepVersion(url), std::system_error);
    save(blocked, url, "four", clock);
    EXPECT_EQ(contents(url.filePath()), "four");

    // The folders the store made are private.
    for (const fs::path& folder : {storeFolder(), storeFolder().parent_path()}) {
        struct stat status {};
        ASSERT_EQ(::stat(folder.c_str(), &status), 0);
        EXPECT_EQ(status.st_mode & 0777, 0700u) << folder;
    }
}

TEST_F(VersionStoreTest, HistoryFollowsTheDocumentThroughRenamesAndMoves) {
    struct Case {
        std::string name;
        bool attributes;
        bool hiddenTemporary; // the writer renames its own temporary file
    };
    for (const Case& c :
         {Case{"identity attribute", true, false}, Case{"recorded stamps only", false, false},
          Case{"writer hides its temporary file", true, true},
          Case{"hidden temporary file, no attributes", false, true}}) {
        SCOPED_TRACE(c.name);
        VersionStore store(storeFolder() / c.name, options(c.attributes));
        const auto saveAs = [&](const URL& url, const std::string& text, TimePoint savedAt) {
            if (!c.hiddenTemporary) {
                return save(store, url, text, savedAt);
            }
            store.keepVersion(url);
            writeFileAtomically(
                url.filePath(),
                std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
            store.adoptIdentity(url);
            setSavedAt(url.filePath(), savedAt);
        };
        const URL first = document(c.name + " a.velmora");
        const URL other = document(c.name + " b.velmora");
        saveAs(first, "a1", clock - 50min);
        saveAs(first, "a2", clock - 40min);
        saveAs(other, "b1", clock - 50min);

        fs::create_directories(scratch / "Documents" / "Moved");
        const URL renamed = URL::fileURL(scratch / "Documents" / "Moved" / (c.name + " c.velmora"));
        fs::rename(first.filePath(), renamed.filePath());
        EXPECT_EQ(texts(store.versions(renamed)), std::vector<std::string>{"a1"});
        EXPECT_TRUE(store.versions(first).empty());

        saveAs(renamed, "a3", clock - 30min);
        EXPECT_EQ(texts(store.versions(renamed)), (std::vector<std::string>{"a2", "a1"}));
        // Another program writes a new file in its place, without the attribute.
        fs::remove(renamed.filePath());
        std::ofstream(renamed.filePath()) << "outside";
        saveAs(renamed, "a4", clock - 10min);
        // "a3" went without a save through the store: it has no version.
        EXPECT_EQ(texts(store.versions(renamed)),
                  (std::vector<std::string>{"outside", "a2", "a1"}));
        EXPECT_TRUE(store.versions(other).empty());
    }
}

TEST_F(VersionStoreTest, CopyCarryingTheIdentityStartsAHistoryOfItsOwn) {
    VersionStore store(storeFolder(), options());
    const URL original = document("Original.velmora");
    save(store, original, "o1", clock - 50min);
    save(store, original, "o2", clock - 40min);
    // As a copy that keeps extended attributes would.
    const URL copy = document("Copy.velmora");
    fs::copy_file(original.filePath(), copy.filePath());
    ASSERT_TRUE(VersionStoreFiles::writeIdentity(
        copy.filePath(), *VersionStoreFiles::readIdentity(original.filePath())));
    EXPECT_TRUE(store.versions(copy).empty());

    save(store, copy, "c1", clock - 30min);
    save(store, original, "o3", clock - 20min);
    EXPECT_EQ(texts(store.versions(copy)), std::vector<std::string>{"o2"});
    EXPECT_EQ(texts(store.versions(original)), (std::vector<std::string>{"o2", "o1"}));
}

TEST_F(VersionStoreTest, ThinsByTheInjectedClock) {
    VersionStore store(storeFolder(), options());
    const URL url = document("Day.velmora");
    const TimePoint day = TimePoint(std::chrono::days(20000));
    clock = day + 12h + 30min;
    for (const auto time :
         {9h + 10min, 9h + 40min, 10h + 20min, 11h + 50min, 12h + 10min, 12h + 20min}) {
        save(store, url, std::to_string(time.count()), day + time);
    }
    const auto minutes = [&] {
        std::vector<std::chrono::minutes> out;
        for (const auto& version : store.versions(url)) {
            out.push_back(std::chrono::duration_cast<std::chrono::minutes>(version.savedAt - day));
        }
        return out;
    };
    EXPECT_EQ(minutes(), (std::vector<std::chrono::minutes>{12h + 10min, 11h + 50min, 10h + 20min,
                                                            9h + 40min}));
    clock += 48h;
    store.thin();
    EXPECT_EQ(minutes(), std::vector<std::chrono::minutes>{12h + 10min});
    clock += 60 * 24h;
    store.thin();
    EXPECT_EQ(minutes(), std::vector<std::chrono::minutes>{12h + 10min});
}

TEST_F(VersionStoreTest, SizeLimitRemovesTheOldestOfAnyDocumentFirst) {
    VersionStore::Options o = options();
    o.sizeLimit = 10;
    VersionStore store(storeFolder(), o);
    const URL a = document("A.png");
    const URL b = document("B.png");
    save(store, a, "aaaa", clock - 50min);
    save(store, b, "bbbb", clock - 45min);
    save(store, a, "AAAA", clock - 40min);
    save(store, b, "BBBB", clock - 35min);
    save(store, a, "a", clock - 30min); // keeps "AAAA": 4 + 4 + 4 > 10
    EXPECT_EQ(texts(store.versions(a)), std::vector<std::string>{"AAAA"});
    EXPECT_EQ(texts(store.versions(b)), std::vector<std::string>{"bbbb"});
    EXPECT_LE(store.totalSize(), 10u);

    // A version alone over the limit stays until a newer one is kept.
    o.sizeLimit = 2;
    VersionStore tight(storeFolder(), o);
    save(tight, b, "b", clock - 20min);
    EXPECT_EQ(texts(tight.versions(b)), std::vector<std::string>{"BBBB"});
    EXPECT_TRUE(tight.versions(a).empty());
    save(tight, b, "bb", clock - 10min);
    EXPECT_EQ(texts(tight.versions(b)), std::vector<std::string>{"b"});
}

TEST_F(VersionStoreTest, DamagedVersionsAreListedWithTheirError) {
    VersionStore store(storeFolder(), options());
    const URL url = document("Damaged.tiff");
    int minute = 0;
    for (const std::string state : {"whole", "cut short", "rewritten", "folder", "dangling"}) {
        save(store, url, state, clock - 50min + std::chrono::minutes(++minute));
    }
    save(store, url, "current", clock - 1min);
    auto versions = store.versions(url); // newest first: dangling .. whole
    ASSERT_EQ(versions.size(), 5u);
    const fs::path dangling = versions[0].url.filePath();
    fs::remove(dangling);
    fs::create_symlink(scratch / "nowhere", dangling);
    fs::remove(versions[1].url.filePath());
    fs::create_directory(versions[1].url.filePath());
    std::ofstream(versions[2].url.filePath(), std::ios::trunc) << "REWRITTEN"; // same size
    fs::resize_file(versions[3].url.filePath(), 3);
    std::ofstream(dangling.parent_path() / "notes.txt") << "not a version";
    std::ofstream(dangling.parent_path() / "document", std::ios::trunc) << "garbage";

    versions = store.versions(url);
    ASSERT_EQ(versions.size(), 5u);
    for (const auto& version : versions) {
        const bool whole = &version == &versions.back();
        EXPECT_EQ(version.isDamaged, !whole) << version.url.path();
        EXPECT_EQ(version.error.empty(), whole) << version.error;
    }
    // Keeping versions goes on around the damage.
    save(store, url, "next", clock);
    EXPECT_EQ(contents(store.versions(url).front().url.filePath()), "current");
}

namespace {

// Runs `work` in a child process and kills it with SIGKILL once it writes a
// byte to the descriptor it is given and `beforeKill` has returned.
void killChildDuring(const std::function<void(int report)>& work,
                     const std::function<void()>& beforeKill) {
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(pipeFds[0]);
        try {
            work(pipeFds[1]);
        } catch (...) {
            ::_exit(2);
        }
        for (;;) {
            ::pause();
        }
    }
    ::close(pipeFds[1]);
    pollfd ready{pipeFds[0], POLLIN, 0};
    const bool reported = ::poll(&ready, 1, 30'000) == 1 && (ready.revents & POLLIN) != 0;
    if (reported) {
        beforeKill();
    }
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    ::close(pipeFds[0]);
    ASSERT_TRUE(reported) << "the child never reached the point to kill it at";
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
}

void report(int fd) {
    const char byte = 1;
    if (::write(fd, &byte, 1) != 1) {
        ::_exit(3);
    }
}

bool hasUnfinishedCopy(const fs::path& store) {
    std::error_code error;
    for (fs::recursive_directory_iterator it(store, error), end; !error && it != end;
         it.increment(error)) {
        if (it->path().filename().string().starts_with(VersionStoreFiles::temporaryPrefix)) {
            return true;
        }
    }
    return false;
}

} // namespace

TEST_F(VersionStoreTest, KilledSaveLeavesTheFileAndItsVersionWhole) {
    struct Case {
        std::string name;
        bool killWhileKeeping; // else while the save writes its temporary file
    };
    const std::string previous(32 << 20, 'p');
    for (const Case& c : {Case{"save killed, version copied", false},
                          Case{"killed while copying the version", true}}) {
        SCOPED_TRACE(c.name);
        const fs::path folder = storeFolder() / c.name;
        VersionStore store(folder, options());
        const URL url = document(c.name + ".velmora");
        save(store, url, "older", clock - 20min);
        save(store, url, previous, clock - 10min);
        bool sawUnfinishedCopy = false;
        killChildDuring(
            [&](int reportFd) {
                VersionStore child(folder, options());
                if (c.killWhileKeeping) {
                    report(reportFd);
                }
                child.keepVersion(url);
                const std::string next(previous.size(), 'n');
                const fs::path temporary = url.filePath().string() + ".tmp";
                const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
                if (fd < 0 || ::write(fd, next.data(), next.size() / 2) <= 0) {
                    ::_exit(4);
                }
                report(reportFd);
            },
            [&] {
                const auto deadline = std::chrono::steady_clock::now() + 5s;
                while (c.killWhileKeeping && !sawUnfinishedCopy &&
                       std::chrono::steady_clock::now() < deadline) {
                    sawUnfinishedCopy = hasUnfinishedCopy(folder);
                }
            });
        EXPECT_EQ(contents(url.filePath()), previous);
        const auto versions = store.versions(url);
        for (const auto& version : versions) {
            EXPECT_FALSE(version.isDamaged) << version.error;
        }
        const auto kept = texts(versions);
        if (c.killWhileKeeping) {
            // Killed mid-copy or just after: no new version, or a whole one.
            EXPECT_TRUE(kept == std::vector<std::string>{"older"} ||
                        kept == (std::vector<std::string>{previous, "older"}));
            store.thin();
            EXPECT_FALSE(hasUnfinishedCopy(folder));
            RecordProperty("sawUnfinishedCopy", sawUnfinishedCopy ? "yes" : "no");
        } else {
            EXPECT_EQ(kept, (std::vector<std::string>{previous, "older"}));
        }
    }
}

TEST(VersionStoreFolder, FollowsXDGAndStaysOutOfTheUsersDataUnderTest) {
    const std::vector<std::string> names = {"VELMORA_TEST", "XDG_DATA_HOME", "HOME"};
    std::vector<std::optional<std::string>> saved;
    for (const auto& name : names) {
        const char* value = std::getenv(name.c_str());
        saved.push_back(value ? std::optional<std::string>(value) : std::nullopt);
    }
    const std::vector<std::pair<std::vector<const char*>, std::optional<fs::path>>> cases = {
        {{"1", "/data", "/home/artist"}, std::nullopt},
        {{nullptr, "/data", "/home/artist"}, "/data/velmora/Versions"},
        {{nullptr, "data", "/home/artist"}, "/home/artist/.local/share/velmora/Versions"},
        {{nullptr, nullptr, "/home/artist"}, "/home/artist/.local/share/velmora/Versions"},
    };
    const auto set = [&](std::size_t i, const char* value) {
        value ? ::setenv(names[i].c_str(), value, 1) : ::unsetenv(names[i].c_str());
    };
    for (const auto& [values, folder] : cases) {
        for (std::size_t i = 0; i < names.size(); ++i) {
            set(i, values[i]);
        }
        EXPECT_EQ(VersionStore::standardFolder(), folder) << (values[1] ? values[1] : "unset");
    }
    for (std::size_t i = 0; i < names.size(); ++i) {
        set(i, saved[i] ? saved[i]->c_str() : nullptr);
    }
}
