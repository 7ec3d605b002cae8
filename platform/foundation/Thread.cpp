#include "foundation/Thread.hpp"

#include <pthread.h>
#include <string>
#include <sys/syscall.h>
#include <unistd.h>

namespace velmora {

bool Thread::isMainThread() {
    static thread_local const bool isMain = ::syscall(SYS_gettid) == ::getpid();
    return isMain;
}

void Thread::setCurrentName(std::string_view name) {
    const std::string shortName(name.substr(0, 15));
    ::pthread_setname_np(::pthread_self(), shortName.c_str());
}

} // namespace velmora
