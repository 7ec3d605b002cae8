#pragma once

#include "coding/KeyedArchiver.hpp"
#include "coding/KeyedUnarchiver.hpp"

#include <string>

namespace velmora {

// A view controller whose interface state (a tool, a colour, a panel's frame)
// outlives the process: kept as a keyed archive in the standard user defaults
// under the controller's user-interface identifier.
class UIRestorable {
public:
    virtual ~UIRestorable() = default;

    virtual void encodeUIState(KeyedArchiver& archiver) = 0;
    virtual void decodeUIState(KeyedUnarchiver& unarchiver) = 0;

    // The key of the state: a view controller's identifier, unless overridden.
    virtual std::string restorationIdentifier() const;

    // Replaces the stored state. Without an identifier the program ends.
    void saveUIState();
    // Decodes the stored state; nothing stored, or data that is no keyed
    // archive (damaged defaults), leaves the controller as it is.
    void restoreUIState();
};

} // namespace velmora
