#include "acceptance/Phases.hpp"

#include "acceptance/Driver.hpp"
#include "desktop/NSApplication.hpp"

#include <map>
#include <string>

namespace velmora::acceptance {

void runPhase(Driver& driver) {
    static const std::map<std::string, void (*)(Driver&)> phases = {
        {"session", sessionPhase},
        {"relaunch", relaunchPhase},
        {"crash", crashPhase},
        {"after-crash", afterCrashPhase},
        {"kill", killPhase},
        {"after-kill", afterKillPhase},
        {"autosave-kill", autosaveKillPhase},
        {"after-autosave-kill", afterAutosaveKillPhase},
        {"windows-first-run", windowsFirstRunPhase},
        {"windows-relaunch", windowsRelaunchPhase},
        {"lifecycle", lifecyclePhase},
    };
    const auto phase = phases.find(driver.phase());
    if (!driver.check(phase != phases.end(), "phase " + driver.phase() + " exists") ||
        !driver.check(driver.waitUntil([] { return NSApplication::shared().isRunning(); }, 60),
                      "the program runs its event loop")) {
        driver.post([] { NSApplication::shared().terminate(); });
        return;
    }
    driver.pause(1.0);
    phase->second(driver);
}

} // namespace velmora::acceptance
