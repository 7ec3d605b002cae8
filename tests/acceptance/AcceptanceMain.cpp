// The test build of the program: the program's own main() under another name,
// and a scenario thread started as the application object comes into being.
#include "acceptance/Driver.hpp"
#include "acceptance/Phases.hpp"
#include "acceptance/ScenarioThread.hpp"

#include <QCoreApplication>
#include <cstdlib>
#include <string>

int velmoraProgramMain(int argc, char** argv);

namespace {

using namespace velmora::acceptance;

ScenarioThread scenario;

void startScenario() {
    const char* phase = std::getenv("ACCEPTANCE_PHASE");
    const char* work = std::getenv("ACCEPTANCE_WORK");
    const char* shots = std::getenv("ACCEPTANCE_SHOTS");
    if (phase == nullptr || work == nullptr || shots == nullptr) {
        return;
    }
    scenario.start(
        [phase = std::string(phase), work = std::string(work), shots = std::string(shots)] {
            Driver driver(work, shots, phase);
            runPhase(driver);
            return driver.failures();
        });
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(startScenario)

int main(int argc, char** argv) {
    const int code = velmoraProgramMain(argc, argv);
    return scenario.started() ? scenario.finish(code, "phase") : code;
}
