#include "desktop/NSStoryboard.hpp"

#include <map>
#include <utility>

namespace velmora {

namespace {

using Key = std::pair<std::string, std::string>;

std::map<Key, NSStoryboard::Builder, std::less<>>& builders() {
    static std::map<Key, NSStoryboard::Builder, std::less<>> table;
    return table;
}

const NSStoryboard::Builder* find(std::string_view storyboard, std::string_view identifier) {
    auto found = builders().find(Key(storyboard, identifier));
    return found == builders().end() ? nullptr : &found->second;
}

} // namespace

void NSStoryboard::registerController(std::string storyboard, std::string identifier,
                                      Builder builder) {
    builders().insert_or_assign(Key(std::move(storyboard), std::move(identifier)),
                                std::move(builder));
}

bool NSStoryboard::hasController(std::string_view storyboard, std::string_view identifier) {
    return find(storyboard, identifier) != nullptr;
}

std::shared_ptr<NSObject> NSStoryboard::instantiate(std::string_view storyboard,
                                                    std::string_view identifier) {
    const Builder* builder = find(storyboard, identifier);
    if (!builder) {
        fatalError("The storyboard \"" + std::string(storyboard) + "\" has no controller \"" +
                   std::string(identifier) + "\"");
    }
    // A copy: a builder may register others while it runs.
    Builder make = *builder;
    std::shared_ptr<NSObject> made = make();
    if (!made) {
        fatalError("The builder of \"" + std::string(identifier) + "\" in storyboard \"" +
                   std::string(storyboard) + "\" made nothing");
    }
    return made;
}

} // namespace velmora
