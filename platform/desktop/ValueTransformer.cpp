#include "desktop/ValueTransformer.hpp"

#include <cstdint>
#include <map>

namespace velmora {

namespace {

std::map<std::string, std::shared_ptr<ValueTransformer>, std::less<>>& registry() {
    static std::map<std::string, std::shared_ptr<ValueTransformer>, std::less<>> table;
    return table;
}

template <class T> bool read(const std::any& value, double& out) {
    if (const T* number = std::any_cast<T>(&value)) {
        out = static_cast<double>(*number);
        return true;
    }
    return false;
}

} // namespace

std::any ValueTransformer::reverseTransformedValue(const std::any&) const {
    return {};
}

void ValueTransformer::setValueTransformer(std::shared_ptr<ValueTransformer> transformer,
                                           std::string name) {
    if (transformer) {
        registry().insert_or_assign(std::move(name), std::move(transformer));
    } else if (auto found = registry().find(name); found != registry().end()) {
        registry().erase(found);
    }
}

std::shared_ptr<ValueTransformer> ValueTransformer::valueTransformerForName(std::string_view name) {
    auto found = registry().find(name);
    return found == registry().end() ? nullptr : found->second;
}

std::vector<std::string> ValueTransformer::valueTransformerNames() {
    std::vector<std::string> names;
    for (const auto& [name, transformer] : registry()) {
        names.push_back(name);
    }
    return names;
}

std::optional<double> numberValue(const std::any& value) {
    double out = 0;
    if (read<double>(value, out) || read<float>(value, out) || read<int>(value, out) ||
        read<long>(value, out) || read<long long>(value, out) || read<unsigned>(value, out) ||
        read<unsigned long>(value, out) || read<unsigned long long>(value, out)) {
        return out;
    }
    return std::nullopt;
}

std::optional<std::string> stringValue(const std::any& value) {
    if (const std::string* text = std::any_cast<std::string>(&value)) {
        return *text;
    }
    if (const char* const* text = std::any_cast<const char*>(&value)) {
        return std::string(*text);
    }
    return std::nullopt;
}

} // namespace velmora
