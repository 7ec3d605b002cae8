#include "desktop/NSOpenPanel.hpp"

#include <QFileDialog>

namespace velmora {

std::shared_ptr<NSOpenPanel> NSOpenPanel::openPanel() {
    return std::make_shared<NSOpenPanel>();
}

void NSOpenPanel::configure(QFileDialog& dialog) const {
    NSSavePanel::configure(dialog);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setDefaultSuffix(QString());
    if (canChooseDirectories && !canChooseFiles) {
        dialog.setFileMode(QFileDialog::Directory);
        dialog.setOption(QFileDialog::ShowDirsOnly);
    } else {
        dialog.setFileMode(allowsMultipleSelection ? QFileDialog::ExistingFiles
                                                   : QFileDialog::ExistingFile);
    }
}

QStringList NSOpenPanel::nameFilters(const std::vector<FileType>& types) const {
    QStringList filters = NSSavePanel::nameFilters(types);
    if (types.size() > 1) {
        std::vector<std::string> extensions;
        for (const FileType& type : types) {
            extensions.insert(extensions.end(), type.extensions.begin(), type.extensions.end());
        }
        filters.prepend(nameFilter(allTypesFilterName, extensions));
    }
    return filters;
}

} // namespace velmora
