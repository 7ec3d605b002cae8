#include "App/DrawWithMouseViewController.hpp"

#include "App/Preferences.hpp"
#include "desktop/NSApplication.hpp"
#include "desktop/NSWindow.hpp"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace velmora {

void DrawWithMouseViewController::loadView() {
    auto* view = new QWidget;
    auto* layout = new QVBoxLayout(view);
    auto* text = new QLabel(QStringLiteral(
        "Drawing with the mouse is disabled.\n\nOnly a stylus draws on the canvas. You can "
        "allow the mouse to draw too, here or in Preferences."));
    text->setWordWrap(true);
    layout->addWidget(text);
    auto* checkBox = new QCheckBox(QStringLiteral("Do not show this message again"));
    checkBox->setObjectName(QStringLiteral("warningCheckBox"));
    QObject::connect(checkBox, &QCheckBox::toggled,
                     [this](bool checked) { warningCheckBoxChanged(checked); });
    layout->addWidget(checkBox);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    auto* keep = new QPushButton(QStringLiteral("Keep Disabled"));
    keep->setObjectName(QStringLiteral("keepDisabled"));
    keep->setShortcut(QKeySequence(Qt::Key_Escape));
    QObject::connect(keep, &QPushButton::clicked, [this] { keepDisabled(); });
    auto* enable = new QPushButton(QStringLiteral("Enable Drawing with Mouse"));
    enable->setObjectName(QStringLiteral("enableDrawingWithMouse"));
    QObject::connect(enable, &QPushButton::clicked, [this] { enableDrawingWithMouse(); });
    buttons->addWidget(keep);
    buttons->addWidget(enable);
    layout->addLayout(buttons);
    setView(view);
}

void DrawWithMouseViewController::viewDidAppear() {
    if (const auto window = NSWindow::windowOf(view())) {
        NSApplication::shared().runModal(window);
    }
}

void DrawWithMouseViewController::keepDisabled() {
    endModal();
}

void DrawWithMouseViewController::enableDrawingWithMouse() {
    Preferences::shared().setAllowDrawingWithMouse(true);
    endModal();
}

void DrawWithMouseViewController::warningCheckBoxChanged(bool checked) {
    Preferences::shared().setDrawingWithMouseWarningDisabled(checked);
}

void DrawWithMouseViewController::endModal() {
    if (const auto window = NSWindow::windowOf(view())) {
        window->close();
    }
    NSApplication::shared().stopModal();
}

} // namespace velmora
