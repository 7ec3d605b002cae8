#include "App/CrashPrompt.hpp"

#include "desktop/NSAlert.hpp"
#include "foundation/CrashReporter.hpp"

#include <QGuiApplication>

namespace velmora {

std::optional<UserConfirmation> crashConfirmation(NSModalResponse response) {
    switch (response) {
    case NSAlertFirstButtonReturn:
        return UserConfirmation::always;
    case NSAlertSecondButtonReturn:
        return UserConfirmation::send;
    case NSAlertThirdButtonReturn:
        return UserConfirmation::dontSend;
    default:
        return std::nullopt;
    }
}

UserConfirmationHandler makeCrashConfirmationHandler() {
    return [](const std::vector<std::filesystem::path>&) {
        NSAlert alert;
        alert.messageText = "Oops! It looks like " +
                            QGuiApplication::applicationDisplayName().toStdString() +
                            " has crashed during the previous session.";
        alert.informativeText =
            "Do you want to send an anonymous crash report to help fix this issue?";
        alert.alertStyle = NSAlertStyle::warning;
        alert.addButtonWithTitle("Always send");
        alert.addButtonWithTitle("Send");
        alert.addButtonWithTitle("Don't send");
        if (const auto answer = crashConfirmation(alert.runModal())) {
            CrashReporter::notifyWithUserConfirmation(*answer);
        }
        return true;
    };
}

} // namespace velmora
