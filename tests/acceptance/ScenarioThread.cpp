#include "ScenarioThread.hpp"

#include <chrono>
#include <cstdlib>
#include <iostream>

namespace velmora::acceptance {

void ScenarioThread::start(std::function<int()> play) {
    thread_ = std::thread([this, play = std::move(play)] {
        failures_ = play();
        finished_ = true;
    });
}

int ScenarioThread::finish(int code, const std::string& what) {
    for (int i = 0; i < 100 && !finished_; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (!finished_) {
        std::cerr << "FAIL: the program ended before its " << what << " did" << std::endl;
        std::_Exit(3);
    }
    thread_.join();
    std::cerr << what << " done: " << failures_ << " failure(s), exit code " << code << std::endl;
    return failures_ > 0 ? 1 : code;
}

} // namespace velmora::acceptance
