#pragma once

#include <functional>

namespace velmora {

// The system beep.
void NSBeep();

// Tests count beeps instead of sounding them; an empty handler restores the sound.
void setBeepHandler(std::function<void()> handler);

} // namespace velmora
