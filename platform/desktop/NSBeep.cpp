#include "desktop/NSBeep.hpp"

#include <QApplication>

namespace velmora {

namespace {

std::function<void()>& beepHandler() {
    static std::function<void()> handler;
    return handler;
}

} // namespace

void NSBeep() {
    if (const auto& handler = beepHandler()) {
        handler();
    } else {
        QApplication::beep();
    }
}

void setBeepHandler(std::function<void()> handler) {
    beepHandler() = std::move(handler);
}

} // namespace velmora
