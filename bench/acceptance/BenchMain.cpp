// The benchmark build of the program: its own main() under another name, an
// X observer started as the application object comes into being (before any
// window exists) and a thread that plays and times the launch's part.
#include "BenchPhases.hpp"
#include "MakeDocument.hpp"
#include "XObserver.hpp"
#include "acceptance/Driver.hpp"
#include "acceptance/ScenarioThread.hpp"
#include "desktop/NSApplication.hpp"

#include <QCoreApplication>
#include <X11/Xlib.h>
#include <cstdlib>
#include <iostream>
#include <string_view>

int velmoraProgramMain(int argc, char** argv);

namespace {

using namespace velmora;
using namespace velmora::acceptance;

ScenarioThread scenario;
XObserver* observer = nullptr;

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

void startScenario() {
    const std::string phase = environment("BENCH_PHASE");
    if (phase.empty()) {
        return;
    }
    // The process's start as the launching script saw it, on the same clock.
    const XObserver::Clock::time_point spawned{
        std::chrono::nanoseconds(std::atoll(environment("BENCH_SPAWNED_NS").c_str()))};
    observer = new XObserver; // leaked: it watches until the process ends
    if (!observer->start()) {
        std::cerr << "FAIL: no X display with the damage extension" << std::endl;
        std::_Exit(2);
    }
    scenario.start([phase, spawned] {
        Driver driver(environment("BENCH_WORK"), environment("BENCH_SHOTS"), phase);
        driver.waitUntil([] { return NSApplication::shared().isRunning(); }, 60);
        if (phase == "startup") {
            startupPhase(driver, *observer, spawned);
        } else {
            documentPhase(driver, *observer, environment("BENCH_DOCUMENT"));
        }
        return driver.failures();
    });
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(startScenario)

int main(int argc, char** argv) {
    if (argc == 3 && std::string_view(argv[1]) == "--make-document") {
        return makeDocument(argv[2]);
    }
    // Two threads of this process talk to the X server through Xlib.
    XInitThreads();
    const int code = velmoraProgramMain(argc, argv);
    if (!scenario.started()) {
        return code;
    }
    // The observer's thread is left to the process's end.
    const int result = scenario.finish(code, "launch");
    std::cout.flush();
    std::_Exit(result);
}
