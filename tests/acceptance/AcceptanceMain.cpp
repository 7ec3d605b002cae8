// The test build of the program: the program's own main() under another name,
// and a scenario thread started as the application object comes into being.
#include "acceptance/Driver.hpp"
#include "acceptance/Phases.hpp"

#include <QCoreApplication>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <thread>

int velmoraProgramMain(int argc, char** argv);

namespace {

using namespace velmora::acceptance;

std::thread scenario;
std::atomic<bool> finished{false};
std::atomic<int> failures{0};

void startScenario() {
    const char* phase = std::getenv("ACCEPTANCE_PHASE");
    const char* work = std::getenv("ACCEPTANCE_WORK");
    const char* shots = std::getenv("ACCEPTANCE_SHOTS");
    if (phase == nullptr || work == nullptr || shots == nullptr) {
        return;
    }
    scenario = std::thread(
        [phase = std::string(phase), work = std::string(work), shots = std::string(shots)] {
            Driver driver(work, shots, phase);
            runPhase(driver);
            failures = driver.failures();
            finished = true;
        });
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(startScenario)

int main(int argc, char** argv) {
    const int code = velmoraProgramMain(argc, argv);
    if (!scenario.joinable()) {
        return code;
    }
    for (int i = 0; i < 100 && !finished; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (!finished) {
        std::cerr << "FAIL: the program ended before its scenario did" << std::endl;
        std::_Exit(3);
    }
    scenario.join();
    std::cerr << "phase done: " << failures << " failure(s), exit code " << code << std::endl;
    return failures > 0 ? 1 : code;
}
