#include "desktop/NSAlert.hpp"

#include "desktop/NSWindow.hpp"
#include "foundation/DispatchQueue.hpp"

#include <QAbstractButton>
#include <QGridLayout>
#include <QMessageBox>
#include <QPushButton>

namespace velmora {

namespace {

NSAlert::Responder& testResponder() {
    static NSAlert::Responder responder;
    return responder;
}

constexpr const char* responseProperty = "velmoraResponse";

QMessageBox::Icon iconFor(NSAlertStyle style) {
    switch (style) {
    case NSAlertStyle::informational:
        return QMessageBox::Information;
    case NSAlertStyle::critical:
        return QMessageBox::Critical;
    case NSAlertStyle::warning:
        break;
    }
    return QMessageBox::Warning;
}

} // namespace

std::shared_ptr<NSAlert> NSAlert::alertWithError(const std::exception& error) {
    auto alert = std::make_shared<NSAlert>();
    alert->messageText = error.what();
    return alert;
}

NSModalResponse NSAlert::addButtonWithTitle(std::string title) {
    buttons_.push_back(std::move(title));
    return NSAlertFirstButtonReturn + NSModalResponse(buttons_.size() - 1);
}

void NSAlert::setTestResponder(Responder responder) {
    testResponder() = std::move(responder);
}

std::unique_ptr<QMessageBox> NSAlert::makeMessageBox(QWidget* parent) const {
    auto box = std::make_unique<QMessageBox>(parent);
    box->setIcon(iconFor(alertStyle));
    box->setText(QString::fromStdString(messageText));
    box->setInformativeText(QString::fromStdString(informativeText));
    std::vector<std::string> titles = buttons_;
    if (titles.empty()) {
        titles.push_back("OK");
    }
    for (std::size_t index = 0; index < titles.size(); ++index) {
        // One role for all: Qt would otherwise reorder them by role.
        QPushButton* button =
            box->addButton(QString::fromStdString(titles[index]), QMessageBox::ActionRole);
        button->setProperty(responseProperty,
                            QVariant::fromValue(qint64(NSAlertFirstButtonReturn + index)));
        if (index == 0) {
            box->setDefaultButton(button);
        }
        if (titles[index] == "Cancel") {
            box->setEscapeButton(button);
        }
    }
    if (accessoryView) {
        if (auto* grid = qobject_cast<QGridLayout*>(box->layout())) {
            grid->addWidget(accessoryView, grid->rowCount(), 0, 1, grid->columnCount());
        }
    }
    return box;
}

NSModalResponse NSAlert::responseFor(const QMessageBox& box) {
    const QAbstractButton* clicked = box.clickedButton();
    if (!clicked) {
        return NSModalResponseAbort;
    }
    return NSModalResponse(clicked->property(responseProperty).value<qint64>());
}

NSModalResponse NSAlert::runModal() {
    if (testResponder()) {
        return testResponder()(*this);
    }
    std::unique_ptr<QMessageBox> box = makeMessageBox();
    box->exec();
    const NSModalResponse response = responseFor(*box);
    if (accessoryView) {
        // The caller keeps its accessory: take it out before the box goes.
        accessoryView->setParent(nullptr);
    }
    return response;
}

void NSAlert::beginSheetModalForWindow(const std::shared_ptr<NSWindow>& window,
                                       std::function<void(NSModalResponse)> completionHandler) {
    if (testResponder()) {
        const NSModalResponse response = testResponder()(*this);
        if (completionHandler) {
            DispatchQueue::main().async(
                [completionHandler, response] { completionHandler(response); });
        }
        return;
    }
    QWidget* parent = window ? window->widget() : nullptr;
    QMessageBox* box = makeMessageBox(parent).release();
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    QPointer<QWidget> accessory = accessoryView;
    QObject::connect(box, &QMessageBox::finished, box, [box, accessory, completionHandler](int) {
        const NSModalResponse response = responseFor(*box);
        if (accessory) {
            accessory->setParent(nullptr);
        }
        if (completionHandler) {
            completionHandler(response);
        }
    });
    box->open();
}

} // namespace velmora
