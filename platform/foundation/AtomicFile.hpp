#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string_view>

namespace velmora {

// Replaces `destination` by `bytes` through a temporary file in the same folder,
// flushed to disk before the rename, so readers see the old or the new file and
// never a truncated one. The file gets `permissions` (0600 by default). Throws
// std::system_error; on failure the destination is untouched.
// The temporary stays locked (flock) until it is renamed, which marks it as
// being written.
void writeFileAtomically(const std::filesystem::path& destination,
                         std::span<const std::uint8_t> bytes, unsigned permissions = 0600);

// The name of a temporary of a write of `destination`, beside it: "." + the
// destination's name + the program's mark ".velmora-save-" + `unique` (six
// letters or digits; "XXXXXX" for mkostemp). The mark is what no person and no
// other program writes, so that only this program's temporaries are ever taken
// for stale. A name too long for the file system is shortened in the
// destination's part.
std::filesystem::path temporaryPathOf(const std::filesystem::path& destination,
                                      std::string_view unique);

// Whether `name` is one temporaryPathOf gives a temporary of `destination`.
bool isTemporaryNameOf(const std::filesystem::path& destination, std::string_view name);

// Removes the temporaries that earlier writes of `destination` left when they
// were killed before their rename: files so named in its folder, regular,
// this user's own, last changed before `writeStarted` and not locked by a write
// still under way. Anything else is left alone; never throws. Answers how many
// went.
std::size_t removeStaleTemporaries(const std::filesystem::path& destination,
                                   std::chrono::system_clock::time_point writeStarted);

} // namespace velmora
