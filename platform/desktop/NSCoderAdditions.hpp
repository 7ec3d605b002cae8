#pragma once

#include "coding/KeyedArchiver.hpp"
#include "coding/KeyedUnarchiver.hpp"
#include "graphics/CGGeometry.hpp"
#include "graphics/NSColor.hpp"

#include <optional>
#include <string>
#include <string_view>

namespace velmora {

// Rectangles and colours in keyed archives, in the platform's forms: a
// rectangle as the text "{{x, y}, {w, h}}"; a colour as an "NSColor" record
// with "NSColorSpace" (1 generic RGB, 2 sRGB, 3 generic grey, 10 another
// space whose ICC profile is "NSICC") and its components as text ("NSRGB",
// "NSWhite" or "NSComponents").
std::string NSStringFromRect(const CGRect& rect);
// Nothing for any other text or numbers that are not finite.
std::optional<CGRect> NSRectFromString(std::string_view text);

void encodeRect(KeyedArchiver& archiver, const CGRect& rect, std::string_view key);
// Nothing for a missing key; a value of another form answers nothing and is
// kept as the unarchiver's error.
std::optional<CGRect> decodeRect(KeyedUnarchiver& unarchiver, std::string_view key);

void encodeColor(KeyedArchiver& archiver, const NSColor& color, std::string_view key);
// Nothing for a missing key or the null object; damaged colour records fail as above.
NSColorRef decodeColor(KeyedUnarchiver& unarchiver, std::string_view key);

} // namespace velmora
