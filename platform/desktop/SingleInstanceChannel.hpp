#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QLocalServer;

namespace velmora {

// One program per user session. The first launch listens on a local socket; a
// later one hands it the files it was given (none: a reactivation) and ends,
// so that two programs never open or autosave the same file. Main thread only.
class SingleInstanceChannel {
public:
    // Absolute paths; empty for a reactivation.
    using Handler = std::function<void(std::vector<std::string> paths)>;

    explicit SingleInstanceChannel(std::filesystem::path socketPath);
    ~SingleInstanceChannel();
    SingleInstanceChannel(const SingleInstanceChannel&) = delete;
    SingleInstanceChannel& operator=(const SingleInstanceChannel&) = delete;

    // "velmora.socket" in $XDG_RUNTIME_DIR, else in Qt's runtime folder.
    static std::filesystem::path standardSocketPath();

    enum class Role { handedOver, listening, alone };
    // handedOver: a running program took `paths` within `timeout`; the caller
    // ends. Otherwise this program removes what a dead one left and listens
    // (alone when it cannot), and `handler` receives later launches' requests
    // from the event loop.
    Role start(const std::vector<std::string>& paths, Handler handler,
               std::chrono::milliseconds timeout = std::chrono::seconds(1));

    const std::filesystem::path& socketPath() const { return socketPath_; }

private:
    bool handOver(const std::vector<std::string>& paths, std::chrono::milliseconds timeout);
    bool listen();
    void acceptConnections();

    std::filesystem::path socketPath_;
    Handler handler_;
    std::unique_ptr<QLocalServer> server_;
};

} // namespace velmora
