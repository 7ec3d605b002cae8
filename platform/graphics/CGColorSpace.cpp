#include "graphics/CGColorSpace.hpp"

#include "foundation/FatalError.hpp"
#include "graphics/LcmsSupport.hpp"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <lcms2.h>
#include <mutex>
#include <string>
#include <unordered_map>

namespace velmora {

namespace {

// Hostile files may carry anything; real profiles stay far below this.
constexpr size_t kMaxICCSize = 4 << 20;

std::atomic<uint64_t> nextSerial{1};

void setText(cmsHPROFILE profile, cmsTagSignature tag, const char* text) {
    cmsMLU* mlu = cmsMLUalloc(nullptr, 1);
    precondition(mlu != nullptr && cmsMLUsetASCII(mlu, "en", "US", text), "lcms2 refused a text");
    const bool written = cmsWriteTag(profile, tag, mlu);
    cmsMLUfree(mlu);
    precondition(written, "lcms2 refused a profile tag");
}

// Serialises a profile made here with a fixed creation date, so that the same
// space always yields the same bytes (and the files we write are reproducible).
std::vector<uint8_t> serialise(cmsHPROFILE profile, const char* description) {
    precondition(profile != nullptr, "lcms2 could not make a built-in profile");
    setText(profile, cmsSigProfileDescriptionTag, description);
    setText(profile, cmsSigCopyrightTag, "No copyright, use freely");
    cmsUInt32Number size = 0;
    precondition(cmsSaveProfileToMem(profile, nullptr, &size) && size > 128,
                 "lcms2 could not size a profile");
    std::vector<uint8_t> bytes(size);
    precondition(cmsSaveProfileToMem(profile, bytes.data(), &size),
                 "lcms2 could not save a profile");
    cmsCloseProfile(profile);
    static constexpr uint8_t kDate[12] = {0x07, 0xEA, 0, 1, 0, 1, 0, 0, 0, 0, 0, 0}; // 2026-01-01
    std::memcpy(bytes.data() + 24, kDate, sizeof kDate);
    return bytes;
}

cmsToneCurve* sRGBTransferCurve() {
    const cmsFloat64Number params[5] = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};
    return cmsBuildParametricToneCurve(nullptr, 4, params);
}

std::vector<uint8_t> rgbProfile(const cmsCIExyY& white, const cmsCIExyYTRIPLE& primaries,
                                cmsToneCurve* curve, const char* description) {
    precondition(curve != nullptr, "lcms2 could not make a tone curve");
    cmsToneCurve* curves[3] = {curve, curve, curve};
    cmsHPROFILE profile = cmsCreateRGBProfile(&white, &primaries, curves);
    cmsFreeToneCurve(curve);
    return serialise(profile, description);
}

constexpr cmsCIExyY kD65 = {0.3127, 0.3290, 1.0};

} // namespace

CGColorSpace::CGColorSpace(void* profile, std::vector<uint8_t> icc, std::string name)
    : profile_(profile), icc_(std::move(icc)), name_(std::move(name)),
      serial_(nextSerial.fetch_add(1)) {
    switch (cmsGetColorSpace(profile_)) {
    case cmsSigGrayData:
        model_ = CGColorSpaceModel::monochrome;
        break;
    case cmsSigRgbData:
        model_ = CGColorSpaceModel::rgb;
        break;
    case cmsSigCmykData:
        model_ = CGColorSpaceModel::cmyk;
        break;
    case cmsSigLabData:
        model_ = CGColorSpaceModel::lab;
        break;
    default:
        model_ = CGColorSpaceModel::unknown;
        break;
    }
    char text[256] = {};
    if (cmsGetProfileInfoASCII(profile_, cmsInfoDescription, "en", "US", text, sizeof text) > 0) {
        description_ = text;
    }
}

CGColorSpace::~CGColorSpace() {
    cmsCloseProfile(profile_);
}

CGColorSpaceRef CGColorSpace::adopt(std::span<const uint8_t> icc, std::string name) {
    lcms::setUp();
    if (icc.size() > kMaxICCSize) {
        return nullptr;
    }
    cmsHPROFILE profile =
        cmsOpenProfileFromMem(icc.data(), static_cast<cmsUInt32Number>(icc.size()));
    if (profile == nullptr) {
        return nullptr;
    }
    const cmsProfileClassSignature cls = cmsGetDeviceClass(profile);
    const bool usable = cls == cmsSigInputClass || cls == cmsSigDisplayClass ||
                        cls == cmsSigOutputClass || cls == cmsSigColorSpaceClass;
    if (!usable) {
        cmsCloseProfile(profile);
        return nullptr;
    }
    std::shared_ptr<const CGColorSpace> space(
        new CGColorSpace(profile, std::vector<uint8_t>(icc.begin(), icc.end()), std::move(name)));
    if (space->model() == CGColorSpaceModel::unknown) {
        return nullptr;
    }
    return space;
}

CGColorSpaceRef CGColorSpace::withICCData(std::span<const uint8_t> data) {
    if (data.size() < 132) {
        return nullptr;
    }
    const uint32_t declared = uint32_t(data[0]) << 24 | uint32_t(data[1]) << 16 |
                              uint32_t(data[2]) << 8 | uint32_t(data[3]);
    if (declared < 132 || declared > data.size()) {
        return nullptr; // truncated
    }
    data = data.first(declared);
    // Files mostly carry profiles we already know (every patch has the sRGB one):
    // hand back the same object, so conversions hit their cache or are skipped.
    for (const auto& known : {sRGB(), displayP3(), genericRGB(), genericGray()}) {
        if (std::equal(data.begin(), data.end(), known->iccData().begin(),
                       known->iccData().end())) {
            return known;
        }
    }
    static std::mutex internLock;
    static std::unordered_map<std::string, std::weak_ptr<const CGColorSpace>> interned;
    std::string key(data.begin(), data.end());
    {
        std::lock_guard guard(internLock);
        if (auto it = interned.find(key); it != interned.end()) {
            if (auto space = it->second.lock()) {
                return space;
            }
        }
    }
    auto space = adopt(data, std::string());
    if (space == nullptr) {
        return nullptr;
    }
    // lcms2 reads tags lazily: only a transform shows that the profile is whole.
    const auto& working = sRGB();
    cmsUInt32Number inFormat = 0;
    switch (space->model()) {
    case CGColorSpaceModel::monochrome:
        inFormat = TYPE_GRAY_16;
        break;
    case CGColorSpaceModel::rgb:
        inFormat = TYPE_RGB_16;
        break;
    case CGColorSpaceModel::cmyk:
        inFormat = TYPE_CMYK_16;
        break;
    default:
        return nullptr;
    }
    std::lock_guard guard(lcms::transformCreationLock());
    cmsHTRANSFORM probe =
        cmsCreateTransform(space->profileHandle(), inFormat, working->profileHandle(), TYPE_RGB_16,
                           INTENT_PERCEPTUAL, cmsFLAGS_NOCACHE);
    if (probe == nullptr) {
        return nullptr;
    }
    cmsDeleteTransform(probe);
    std::lock_guard internGuard(internLock);
    if (interned.size() >= 32) {
        std::erase_if(interned, [](const auto& entry) { return entry.second.expired(); });
    }
    if (interned.size() < 32) {
        interned.emplace(std::move(key), space);
    }
    return space;
}

CGColorSpaceRef CGColorSpace::sRGB() {
    static const CGColorSpaceRef space = [] {
        lcms::setUp();
        auto s = adopt(serialise(cmsCreate_sRGBProfile(), "sRGB IEC61966-2.1"),
                       std::string(CGColorSpaceName::sRGB));
        precondition(s != nullptr, "The sRGB colour space cannot be made");
        return s;
    }();
    return space;
}

CGColorSpaceRef CGColorSpace::genericRGB() {
    static const CGColorSpaceRef space = [] {
        lcms::setUp();
        const cmsCIExyYTRIPLE primaries = {
            {0.630, 0.340, 1.0}, {0.295, 0.605, 1.0}, {0.155, 0.077, 1.0}};
        auto s = adopt(rgbProfile(kD65, primaries, cmsBuildGamma(nullptr, 1.8), "Generic RGB"),
                       std::string(CGColorSpaceName::genericRGB));
        precondition(s != nullptr, "The generic RGB colour space cannot be made");
        return s;
    }();
    return space;
}

CGColorSpaceRef CGColorSpace::displayP3() {
    static const CGColorSpaceRef space = [] {
        lcms::setUp();
        const cmsCIExyYTRIPLE primaries = {
            {0.680, 0.320, 1.0}, {0.265, 0.690, 1.0}, {0.150, 0.060, 1.0}};
        auto s = adopt(rgbProfile(kD65, primaries, sRGBTransferCurve(), "Display P3"),
                       std::string(CGColorSpaceName::displayP3));
        precondition(s != nullptr, "The Display P3 colour space cannot be made");
        return s;
    }();
    return space;
}

CGColorSpaceRef CGColorSpace::genericGray() {
    static const CGColorSpaceRef space = [] {
        lcms::setUp();
        cmsToneCurve* curve = cmsBuildGamma(nullptr, 2.2);
        precondition(curve != nullptr, "lcms2 could not make a tone curve");
        cmsHPROFILE profile = cmsCreateGrayProfile(cmsD50_xyY(), curve);
        cmsFreeToneCurve(curve);
        auto s = adopt(serialise(profile, "Generic Gray Gamma 2.2 Profile"),
                       std::string(CGColorSpaceName::genericGrayGamma2_2));
        precondition(s != nullptr, "The grey colour space cannot be made");
        return s;
    }();
    return space;
}

CGColorSpaceRef CGColorSpace::withName(std::string_view name) {
    if (name == CGColorSpaceName::sRGB) {
        return sRGB();
    }
    if (name == CGColorSpaceName::genericRGB) {
        return genericRGB();
    }
    if (name == CGColorSpaceName::displayP3) {
        return displayP3();
    }
    if (name == CGColorSpaceName::genericGrayGamma2_2) {
        return genericGray();
    }
    return nullptr;
}

size_t CGColorSpace::numberOfComponents() const {
    switch (model_) {
    case CGColorSpaceModel::monochrome:
        return 1;
    case CGColorSpaceModel::rgb:
    case CGColorSpaceModel::lab:
        return 3;
    case CGColorSpaceModel::cmyk:
        return 4;
    case CGColorSpaceModel::unknown:
        break;
    }
    return 0;
}

bool CGColorSpace::isEqual(const CGColorSpace& other) const {
    return this == &other || icc_ == other.icc_;
}

std::string CGColorSpace::description() const {
    std::string text = "(kCGColorSpaceICCBased; kCGColorSpaceModel";
    text += modelName(model_);
    if (!description_.empty()) {
        text += "; ";
        text += description_;
    }
    text += ")";
    return text;
}

std::string_view modelName(CGColorSpaceModel model) {
    switch (model) {
    case CGColorSpaceModel::monochrome:
        return "Monochrome";
    case CGColorSpaceModel::rgb:
        return "RGB";
    case CGColorSpaceModel::cmyk:
        return "CMYK";
    case CGColorSpaceModel::lab:
        return "Lab";
    case CGColorSpaceModel::unknown:
        break;
    }
    return "Unknown";
}

} // namespace velmora
