#pragma once

#include <cstdint>
#include <filesystem>
#include <span>

namespace velmora {

// Replaces `destination` by `bytes` through a temporary file in the same folder,
// flushed to disk before the rename, so readers see the old or the new file and
// never a truncated one. The file gets `permissions` (0600 by default). Throws
// std::system_error; on failure the destination is untouched.
void writeFileAtomically(const std::filesystem::path& destination,
                         std::span<const std::uint8_t> bytes, unsigned permissions = 0600);

} // namespace velmora
