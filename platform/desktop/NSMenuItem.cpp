#include "desktop/NSMenuItem.hpp"

#include "desktop/NSApplication.hpp"
#include "desktop/NSMenu.hpp"

#include <QAction>
#include <QMenu>

namespace velmora {

NSMenuItem::NSMenuItem(std::string_view title, std::string action, QKeySequence keyEquivalent)
    : qAction_(new QAction(QString::fromUtf8(title.data(), static_cast<qsizetype>(title.size())))),
      action_(std::move(action)) {
    qAction_->setShortcut(keyEquivalent);
    // The shortcut works in any window of the application, panels included.
    qAction_->setShortcutContext(Qt::ApplicationShortcut);
    QObject::connect(qAction_, &QAction::triggered, [this] {
        const auto keep = sharedAs<NSMenuItem>();
        NSApplication::shared().sendAction(*this);
    });
}

NSMenuItem::~NSMenuItem() {
    delete qAction_;
}

std::shared_ptr<NSMenuItem> NSMenuItem::separatorItem() {
    auto item = std::make_shared<NSMenuItem>();
    item->qAction_->setSeparator(true);
    return item;
}

bool NSMenuItem::isSeparatorItem() const {
    return qAction_->isSeparator();
}

std::string NSMenuItem::title() const {
    return qAction_->text().toStdString();
}

void NSMenuItem::setTitle(std::string_view title) {
    qAction_->setText(QString::fromUtf8(title.data(), static_cast<qsizetype>(title.size())));
}

QKeySequence NSMenuItem::keyEquivalent() const {
    return qAction_->shortcut();
}

void NSMenuItem::setKeyEquivalent(const QKeySequence& keyEquivalent) {
    qAction_->setShortcut(keyEquivalent);
}

void NSMenuItem::setEnabled(bool enabled) {
    enabled_ = enabled;
    qAction_->setEnabled(enabled);
}

void NSMenuItem::setState(NSControlStateValue state) {
    state_ = state;
    qAction_->setCheckable(state != NSControlStateValueOff || qAction_->isCheckable());
    qAction_->setChecked(state == NSControlStateValueOn);
}

void NSMenuItem::setSubmenu(std::shared_ptr<NSMenu> submenu) {
    submenu_ = std::move(submenu);
    qAction_->setMenu(submenu_ ? submenu_->qMenu() : nullptr);
}

} // namespace velmora
