#pragma once

#include <any>
#include <functional>
#include <map>
#include <string>
#include <string_view>

namespace velmora {

// Context that callers hand to every type being coded (for example the GPU
// device that decoded textures are made on).
using CodingUserInfo = std::map<std::string, std::any, std::less<>>;

// The entry under `key` if it holds a T, else null.
template <class T> const T* userInfoValue(const CodingUserInfo& info, std::string_view key) {
    const auto it = info.find(key);
    return it == info.end() ? nullptr : std::any_cast<T>(&it->second);
}

} // namespace velmora
