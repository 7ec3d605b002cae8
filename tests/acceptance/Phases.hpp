#pragma once

#include <string>

namespace velmora::acceptance {

class Driver;

// The phase named by the driver, each one launch of the program.
void runPhase(Driver& driver);

void sessionPhase(Driver& driver);
void relaunchPhase(Driver& driver);
void crashPhase(Driver& driver);
void afterCrashPhase(Driver& driver);
void killPhase(Driver& driver);
void afterKillPhase(Driver& driver);
void autosaveKillPhase(Driver& driver);
void afterAutosaveKillPhase(Driver& driver);
// Under a window manager only.
void windowsFirstRunPhase(Driver& driver);
void windowsRelaunchPhase(Driver& driver);
void lifecyclePhase(Driver& driver);

// The tool, colour, brush and panel frames, as text (main thread).
std::string interfaceState();

} // namespace velmora::acceptance
