#include "Rendering/Brush.hpp"

#include "coding/Coding.hpp"
#include "foundation/NumberText.hpp"

#include <cmath>
#include <unicode/normalizer2.h>
#include <unicode/unistr.h>
#include <utility>

namespace velmora {

namespace {

constexpr const char* kKeys[] = {"uuid",
                                 "name",
                                 "size",
                                 "hardness",
                                 "opacity",
                                 "spacing",
                                 "sizeDependsOnPressure",
                                 "opacityDependsOnPressure",
                                 "sizeMinRatio",
                                 "opacityMinRatio",
                                 "stabilization"};

bool canonicallyEquivalent(const std::string& a, const std::string& b) {
    if (a == b) {
        return true;
    }
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfd = icu::Normalizer2::getNFDInstance(status);
    if (U_FAILURE(status)) {
        return false;
    }
    const icu::UnicodeString na = nfd->normalize(icu::UnicodeString::fromUTF8(a), status);
    const icu::UnicodeString nb = nfd->normalize(icu::UnicodeString::fromUTF8(b), status);
    return U_SUCCESS(status) && na == nb;
}

std::string floatText(float v) {
    return shortestNumberText(v);
}

} // namespace

Brush::Brush(UUID uuid, std::string name, float size, float hardness, float opacity, float spacing,
             bool sizeDependsOnPressure, bool opacityDependsOnPressure, float sizeMinRatio,
             float opacityMinRatio, std::uint64_t stabilization)
    : uuid(uuid), name(std::move(name)), size(size), hardness(hardness), opacity(opacity),
      spacing(spacing), sizeDependsOnPressure(sizeDependsOnPressure),
      opacityDependsOnPressure(opacityDependsOnPressure), sizeMinRatio(sizeMinRatio),
      opacityMinRatio(opacityMinRatio), stabilization(stabilization) {}

bool operator==(const Brush& a, const Brush& b) {
    return a.uuid == b.uuid && canonicallyEquivalent(a.name, b.name) && a.size == b.size &&
           a.hardness == b.hardness && a.opacity == b.opacity && a.spacing == b.spacing &&
           a.sizeDependsOnPressure == b.sizeDependsOnPressure &&
           a.opacityDependsOnPressure == b.opacityDependsOnPressure &&
           a.sizeMinRatio == b.sizeMinRatio && a.opacityMinRatio == b.opacityMinRatio &&
           a.stabilization == b.stabilization;
}

std::string Brush::description() const {
    const auto flag = [](bool v) { return v ? "true" : "false"; };
    return "Brush(uuid: " + uuid.uuidString() + ", name: \"" + name +
           "\", size: " + floatText(size) + ", hardness: " + floatText(hardness) +
           ", opacity: " + floatText(opacity) + ", spacing: " + floatText(spacing) +
           ", sizeDependsOnPressure: " + flag(sizeDependsOnPressure) +
           ", opacityDependsOnPressure: " + flag(opacityDependsOnPressure) +
           ", sizeMinRatio: " + floatText(sizeMinRatio) +
           ", opacityMinRatio: " + floatText(opacityMinRatio) +
           ", stabilization: " + std::to_string(stabilization) + ")";
}

void Brush::encode(Encoder& encoder) const {
    KeyedEncodingContainer container = encoder.container();
    const auto number = [&](float v, const char* key) {
        if (!std::isfinite(v)) {
            CodingPath path = container.codingPath();
            path.push_back(CodingKey(key));
            throw EncodingError::invalidValue(floatText(v),
                                              {path, "A brush holds only finite numbers."});
        }
        container.encode(v, key);
    };
    container.encode(uuid.uuidString(), kKeys[0]);
    container.encode(name, kKeys[1]);
    number(size, kKeys[2]);
    number(hardness, kKeys[3]);
    number(opacity, kKeys[4]);
    number(spacing, kKeys[5]);
    container.encode(sizeDependsOnPressure, kKeys[6]);
    container.encode(opacityDependsOnPressure, kKeys[7]);
    number(sizeMinRatio, kKeys[8]);
    number(opacityMinRatio, kKeys[9]);
    container.encode(stabilization, kKeys[10]);
}

Brush Brush::decode(Decoder& decoder) {
    const KeyedDecodingContainer container = decoder.container();
    const auto corrupted = [&](const char* key, std::string description) {
        CodingPath path = decoder.codingPath();
        path.push_back(CodingKey(key));
        return DecodingError::dataCorrupted({path, std::move(description)});
    };
    const auto number = [&](const char* key) {
        const float v = container.decode<float>(key);
        if (!std::isfinite(v)) {
            throw corrupted(key, "A brush holds only finite numbers.");
        }
        return v;
    };
    const std::string uuidText = container.decode<std::string>(kKeys[0]);
    const std::optional<UUID> uuid = UUID::fromString(uuidText);
    if (!uuid) {
        throw corrupted(kKeys[0], "Attempted to decode UUID from invalid UUID string.");
    }
    Brush brush;
    brush.uuid = *uuid;
    brush.name = container.decode<std::string>(kKeys[1]);
    brush.size = number(kKeys[2]);
    brush.hardness = number(kKeys[3]);
    brush.opacity = number(kKeys[4]);
    brush.spacing = number(kKeys[5]);
    brush.sizeDependsOnPressure = container.decode<bool>(kKeys[6]);
    brush.opacityDependsOnPressure = container.decode<bool>(kKeys[7]);
    brush.sizeMinRatio = number(kKeys[8]);
    brush.opacityMinRatio = number(kKeys[9]);
    brush.stabilization = container.decode<std::uint64_t>(kKeys[10]);
    return brush;
}

} // namespace velmora
