#pragma once

#include "Utils/ThrottledClipView.hpp"

#include <QPointer>
#include <QTableView>

namespace velmora {

// The brush list's table: a row drag sets the clip view's speed limit for
// its length, and the drag's autoscrolling goes through the clip view.
class BrushTableView : public QTableView {
public:
    static constexpr double dragScrollingLimit = 300.0;

    explicit BrushTableView(QWidget* parent = nullptr);

    ThrottledClipView& clipView() const { return *clipView_; }

protected:
    void startDrag(Qt::DropActions supportedActions) override;
    void timerEvent(QTimerEvent* event) override;

private:
    QPointer<ThrottledClipView> clipView_;
};

} // namespace velmora
