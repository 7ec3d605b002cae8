#pragma once

#include "desktop/NSObject.hpp"
#include "foundation/FatalError.hpp"

#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace velmora {

// Storyboards are the application's own builders, registered at start-up by
// (storyboard name, controller identifier). Asking for a controller that no
// builder makes, or as a class it is not, ends the program: the application
// is broken, not its input.
class NSStoryboard {
public:
    using Builder = std::function<std::shared_ptr<NSObject>()>;

    // A later registration under the same name and identifier replaces the earlier one.
    static void registerController(std::string storyboard, std::string identifier, Builder builder);
    static bool hasController(std::string_view storyboard, std::string_view identifier);

    // A new controller from the builder; never null.
    static std::shared_ptr<NSObject> instantiate(std::string_view storyboard,
                                                 std::string_view identifier);

    template <class T>
    static std::shared_ptr<T> instantiateController(std::string_view storyboard,
                                                    std::string_view identifier) {
        std::shared_ptr<T> typed =
            std::dynamic_pointer_cast<T>(instantiate(storyboard, identifier));
        if (!typed) {
            fatalError("The controller \"" + std::string(identifier) + "\" of storyboard \"" +
                       std::string(storyboard) + "\" is not of the requested class");
        }
        return typed;
    }
};

} // namespace velmora
