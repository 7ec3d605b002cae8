#include "Document/DocumentConversionViewController.hpp"

#include "desktop/NSWindow.hpp"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace velmora {

void DocumentConversionViewController::loadView() {
    auto* view = new QWidget;
    auto* layout = new QVBoxLayout(view);
    titleField_ = new QLabel(view);
    titleField_->setWordWrap(true);
    auto* explanation =
        new QLabel("Convert it to a Velmora document to keep its layers, or keep its format "
                   "and flatten the layers into one image when it is saved.",
                   view);
    explanation->setWordWrap(true);
    alwaysApplyButton_ = new QCheckBox("Do the same for every image I open", view);
    keepButton_ = new QPushButton("Keep Format", view);
    convertButton_ = new QPushButton("Convert", view);
    convertButton_->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(keepButton_);
    buttons->addWidget(convertButton_);
    layout->addWidget(titleField_);
    layout->addWidget(explanation);
    layout->addWidget(alwaysApplyButton_);
    layout->addLayout(buttons);
    QObject::connect(keepButton_, &QPushButton::clicked, view, [this] { keepFormat(); });
    QObject::connect(convertButton_, &QPushButton::clicked, view, [this] { convertFormat(); });
    setView(view);
}

void DocumentConversionViewController::viewWillAppear() {
    view();
    const auto owner = delegate.lock();
    const auto url = owner ? owner->docURL() : std::nullopt;
    titleField_->setText(QString::fromStdString("The document \"" +
                                                (url ? url->lastPathComponent() : std::string()) +
                                                "\" does not support layers."));
}

void DocumentConversionViewController::keepFormat() {
    answer(alwaysApplyButton_->isChecked() ? ConversionControllerResponse::keepAlways
                                           : ConversionControllerResponse::keep);
}

void DocumentConversionViewController::convertFormat() {
    answer(alwaysApplyButton_->isChecked() ? ConversionControllerResponse::convertAlways
                                           : ConversionControllerResponse::convert);
}

void DocumentConversionViewController::answer(ConversionControllerResponse response) {
    if (const auto owner = delegate.lock()) {
        owner->setUserResponse(response);
    }
}

} // namespace velmora
