#pragma once

namespace velmora {

// The user's answer to the question whether an opened flat image becomes a
// layered document.
enum class ConversionControllerResponse { convert, convertAlways, keep, keepAlways };

} // namespace velmora
