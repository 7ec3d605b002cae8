#include "Document/SaveAccessoryViewController.hpp"

#include "Document/DocumentFileType.hpp"
#include "desktop/NSSavePanel.hpp"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace velmora {

namespace {

const char* itemTitle(DocumentFileType type) {
    switch (type) {
    case DocumentFileType::tiff:
        return "TIFF";
    case DocumentFileType::jpeg:
        return "JPEG";
    case DocumentFileType::png:
        return "PNG";
    case DocumentFileType::gif:
        return "GIF";
    case DocumentFileType::bmp:
        return "BMP";
    case DocumentFileType::velmora:
        return "Velmora (experimental)";
    }
    return "";
}

} // namespace

std::shared_ptr<SaveAccessoryViewController> SaveAccessoryViewController::make() {
    auto controller = std::make_shared<SaveAccessoryViewController>();
    controller->setIdentifier("SaveAccessoryView");
    return controller;
}

void SaveAccessoryViewController::loadView() {
    auto* view = new QWidget;
    auto* layout = new QVBoxLayout(view);
    auto* chooser = new QHBoxLayout;
    chooser->addWidget(new QLabel("Format:", view));
    formatPopupButton_ = new QComboBox(view);
    chooser->addWidget(formatPopupButton_);
    chooser->addStretch();
    layout->addLayout(chooser);
    warningView_ = new QLabel("The layers will be flattened into one image: only a Velmora "
                              "document keeps them.",
                              view);
    layout->addWidget(warningView_);
    QObject::connect(formatPopupButton_, &QComboBox::activated, view,
                     [this](int) { selectFormat(); });
    setView(view);
}

void SaveAccessoryViewController::viewDidLoad() {
    for (const auto& identifier : writableTypes) {
        const auto type = DocumentFileTypes::fileType(identifier);
        if (!type) {
            continue;
        }
        formatPopupButton_->addItem(itemTitle(*type), QString::fromStdString(identifier));
    }
    applySelectedFormat();
}

void SaveAccessoryViewController::viewWillAppear() {
    applySelectedFormat();
}

void SaveAccessoryViewController::selectFormat() {
    applySelectedFormat();
}

std::optional<std::string> SaveAccessoryViewController::selectedIdentifier() {
    view();
    const QVariant data = formatPopupButton_->currentData();
    if (!data.isValid()) {
        return std::nullopt;
    }
    return data.toString().toStdString();
}

void SaveAccessoryViewController::applySelectedFormat() {
    const auto identifier = selectedIdentifier();
    const auto type = identifier ? DocumentFileTypes::fileType(*identifier) : std::nullopt;
    if (!type) {
        return;
    }
    if (const auto panel = savePanel.lock()) {
        panel->setAllowedFileTypes({*identifier});
    }
    warningView_->setVisible(*type != DocumentFileType::velmora);
}

} // namespace velmora
