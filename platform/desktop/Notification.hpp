#pragma once

#include <any>
#include <map>
#include <string>

namespace velmora {

// A posted notification. `object` names the sender by identity only; whatever
// else the observers need travels in `userInfo`.
struct Notification {
    using UserInfo = std::map<std::string, std::any, std::less<>>;

    std::string name;
    const void* object = nullptr;
    UserInfo userInfo;
};

} // namespace velmora
