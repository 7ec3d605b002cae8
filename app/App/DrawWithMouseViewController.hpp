#pragma once

#include "desktop/NSViewController.hpp"

class QCheckBox;

namespace velmora {

// The warning's content: its text, the check box and the two answers.
class DrawWithMouseViewController : public NSViewController {
public:
    void loadView() override;
    void viewDidAppear() override;

    void keepDisabled();
    void enableDrawingWithMouse();
    void warningCheckBoxChanged(bool checked);

private:
    void endModal();
};

} // namespace velmora
