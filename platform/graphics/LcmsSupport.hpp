#pragma once

#include <mutex>

namespace velmora::lcms {

// Installs a silent error handler once, so lcms2 never writes to stderr.
void setUp();

// lcms2 profiles are read lazily; making transforms from shared profiles is
// serialised by this lock.
std::mutex& transformCreationLock();

} // namespace velmora::lcms
