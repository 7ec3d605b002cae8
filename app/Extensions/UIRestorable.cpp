#include "Extensions/UIRestorable.hpp"

#include "coding/KeyedArchiveError.hpp"
#include "desktop/NSViewController.hpp"
#include "foundation/FatalError.hpp"
#include "foundation/UserDefaults.hpp"

namespace velmora {

namespace {

std::string requireIdentifier(const UIRestorable& item) {
    std::string identifier = item.restorationIdentifier();
    if (identifier.empty()) {
        fatalError("UIRestorable item is missing a restoration identifier");
    }
    return identifier;
}

} // namespace

std::string UIRestorable::restorationIdentifier() const {
    const auto* controller = dynamic_cast<const NSViewController*>(this);
    return controller ? controller->identifier() : std::string();
}

void UIRestorable::saveUIState() {
    const std::string identifier = requireIdentifier(*this);
    KeyedArchiver archiver(true);
    encodeUIState(archiver);
    UserDefaults::standard().set(DefaultsValue(archiver.encodedData()), identifier);
}

void UIRestorable::restoreUIState() {
    const std::string identifier = requireIdentifier(*this);
    std::optional<DefaultsValue::Data> data = UserDefaults::standard().dataForKey(identifier);
    if (!data) {
        return;
    }
    std::optional<KeyedUnarchiver> unarchiver;
    try {
        unarchiver.emplace(std::span<const std::uint8_t>(*data));
    } catch (const KeyedArchiveError&) {
        return;
    }
    unarchiver->setRequiresSecureCoding(true);
    decodeUIState(*unarchiver);
}

} // namespace velmora
