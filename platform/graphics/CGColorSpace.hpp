#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

enum class CGColorSpaceModel { unknown, monochrome, rgb, cmyk, lab };

// Names of the built-in spaces, as the platform spells them.
namespace CGColorSpaceName {
inline constexpr std::string_view sRGB = "kCGColorSpaceSRGB";
inline constexpr std::string_view genericRGB = "kCGColorSpaceGenericRGB";
inline constexpr std::string_view displayP3 = "kCGColorSpaceDisplayP3";
inline constexpr std::string_view genericGrayGamma2_2 = "kCGColorSpaceGenericGrayGamma2_2";
} // namespace CGColorSpaceName

// An ICC-based colour space. Immutable and shared; the built-in spaces are
// made once per process, so comparing their pointers is enough for identity.
class CGColorSpace {
public:
    static std::shared_ptr<const CGColorSpace> sRGB();
    static std::shared_ptr<const CGColorSpace> genericRGB();
    static std::shared_ptr<const CGColorSpace> displayP3();
    static std::shared_ptr<const CGColorSpace> genericGray();
    // nullptr for an unknown name.
    static std::shared_ptr<const CGColorSpace> withName(std::string_view name);
    // nullptr when the bytes are no usable ICC profile (hostile input allowed).
    static std::shared_ptr<const CGColorSpace> withICCData(std::span<const uint8_t> data);

    ~CGColorSpace();
    CGColorSpace(const CGColorSpace&) = delete;
    CGColorSpace& operator=(const CGColorSpace&) = delete;

    // Empty for a space made from ICC data.
    const std::string& name() const { return name_; }
    CGColorSpaceModel model() const { return model_; }
    size_t numberOfComponents() const;
    const std::vector<uint8_t>& iccData() const { return icc_; }
    // The profile's description, e.g. "sRGB IEC61966-2.1".
    const std::string& profileDescription() const { return description_; }
    // "(kCGColorSpaceICCBased; kCGColorSpaceModelRGB; sRGB IEC61966-2.1)"
    std::string description() const;

    // Same profile bytes: the two spaces convert identically.
    bool isEqual(const CGColorSpace& other) const;
    friend bool operator==(const CGColorSpace& a, const CGColorSpace& b) { return a.isEqual(b); }

    // The lcms2 profile handle; for the colour conversion code only.
    void* profileHandle() const { return profile_; }
    uint64_t serial() const { return serial_; }

private:
    CGColorSpace(void* profile, std::vector<uint8_t> icc, std::string name);
    static std::shared_ptr<const CGColorSpace> adopt(std::span<const uint8_t> icc,
                                                     std::string name);

    void* profile_;
    std::vector<uint8_t> icc_;
    std::string name_;
    std::string description_;
    CGColorSpaceModel model_ = CGColorSpaceModel::unknown;
    uint64_t serial_;
};

using CGColorSpaceRef = std::shared_ptr<const CGColorSpace>;

std::string_view modelName(CGColorSpaceModel model);

} // namespace velmora
