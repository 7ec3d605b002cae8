#include "graphics/LcmsSupport.hpp"

#include <lcms2.h>

namespace velmora::lcms {

void setUp() {
    static std::once_flag once;
    std::call_once(once,
                   [] { cmsSetLogErrorHandler([](cmsContext, cmsUInt32Number, const char*) {}); });
}

std::mutex& transformCreationLock() {
    static std::mutex lock;
    return lock;
}

} // namespace velmora::lcms
