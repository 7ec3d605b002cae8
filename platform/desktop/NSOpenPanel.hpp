#pragma once

#include "desktop/NSSavePanel.hpp"

namespace velmora {

// A file dialog for choosing existing files (or folders) to open. It starts
// showing every file of the allowed types, with no name typed.
class NSOpenPanel : public NSSavePanel {
public:
    static std::shared_ptr<NSOpenPanel> openPanel();

    bool allowsMultipleSelection = false;
    bool canChooseFiles = true;
    bool canChooseDirectories = false;

    // Heads the filters when there are several types, and is chosen first.
    static constexpr const char* allTypesFilterName = "All Readable Files";

protected:
    void configure(QFileDialog& dialog) const override;
    QStringList nameFilters(const std::vector<FileType>& types) const override;
};

} // namespace velmora
