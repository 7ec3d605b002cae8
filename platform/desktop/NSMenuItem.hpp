#pragma once

#include "desktop/NSObject.hpp"

#include <QKeySequence>
#include <memory>
#include <string>
#include <string_view>

class QAction;

namespace velmora {

class NSMenu;
class NSResponder;

// The platform's control states of a menu item's check mark.
using NSControlStateValue = int;
inline constexpr NSControlStateValue NSControlStateValueOff = 0;
inline constexpr NSControlStateValue NSControlStateValueOn = 1;

// A command of a menu: a title, an action by selector text ("undo:") sent to its
// target or, without one, along the responder chain, and a shortcut (Command is
// Ctrl). Whether it is enabled is decided by validation when its menu opens and
// again before it fires. Backed by a QAction. Main thread only.
class NSMenuItem : public NSObject {
public:
    NSMenuItem(std::string_view title = {}, std::string action = {},
               QKeySequence keyEquivalent = {});
    ~NSMenuItem() override;

    static std::shared_ptr<NSMenuItem> separatorItem();
    bool isSeparatorItem() const;

    std::string title() const;
    void setTitle(std::string_view title);
    const std::string& action() const { return action_; }
    void setAction(std::string action) { action_ = std::move(action); }
    // None: the responder chain picks the target.
    std::shared_ptr<NSResponder> target() const { return target_.lock(); }
    void setTarget(std::weak_ptr<NSResponder> target) { target_ = std::move(target); }
    const std::string& identifier() const { return identifier_; }
    void setIdentifier(std::string identifier) { identifier_ = std::move(identifier); }
    int tag() const { return tag_; }
    void setTag(int tag) { tag_ = tag; }

    QKeySequence keyEquivalent() const;
    void setKeyEquivalent(const QKeySequence& keyEquivalent);

    bool isEnabled() const { return enabled_; }
    void setEnabled(bool enabled);
    NSControlStateValue state() const { return state_; }
    void setState(NSControlStateValue state);

    std::shared_ptr<NSMenu> submenu() const { return submenu_; }
    void setSubmenu(std::shared_ptr<NSMenu> submenu);
    std::shared_ptr<NSMenu> menu() const { return menu_.lock(); }

    QAction* qAction() const { return qAction_; }

private:
    friend class NSMenu;

    QAction* qAction_;
    std::string action_;
    std::weak_ptr<NSResponder> target_;
    std::string identifier_;
    int tag_ = 0;
    bool enabled_ = true;
    NSControlStateValue state_ = NSControlStateValueOff;
    std::shared_ptr<NSMenu> submenu_;
    std::weak_ptr<NSMenu> menu_;
};

} // namespace velmora
