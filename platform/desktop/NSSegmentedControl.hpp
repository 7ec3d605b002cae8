#pragma once

#include <QIcon>
#include <QPointer>
#include <QToolButton>
#include <QWidget>
#include <functional>
#include <string>
#include <vector>

namespace velmora {

// A row of momentary segments: clicking one selects it for the length of the
// action, which reads `selectedSegment()`.
class NSSegmentedControl : public QWidget {
public:
    explicit NSSegmentedControl(QWidget* parent = nullptr);
    using QWidget::isEnabled;
    using QWidget::setEnabled;

    int segmentCount() const { return int(segments_.size()); }
    void setSegmentCount(int count);
    void setLabel(const std::string& label, int segment);
    std::string label(int segment) const;
    void setImage(const QIcon& image, int segment);
    void setEnabled(bool enabled, int segment);
    bool isEnabled(int segment) const;
    // -1 outside an action.
    int selectedSegment() const { return selected_; }

    std::function<void(NSSegmentedControl&)> action;
    // As a click on an enabled segment does.
    void performClick(int segment);

private:
    std::vector<QPointer<QToolButton>> segments_;
    int selected_ = -1;
};

} // namespace velmora
