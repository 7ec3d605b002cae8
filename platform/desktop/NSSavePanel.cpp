#include "desktop/NSSavePanel.hpp"

#include "desktop/NSWindow.hpp"
#include "foundation/DispatchQueue.hpp"

#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <algorithm>

namespace velmora {

namespace {

NSSavePanel::FileTypeResolver& resolver() {
    static NSSavePanel::FileTypeResolver instance;
    return instance;
}

NSSavePanel::Responder& testResponder() {
    static NSSavePanel::Responder instance;
    return instance;
}

} // namespace

QString NSSavePanel::nameFilter(const std::string& name,
                                const std::vector<std::string>& extensions) {
    QStringList patterns;
    for (const std::string& extension : extensions) {
        patterns << QStringLiteral("*.") + QString::fromStdString(extension);
    }
    return QString::fromStdString(name) + QStringLiteral(" (") + patterns.join(' ') +
           QStringLiteral(")");
}

QStringList NSSavePanel::nameFilters(const std::vector<FileType>& types) const {
    QStringList filters;
    for (const FileType& type : types) {
        filters << nameFilter(type.name.empty() ? type.identifier : type.name, type.extensions);
    }
    return filters;
}

std::shared_ptr<NSSavePanel> NSSavePanel::savePanel() {
    return std::make_shared<NSSavePanel>();
}

NSSavePanel::NSSavePanel() = default;

NSSavePanel::~NSSavePanel() {
    if (accessoryView && running_ && accessoryView->parentWidget()) {
        accessoryView->setParent(nullptr);
    }
}

void NSSavePanel::setFileTypeResolver(FileTypeResolver resolver) {
    velmora::resolver() = std::move(resolver);
}

void NSSavePanel::setTestResponder(Responder responder) {
    testResponder() = std::move(responder);
}

void NSSavePanel::setAllowedFileTypes(std::vector<std::string> types) {
    allowedTypes_ = std::move(types);
    if (running_) {
        applyTypes(*running_);
    }
}

std::vector<NSSavePanel::FileType> NSSavePanel::resolvedFileTypes() const {
    std::vector<FileType> result;
    for (const std::string& type : allowedTypes_) {
        std::optional<FileType> known = resolver() ? resolver()(type) : std::nullopt;
        if (known && !known->extensions.empty()) {
            result.push_back(std::move(*known));
        } else if (!type.empty()) {
            result.push_back({type, {type}, type});
        }
    }
    return result;
}

std::optional<URL> NSSavePanel::url() const {
    return urls_.empty() ? std::nullopt : std::optional<URL>(urls_.front());
}

void NSSavePanel::applyTypes(QFileDialog& dialog) const {
    const std::vector<FileType> types = resolvedFileTypes();
    const QStringList filters = nameFilters(types);
    dialog.setNameFilters(filters.isEmpty() ? QStringList{QStringLiteral("All Files (*)")}
                                            : filters);
    dialog.setDefaultSuffix(
        types.empty() ? QString() : QString::fromStdString(types.front().extensions.front()));
    if (types.empty() || dialog.acceptMode() != QFileDialog::AcceptSave) {
        return;
    }
    // The typed name follows the chosen type's extension. With none typed the
    // dialog answers the folder it shows, which is no name.
    const QStringList selected = dialog.selectedFiles();
    QString name = selected.isEmpty() || QFileInfo(selected.front()).isDir()
                       ? QString()
                       : QFileInfo(selected.front()).fileName();
    if (!name.isEmpty()) {
        const QString suffix = QFileInfo(name).suffix();
        const QString base = suffix.isEmpty() ? name : name.left(name.size() - suffix.size() - 1);
        dialog.selectFile(base + '.' + dialog.defaultSuffix());
    }
}

void NSSavePanel::configure(QFileDialog& dialog) const {
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::ReadOnly, !canCreateDirectories);
    if (!title.empty()) {
        dialog.setWindowTitle(QString::fromStdString(title));
    }
    if (!prompt.empty()) {
        dialog.setLabelText(QFileDialog::Accept, QString::fromStdString(prompt));
    }
    if (directoryURL) {
        dialog.setDirectory(QString::fromStdString(directoryURL->path()));
    }
    applyTypes(dialog);
    if (!nameFieldStringValue.empty()) {
        dialog.selectFile(QString::fromStdString(nameFieldStringValue));
    }
}

std::unique_ptr<QFileDialog> NSSavePanel::makeDialog(QWidget* parent) {
    auto dialog = std::make_unique<QFileDialog>(parent);
    configure(*dialog);
    if (!message.empty() || accessoryView) {
        if (auto* grid = qobject_cast<QGridLayout*>(dialog->layout())) {
            int row = grid->rowCount();
            if (!message.empty()) {
                grid->addWidget(new QLabel(QString::fromStdString(message)), row++, 0, 1,
                                grid->columnCount());
            }
            if (accessoryView) {
                grid->addWidget(accessoryView, row, 0, 1, grid->columnCount());
                accessoryView->show();
            }
        }
    }
    QObject::connect(dialog.get(), &QFileDialog::filterSelected, dialog.get(),
                     [dialog = dialog.get(), this](const QString& filter) {
                         for (const FileType& type : resolvedFileTypes()) {
                             if (nameFilters({type}).value(0) == filter) {
                                 dialog->setDefaultSuffix(
                                     QString::fromStdString(type.extensions.front()));
                             }
                         }
                     });
    running_ = dialog.get();
    return dialog;
}

NSModalResponse NSSavePanel::finish(QFileDialog& dialog, bool accepted) {
    urls_.clear();
    if (accepted) {
        const bool directories = dialog.fileMode() == QFileDialog::Directory;
        const std::vector<FileType> types = resolvedFileTypes();
        for (QString file : dialog.selectedFiles()) {
            // A name whose extension belongs to no allowed type gets the chosen
            // type's: "Cat.velmora" saved as TIFF must not hold TIFF data under
            // a name that promises another format.
            if (dialog.acceptMode() == QFileDialog::AcceptSave && !types.empty()) {
                const std::string extension = QFileInfo(file).suffix().toLower().toStdString();
                const bool known = std::ranges::any_of(types, [&](const FileType& type) {
                    return std::ranges::find(type.extensions, extension) != type.extensions.end();
                });
                if (!known) {
                    file += '.' + QString::fromStdString(types.front().extensions.front());
                }
            }
            urls_.push_back(URL::fileURL(file.toStdString(), directories));
        }
    }
    if (accessoryView) {
        accessoryView->setParent(nullptr);
    }
    running_ = nullptr;
    return accepted && !urls_.empty() ? NSModalResponseOK : NSModalResponseCancel;
}

std::optional<NSModalResponse> NSSavePanel::answerByTest() {
    if (!testResponder()) {
        return std::nullopt;
    }
    std::optional<std::vector<URL>> chosen = testResponder()(*this);
    urls_ = chosen ? *chosen : std::vector<URL>{};
    return chosen && !urls_.empty() ? NSModalResponseOK : NSModalResponseCancel;
}

NSModalResponse NSSavePanel::runModal() {
    if (std::optional<NSModalResponse> answer = answerByTest()) {
        return *answer;
    }
    std::unique_ptr<QFileDialog> dialog = makeDialog();
    const bool accepted = dialog->exec() == QDialog::Accepted;
    return finish(*dialog, accepted);
}

void NSSavePanel::beginSheetModalForWindow(const std::shared_ptr<NSWindow>& window,
                                           std::function<void(NSModalResponse)> completionHandler) {
    if (std::optional<NSModalResponse> answer = answerByTest()) {
        if (completionHandler) {
            const NSModalResponse response = *answer;
            DispatchQueue::main().async(
                [completionHandler, response] { completionHandler(response); });
        }
        return;
    }
    QWidget* parent = window ? window->widget() : nullptr;
    QFileDialog* dialog = makeDialog(parent).release();
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    // The panel lives until its dialog has answered.
    std::shared_ptr<NSSavePanel> keep = sharedAs<NSSavePanel>();
    QObject::connect(
        dialog, &QDialog::finished, dialog, [this, keep, dialog, completionHandler](int result) {
            const NSModalResponse response = finish(*dialog, result == QDialog::Accepted);
            if (completionHandler) {
                completionHandler(response);
            }
        });
    dialog->open();
}

} // namespace velmora
