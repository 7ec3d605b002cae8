#pragma once

#include "desktop/NSObject.hpp"

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class QMenu;

namespace velmora {

class NSMenuItem;

// A list of menu items over a QMenu. When it opens, each item is validated
// (unless `autoenablesItems` is off); once it closes, its commands are enabled
// again for their shortcuts, which validate before they fire. Main thread only;
// made with std::make_shared.
class NSMenu : public NSObject {
public:
    explicit NSMenu(std::string_view title = {});
    ~NSMenu() override;

    std::string title() const;
    void setTitle(std::string_view title);

    const std::vector<std::shared_ptr<NSMenuItem>>& items() const { return items_; }
    void addItem(std::shared_ptr<NSMenuItem> item);
    // A new item with that title, action and shortcut, added at the end.
    std::shared_ptr<NSMenuItem> addItem(std::string_view title, std::string action,
                                        std::string_view keyEquivalent = {});
    void insertItem(std::shared_ptr<NSMenuItem> item, std::size_t index);
    void removeItem(const std::shared_ptr<NSMenuItem>& item);
    std::shared_ptr<NSMenuItem> itemWithTitle(std::string_view title) const;
    std::shared_ptr<NSMenuItem> itemWithAction(std::string_view action) const;

    // Called as the menu opens, before its items are validated, to bring them
    // up to date (the platform's menuNeedsUpdate:).
    std::function<void(NSMenu&)> menuNeedsUpdate;

    bool autoenablesItems() const { return autoenablesItems_; }
    void setAutoenablesItems(bool autoenables) { autoenablesItems_ = autoenables; }
    // Validates every item now, as opening the menu does.
    void update();

    QMenu* qMenu() const { return menu_; }

private:
    void closed();

    QMenu* menu_;
    std::vector<std::shared_ptr<NSMenuItem>> items_;
    bool autoenablesItems_ = true;
};

} // namespace velmora
