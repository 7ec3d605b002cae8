#pragma once

#include "support/WriteGate.hpp"

#include <QApplication>
#include <QLabel>
#include <QPointer>
#include <QProgressDialog>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace velmora::test {

// Opens the gate once for each save progress that comes on the screen, noting
// its text followed by what `state` tells then (whether the document was
// closed by then, say). Only the wait with its progress shown handles the
// main thread's events that this watch runs on.
class SaveProgressWatch {
public:
    SaveProgressWatch(std::shared_ptr<WriteGate> gate, std::function<std::string()> state) {
        QObject::connect(
            &timer_, &QTimer::timeout, [this, gate = std::move(gate), state = std::move(state)] {
                for (auto* widget : QApplication::topLevelWidgets()) {
                    auto* progress = qobject_cast<QProgressDialog*>(widget);
                    if (progress == nullptr || !progress->isVisible() || progress == last_) {
                        continue;
                    }
                    last_ = progress;
                    const auto* label = progress->findChild<QLabel*>();
                    shown.push_back((label ? label->text().toStdString() : "") + state());
                    gate->open();
                }
            });
        timer_.start(10);
    }

    std::vector<std::string> shown;

private:
    QPointer<QProgressDialog> last_;
    QTimer timer_;
};

} // namespace velmora::test
