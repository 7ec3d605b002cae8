#pragma once

#include "XObserver.hpp"

#include <string>

namespace velmora::acceptance {

class Driver;

// One launch of the program, measured; figures are printed as
// "RESULT <name> <value>" lines for the script that runs the launches.
void startupPhase(Driver& driver, XObserver& observer, XObserver::Clock::time_point spawned);
void documentPhase(Driver& driver, XObserver& observer, const std::string& file);

} // namespace velmora::acceptance
