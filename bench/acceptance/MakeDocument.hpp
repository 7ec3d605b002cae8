#pragma once

#include <string>

namespace velmora::acceptance {

// Writes the benchmark's document: an 8000 × 8000 canvas of ten painted layers.
int makeDocument(const std::string& file);

} // namespace velmora::acceptance
