#include "desktop/SingleInstanceChannel.hpp"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <atomic>
#include <gtest/gtest.h>
#include <optional>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

using namespace velmora;
using namespace std::chrono_literals;
using Role = SingleInstanceChannel::Role;

namespace {

// A later launch, from a thread of its own so that this one's loop can answer.
Role launch(const std::filesystem::path& socket, const std::vector<std::string>& paths,
            std::vector<std::vector<std::string>>* received = nullptr) {
    std::atomic<bool> done = false;
    std::optional<Role> role;
    std::thread other([&] {
        SingleInstanceChannel channel(socket);
        role = channel.start(paths, [](std::vector<std::string>) {});
        done = true;
    });
    QElapsedTimer waited;
    waited.start();
    while (!done || (received && received->empty() && waited.elapsed() < 30000)) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    other.join();
    return *role;
}

// A socket file bound by a process that is gone (never listening), or one
// that listens and never answers.
int boundSocket(const std::filesystem::path& path, bool listening) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    if (listening) {
        EXPECT_EQ(::listen(fd, 4), 0);
    }
    return fd;
}

} // namespace

TEST(SingleInstanceChannel, LaterLaunchesHandTheirFilesOrAReactivationToTheFirst) {
    QTemporaryDir folder;
    const auto socket = std::filesystem::path(folder.path().toStdString()) / "velmora.socket";
    std::vector<std::vector<std::string>> received;
    SingleInstanceChannel first(socket);
    ASSERT_EQ(first.start({}, [&](std::vector<std::string> paths) { received.push_back(paths); }),
              Role::listening);

    const std::vector<std::vector<std::string>> launches = {
        {"/art/Sketch.velmora"},
        {"/art/a b.png", "/art/ünï.tiff"},
        {},
    };
    for (const auto& paths : launches) {
        received.clear();
        EXPECT_EQ(launch(socket, paths, &received), Role::handedOver);
        EXPECT_EQ(received, std::vector<std::vector<std::string>>{paths});
    }
}

TEST(SingleInstanceChannel, ASocketNobodyAnswersDoesNotStopALaunch) {
    struct Case {
        const char* name;
        bool listening;
    };
    for (const Case& c : {Case{"left by a dead program", false}, Case{"never answered", true}}) {
        SCOPED_TRACE(c.name);
        QTemporaryDir folder;
        const auto socket = std::filesystem::path(folder.path().toStdString()) / "velmora.socket";
        const int stale = boundSocket(socket, c.listening);
        QElapsedTimer started;
        started.start();
        std::vector<std::vector<std::string>> received;
        SingleInstanceChannel channel(socket);
        EXPECT_EQ(channel.start(
                      {"/a.png"},
                      [&](std::vector<std::string> paths) { received.push_back(paths); }, 300ms),
                  Role::listening);
        // Given up on after its timeout, not waited on (a loaded machine may
        // take a few times the timeout to get there).
        EXPECT_LT(started.elapsed(), 20000);
        ::close(stale);
        // The socket is this program's now: the next launch reaches it.
        EXPECT_EQ(launch(socket, {"/b.png"}, &received), Role::handedOver);
        EXPECT_EQ(received, std::vector<std::vector<std::string>>{{"/b.png"}});
    }
}
