#pragma once

#include "desktop/NSViewController.hpp"
#include "foundation/Timer.hpp"

#include <memory>

namespace velmora {

// A view controller that dismisses itself `timeout` seconds after it appeared;
// disappearing by other means cancels the pending dismissal. Main thread only.
class AutoDismissViewController : public NSViewController {
public:
    AutoDismissViewController() = default;
    ~AutoDismissViewController() override;

    double timeout() const { return timeout_; }
    void setTimeout(double seconds) { timeout_ = seconds; }
    const std::shared_ptr<Timer>& dismissTimer() const { return dismissTimer_; }

    void viewDidAppear() override;
    void viewDidDisappear() override;
    // Restarts the countdown.
    void scheduleDismissal();

private:
    double timeout_ = 3.0;
    std::shared_ptr<Timer> dismissTimer_;
};

} // namespace velmora
