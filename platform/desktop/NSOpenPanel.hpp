#pragma once

#include "desktop/NSSavePanel.hpp"

namespace velmora {

// A file dialog for choosing existing files (or folders) to open.
class NSOpenPanel : public NSSavePanel {
public:
    static std::shared_ptr<NSOpenPanel> openPanel();

    bool allowsMultipleSelection = false;
    bool canChooseFiles = true;
    bool canChooseDirectories = false;

protected:
    void configure(QFileDialog& dialog) const override;
};

} // namespace velmora
