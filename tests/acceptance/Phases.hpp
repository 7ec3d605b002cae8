#pragma once

namespace velmora::acceptance {

class Driver;

// The phase named by the driver, each one launch of the program.
void runPhase(Driver& driver);

void sessionPhase(Driver& driver);

} // namespace velmora::acceptance
