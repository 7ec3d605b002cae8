#include "Document/Viewers/NewDocumentSettingsViewController.hpp"

#include "Canvas/CanvasSize.hpp"
#include "Canvas/LayeredCanvas.hpp"
#include "Document/Document.hpp"
#include "desktop/NSWindow.hpp"
#include "foundation/FatalError.hpp"
#include "foundation/NSGeometry.hpp"
#include "foundation/UserDefaults.hpp"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QVBoxLayout>
#include <cctype>
#include <cmath>
#include <limits>
#include <string>

namespace velmora {

namespace {

// The sheet's keys reach its view from whichever field or button has the
// focus: the fields and the buttons outside a dialog leave them unhandled.
class SheetKeysFilter : public QObject {
public:
    SheetKeysFilter(QObject* parent, std::function<void()> cancel, std::function<void()> confirm)
        : QObject(parent), cancel_(std::move(cancel)), confirm_(std::move(confirm)) {}

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() != QEvent::KeyPress) {
            return false;
        }
        switch (static_cast<QKeyEvent*>(event)->key()) {
        case Qt::Key_Escape:
            cancel_();
            return true;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            confirm_();
            return true;
        default:
            return false;
        }
    }

private:
    std::function<void()> cancel_;
    std::function<void()> confirm_;
};

} // namespace

NewDocumentSettingsViewController::NewDocumentSettingsViewController(UserDefaults* defaults)
    : defaults_(defaults != nullptr ? defaults : &UserDefaults::standard()) {}

std::int64_t NewDocumentSettingsViewController::integerValue(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])) != 0) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    constexpr auto limit = std::numeric_limits<std::int64_t>::max();
    std::int64_t value = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])) != 0; ++i) {
        const int digit = text[i] - '0';
        // Saturates rather than overflowing.
        value = value > (limit - digit) / 10 ? limit : value * 10 + digit;
    }
    return negative ? -value : value;
}

bool NewDocumentSettingsViewController::isCreatableSize(std::int64_t width, std::int64_t height) {
    return isAcceptableCanvasSize(MTLSize{width, height, 1});
}

void NewDocumentSettingsViewController::loadView() {
    auto* view = new QWidget;
    view->setWindowTitle("New Canvas");
    auto* form = new QFormLayout;
    widthTextField_ = new QLineEdit("1920", view);
    heightTextField_ = new QLineEdit("1080", view);
    form->addRow("Width (pixels):", widthTextField_);
    form->addRow("Height (pixels):", heightTextField_);
    auto* cancel = new QPushButton("Cancel", view);
    createButton_ = new QPushButton("Create", view);
    createButton_->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cancel);
    buttons->addWidget(createButton_);
    auto* layout = new QVBoxLayout(view);
    layout->addLayout(form);
    layout->addLayout(buttons);
    QObject::connect(cancel, &QPushButton::clicked, view, [this] { cancelDocumentCreation(); });
    QObject::connect(createButton_, &QPushButton::clicked, view, [this] { createDocument(); });
    view->installEventFilter(new SheetKeysFilter(
        view, [this] { cancelDocumentCreation(); },
        [this] {
            if (createButton_->isEnabled()) {
                createButton_->click();
            }
        }));
    setView(view);
}

void NewDocumentSettingsViewController::viewDidLoad() {
    NSViewController::viewDidLoad();
    if (widthTextField_ == nullptr || heightTextField_ == nullptr) {
        fatalError("The new-canvas sheet without its size fields");
    }
    QObject::connect(widthTextField_, &QLineEdit::textChanged, view(), [this] { validateSize(); });
    QObject::connect(heightTextField_, &QLineEdit::textChanged, view(), [this] { validateSize(); });
    if (const auto stored = defaults_->stringForKey(defaultNewCanvasSizeKey)) {
        const NSSize size = NSSizeFromString(*stored);
        widthTextField_->setText(QString::number(std::llround(size.width)));
        heightTextField_->setText(QString::number(std::llround(size.height)));
    }
    validateSize();
}

void NewDocumentSettingsViewController::viewDidAppear() {
    NSViewController::viewDidAppear();
    if (const auto shownIn = window()) {
        shownIn->setDelegate(weakAs<NewDocumentSettingsViewController>());
    }
}

std::int64_t NewDocumentSettingsViewController::width() const {
    return integerValue(widthTextField_->text().toStdString());
}

std::int64_t NewDocumentSettingsViewController::height() const {
    return integerValue(heightTextField_->text().toStdString());
}

void NewDocumentSettingsViewController::validateSize() {
    if (widthTextField_ == nullptr || heightTextField_ == nullptr || createButton_ == nullptr) {
        fatalError("The new-canvas sheet without its fields or Create button");
    }
    createButton_->setEnabled(isCreatableSize(width(), height()));
}

void NewDocumentSettingsViewController::createDocument() {
    const std::int64_t w = width();
    const std::int64_t h = height();
    // A Return in a field may press Create while it is disabled.
    if (ended_ || !isCreatableSize(w, h)) {
        return;
    }
    defaults_->set(DefaultsValue(NSStringFromSize(NSSize{double(w), double(h)})),
                   defaultNewCanvasSizeKey);
    const auto presenting = delegate.lock();
    if (presenting == nullptr) {
        return;
    }
    ended_ = true;
    const auto self = sharedAs<NewDocumentSettingsViewController>();
    presenting->dismissViewController(self);
    if (const auto document =
            std::dynamic_pointer_cast<Document>(presenting->representedObject())) {
        document->setContent(LayeredCanvas::make(MTLSize{w, h, 1}));
    }
}

void NewDocumentSettingsViewController::cancelDocumentCreation() {
    const auto presenting = delegate.lock();
    if (ended_ || presenting == nullptr) {
        return;
    }
    ended_ = true;
    const auto self = sharedAs<NewDocumentSettingsViewController>();
    presenting->dismissViewController(self);
    if (const auto document =
            std::dynamic_pointer_cast<Document>(presenting->representedObject())) {
        document->close();
    }
}

bool NewDocumentSettingsViewController::windowShouldClose(NSWindow&) {
    cancelDocumentCreation();
    return false;
}

} // namespace velmora
