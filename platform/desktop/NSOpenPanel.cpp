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

} // namespace velmora
