#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <thread>

namespace velmora::acceptance {

// The thread that plays a launch's part beside the program's own main thread.
class ScenarioThread {
public:
    // `play` returns how many checks failed.
    void start(std::function<int()> play);
    bool started() const { return thread_.joinable(); }
    // After the program's main() returned `code`: waits a little for the thread to
    // finish (ending the process at once if it does not) and gives the launch's
    // exit code. `what` names the part in the messages.
    int finish(int code, const std::string& what);

private:
    std::thread thread_;
    std::atomic<bool> finished_{false};
    std::atomic<int> failures_{0};
};

} // namespace velmora::acceptance
