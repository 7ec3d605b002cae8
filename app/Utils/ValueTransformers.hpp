#pragma once

#include <any>

namespace velmora {

// Registers the panels' transformers under their class names: a new
// "PercentTransformer", "PixelTransformer" and "LogarithmicTransformer".
// Called once at start-up, before any panel is loaded.
void registerValueTransformers();

// Shared by the percent and pixel transformers: the text of the integer
// nearest to a number's 32-bit value times `factor`, "???" for anything else
// (also for a product that is not finite or that no 64-bit integer holds).
std::any integerTextOfNumber(const std::any& value, float factor);
// A number or a number's text, as a 32-bit float divided by `divisor`;
// nothing for other values and unreadable text.
std::any numberOfNumberOrText(const std::any& value, float divisor);

} // namespace velmora
