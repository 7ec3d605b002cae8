#include "foundation/FatalError.hpp"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace velmora {

namespace {

// Preallocated: the crash handler reads it after abort, when nothing may allocate.
char lastMessage[2048];
std::atomic<std::size_t> lastMessageLength{0};
std::atomic_flag messageClaimed = ATOMIC_FLAG_INIT;

void recordMessage(std::string_view message, const std::source_location& where) {
    // The first failure explains the crash; later ones (other threads) are echoes.
    if (messageClaimed.test_and_set()) {
        return;
    }
    const int prefix =
        std::snprintf(lastMessage, sizeof lastMessage, "%s:%u: Fatal error: ", where.file_name(),
                      static_cast<unsigned>(where.line()));
    std::size_t length = prefix < 0 ? 0 : std::min<std::size_t>(prefix, sizeof lastMessage - 1);
    const std::size_t copied = std::min(message.size(), sizeof lastMessage - 1 - length);
    std::copy_n(message.data(), copied, lastMessage + length);
    length += copied;
    lastMessage[length] = '\0';
    lastMessageLength.store(length, std::memory_order_release);
}

} // namespace

std::string_view lastFatalErrorMessage() noexcept {
    return {lastMessage, lastMessageLength.load(std::memory_order_acquire)};
}

void fatalError(std::string_view message, std::source_location where) {
    recordMessage(message, where);
    std::fflush(stdout);
    std::fprintf(stderr, "%s:%u: Fatal error: %.*s\n", where.file_name(),
                 static_cast<unsigned>(where.line()), static_cast<int>(message.size()),
                 message.data());
    std::fflush(stderr);
    std::abort();
}

} // namespace velmora
