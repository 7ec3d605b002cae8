#pragma once

#include "desktop/NSModalResponse.hpp"
#include "foundation/CrashReportStore.hpp"

#include <optional>

namespace velmora {

// The question put when reports of an earlier crash wait: "Always send",
// "Send" or "Don't send". The handler always answers that it asks, runs the
// alert and passes the answer to the crash reporter; no button leaves the
// reports pending.
UserConfirmationHandler makeCrashConfirmationHandler();

// The answer an alert response gives; none for a response outside the three buttons.
std::optional<UserConfirmation> crashConfirmation(NSModalResponse response);

} // namespace velmora
