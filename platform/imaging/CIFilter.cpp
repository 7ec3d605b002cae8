#include "imaging/CIFilter.hpp"

#include "foundation/FatalError.hpp"

namespace velmora {

namespace {
constexpr std::string_view colorMatrixName = "CIColorMatrix";
constexpr std::string_view vectorKeys[5] = {"inputRVector", "inputGVector", "inputBVector",
                                            "inputAVector", "inputBiasVector"};
} // namespace

CIFilter::CIFilter(std::string name) : name_(std::move(name)) {
    defaults_.emplace(vectorKeys[0], CIVector(1, 0, 0, 0));
    defaults_.emplace(vectorKeys[1], CIVector(0, 1, 0, 0));
    defaults_.emplace(vectorKeys[2], CIVector(0, 0, 1, 0));
    defaults_.emplace(vectorKeys[3], CIVector(0, 0, 0, 1));
    defaults_.emplace(vectorKeys[4], CIVector(0, 0, 0, 0));
    values_ = defaults_;
}

std::shared_ptr<CIFilter> CIFilter::named(std::string_view name) {
    if (name != colorMatrixName) {
        return nullptr;
    }
    return std::shared_ptr<CIFilter>(new CIFilter(std::string(name)));
}

std::vector<std::string> CIFilter::inputKeys() const {
    std::vector<std::string> keys{std::string(kCIInputImageKey)};
    for (std::string_view k : vectorKeys) {
        keys.emplace_back(k);
    }
    return keys;
}

void CIFilter::setDefaults() {
    values_ = defaults_;
}

void CIFilter::setValue(const Value& value, std::string_view key) {
    if (key == kCIInputImageKey) {
        precondition(std::holds_alternative<CIImage>(value), "Filter input image is no image");
    } else {
        precondition(defaults_.find(key) != defaults_.end(), "Unknown filter key");
        precondition(std::holds_alternative<CIVector>(value), "Filter vector is no vector");
    }
    values_.insert_or_assign(std::string(key), value);
}

void CIFilter::setValuesForKeys(std::initializer_list<std::pair<std::string_view, Value>> values) {
    for (const auto& [key, value] : values) {
        setValue(value, key);
    }
}

std::optional<CIFilter::Value> CIFilter::value(std::string_view key) const {
    const auto it = values_.find(key);
    if (it == values_.end()) {
        return std::nullopt;
    }
    return it->second;
}

std::optional<CIImage> CIFilter::outputImage() const {
    const auto input = values_.find(kCIInputImageKey);
    if (input == values_.end()) {
        return std::nullopt;
    }
    const CIImage& image = std::get<CIImage>(input->second);
    imaging::kernels::ColorMatrix m;
    for (int row = 0; row < 4; ++row) {
        const CIVector& v = std::get<CIVector>(values_.find(vectorKeys[row])->second);
        for (int c = 0; c < 4; ++c) {
            m.m[row][c] = float(v.value(size_t(c)));
        }
    }
    const CIVector& bias = std::get<CIVector>(values_.find(vectorKeys[4])->second);
    for (int c = 0; c < 4; ++c) {
        m.bias[c] = float(bias.value(size_t(c)));
    }
    if (image.isEmpty() && !(m.bias[3] > 0)) {
        return image;
    }
    return CIImage(imaging::colorMatrixNode(image.node(), m));
}

} // namespace velmora
