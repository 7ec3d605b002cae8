// A crash from the debug menu leaves a report that the next launch asks about.
#include "acceptance/Phases.hpp"
#include "acceptance/Steps.hpp"

#include <QAbstractButton>
#include <QMessageBox>
#include <cstdlib>
#include <filesystem>

namespace velmora::acceptance {

namespace {

std::filesystem::path crashFolder() {
    return std::filesystem::path(std::getenv("XDG_STATE_HOME")) / "velmora" / "Crashes";
}

int reportCount() {
    int count = 0;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(crashFolder(), error)) {
        count += entry.path().extension() == ".crash" ? 1 : 0;
    }
    return count;
}

} // namespace

void crashPhase(Driver& d) {
    d.step("crash");
    d.check(reportCount() == 0, "no crash report before the crash");
    d.screenshot("before-crash");
    // The program ends here; the runner checks how and what it left.
    chooseMenu(d, "Help", "Crash on Purpose");
}

void afterCrashPhase(Driver& d) {
    d.step("after-crash");
    QMessageBox* box = nullptr;
    d.waitUntil(
        [&] { return (box = qobject_cast<QMessageBox*>(Driver::activeModal())) != nullptr; });
    if (!d.check(box != nullptr, "the launch asks about the crash")) {
        quit(d);
        return;
    }
    d.screenshot("crash-prompt");
    const auto [message, informative, buttons] = d.onMain([&] {
        QStringList titles;
        for (QAbstractButton* button : box->buttons()) {
            titles << button->text();
        }
        titles.sort();
        return std::make_tuple(box->text().toStdString(), box->informativeText().toStdString(),
                               titles.join(",").toStdString());
    });
    d.check(message == "Oops! It looks like Velmora has crashed during the previous session.",
            "the prompt's message: " + message);
    d.check(informative == "Do you want to send an anonymous crash report to help fix this issue?",
            "the prompt's question: " + informative);
    d.check(buttons == "Always send,Don't send,Send", "its three answers: " + buttons);
    clickInModal(d, "Don't send");
    d.check(d.waitUntil([] { return Driver::activeModal() == nullptr; }), "the prompt closes");
    d.check(d.waitUntil([] { return reportCount() == 0; }, 5), "the report is discarded");
    quit(d);
}

} // namespace velmora::acceptance
