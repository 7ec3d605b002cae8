#pragma once

#include <string>

namespace velmora {

// printf into a string with the "C" locale's numbers whatever the user's locale
// (a decimal point, no grouping): texts that are stored, logged or compared must
// not change with the desktop's language.
std::string cFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));

} // namespace velmora
