#include "desktop/NSMenu.hpp"

#include "desktop/NSApplication.hpp"
#include "desktop/NSMenuItem.hpp"

#include <QAction>
#include <QMenu>
#include <algorithm>

namespace velmora {

NSMenu::NSMenu(std::string_view title)
    : menu_(new QMenu(QString::fromUtf8(title.data(), static_cast<qsizetype>(title.size())))) {
    QObject::connect(menu_, &QMenu::aboutToShow, [this] {
        if (menuNeedsUpdate) {
            menuNeedsUpdate(*this);
        }
        if (autoenablesItems_) {
            update();
        }
    });
    QObject::connect(menu_, &QMenu::aboutToHide, [this] { closed(); });
}

NSMenu::~NSMenu() {
    for (const auto& item : items_) {
        menu_->removeAction(item->qAction());
    }
    delete menu_;
}

std::string NSMenu::title() const {
    return menu_->title().toStdString();
}

void NSMenu::setTitle(std::string_view title) {
    menu_->setTitle(QString::fromUtf8(title.data(), static_cast<qsizetype>(title.size())));
}

void NSMenu::addItem(std::shared_ptr<NSMenuItem> item) {
    insertItem(std::move(item), items_.size());
}

std::shared_ptr<NSMenuItem> NSMenu::addItem(std::string_view title, std::string action,
                                            std::string_view keyEquivalent) {
    auto item = std::make_shared<NSMenuItem>(
        title, std::move(action),
        QKeySequence(
            QString::fromUtf8(keyEquivalent.data(), static_cast<qsizetype>(keyEquivalent.size()))));
    addItem(item);
    return item;
}

void NSMenu::insertItem(std::shared_ptr<NSMenuItem> item, std::size_t index) {
    if (!item) {
        return;
    }
    if (const auto previous = item->menu()) {
        previous->removeItem(item);
    }
    index = std::min(index, items_.size());
    QAction* before = index < items_.size() ? items_[index]->qAction() : nullptr;
    menu_->insertAction(before, item->qAction());
    item->menu_ = sharedAs<NSMenu>();
    items_.insert(items_.begin() + static_cast<std::ptrdiff_t>(index), std::move(item));
}

void NSMenu::removeItem(const std::shared_ptr<NSMenuItem>& item) {
    const auto found = std::ranges::find(items_, item);
    if (found == items_.end()) {
        return;
    }
    menu_->removeAction(item->qAction());
    item->menu_.reset();
    items_.erase(found);
}

std::shared_ptr<NSMenuItem> NSMenu::itemWithTitle(std::string_view title) const {
    const auto found =
        std::ranges::find_if(items_, [&](const auto& i) { return i->title() == title; });
    return found == items_.end() ? nullptr : *found;
}

std::shared_ptr<NSMenuItem> NSMenu::itemWithAction(std::string_view action) const {
    const auto found =
        std::ranges::find_if(items_, [&](const auto& i) { return i->action() == action; });
    return found == items_.end() ? nullptr : *found;
}

void NSMenu::update() {
    for (const auto& item : std::vector(items_)) {
        if (item->isSeparatorItem() || item->submenu()) {
            continue;
        }
        item->setEnabled(NSApplication::shared().validate(*item));
    }
}

void NSMenu::closed() {
    // Shortcuts of disabled actions never fire; they are checked when they do.
    for (const auto& item : items_) {
        item->qAction()->setEnabled(true);
    }
}

} // namespace velmora
