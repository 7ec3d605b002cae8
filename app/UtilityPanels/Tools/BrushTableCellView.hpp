#pragma once

#include "Utils/QuickEditTextFied.hpp"

#include <functional>
#include <string>

namespace velmora {

// The name editor of a brush row; committing hands the name to `onNameEdited`.
class BrushTableCellView : public QuickEditTextFied {
public:
    using QuickEditTextFied::QuickEditTextFied;

    std::function<void(const std::string&)> onNameEdited;
    void brushNameEdited() const {
        if (onNameEdited) {
            onNameEdited(text().toStdString());
        }
    }
};

} // namespace velmora
