#pragma once

#include "desktop/NSModalResponse.hpp"

#include <QPointer>
#include <QWidget>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QMessageBox;

namespace velmora {

class NSWindow;

enum class NSAlertStyle { warning = 0, informational = 1, critical = 2 };

// A message with buttons over QMessageBox. Buttons answer 1000, 1001, ... in
// the order they were added; the first is the default (Return) and one titled
// "Cancel" answers Escape. Without buttons the alert has a single "OK".
class NSAlert {
public:
    using Responder = std::function<NSModalResponse(const NSAlert&)>;

    NSAlert() = default;
    // The error's text as the message: what() for a standard exception.
    static std::shared_ptr<NSAlert> alertWithError(const std::exception& error);

    std::string messageText;
    std::string informativeText;
    NSAlertStyle alertStyle = NSAlertStyle::warning;
    // Shown under the texts; the alert's box takes it over while it runs.
    QPointer<QWidget> accessoryView;

    // Answers the index's response.
    NSModalResponse addButtonWithTitle(std::string title);
    const std::vector<std::string>& buttonTitles() const { return buttons_; }

    // Runs the alert in its own modal loop and answers the chosen button's response.
    NSModalResponse runModal();
    // Window-modal over the window; the handler gets the response later, on the main thread.
    void beginSheetModalForWindow(const std::shared_ptr<NSWindow>& window,
                                  std::function<void(NSModalResponse)> completionHandler);

    // The box that runs the alert, for callers that show it themselves; its
    // button's response is `responseFor(box, clicked button)`.
    std::unique_ptr<QMessageBox> makeMessageBox(QWidget* parent = nullptr) const;
    static NSModalResponse responseFor(const QMessageBox& box);

    // Tests answer in place of a person: while set, alerts are not shown and the
    // responder's answer is returned (or handed to the sheet's handler).
    static void setTestResponder(Responder responder);

private:
    std::vector<std::string> buttons_;
};

} // namespace velmora
