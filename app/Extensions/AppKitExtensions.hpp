#pragma once

#include "desktop/NSAlert.hpp"
#include "desktop/NSStoryboard.hpp"
#include "foundation/URL.hpp"

#include <exception>
#include <memory>
#include <string>
#include <string_view>

namespace velmora {

// An alert for an error: a described error's own message and informative
// texts, otherwise the platform's wording (the error's what()).
std::shared_ptr<NSAlert> makeAlert(const std::exception& error);
// Any thrown value; one that is no exception gets a general message.
std::shared_ptr<NSAlert> makeAlert(std::exception_ptr error);

// A controller of the application's storyboards as the class asked for; a
// missing one or one of another class ends the program.
template <class T>
std::shared_ptr<T> instantiateController(std::string_view storyboard, std::string_view identifier) {
    return NSStoryboard::instantiateController<T>(storyboard, identifier);
}

// The login user's home folder from the user database; the environment's HOME
// for a user without an entry there (as in many containers).
std::string homeFolderPath();
// The path with its leading home folder written "~": only when the path is the
// home folder itself or continues with "/" after it. Other paths unchanged.
std::string abbreviatingWithTildeInPath(std::string_view path, std::string_view home);
std::string abbreviatingWithTildeInPath(const URL& url);

} // namespace velmora
