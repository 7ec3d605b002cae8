#pragma once

#include "desktop/NSViewController.hpp"

#include <QComboBox>
#include <QPointer>
#include <QWidget>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velmora {

class NSSavePanel;

// The format chooser under the document's save panel: one item per writable
// format, the type identifier as the item's data. Choosing a format limits the
// panel to that type, so the file name's extension follows it, and warns
// that every format but the native one flattens the layers. Main thread only.
class SaveAccessoryViewController : public NSViewController {
public:
    static std::shared_ptr<SaveAccessoryViewController> make();

    // The panel that shows this accessory; set by the document.
    std::weak_ptr<NSSavePanel> savePanel;
    // The formats offered, in order; set before the view loads.
    std::vector<std::string> writableTypes;

    void loadView() override;
    void viewDidLoad() override;
    // Applies the chosen format to the (possibly new) panel.
    void viewWillAppear() override;
    // "selectFormat:", the chooser's action.
    void selectFormat();

    // The chosen item's type identifier.
    std::optional<std::string> selectedIdentifier();

    QComboBox* formatPopupButton() const { return formatPopupButton_; }
    QWidget* warningView() const { return warningView_; }

private:
    void applySelectedFormat();

    QPointer<QComboBox> formatPopupButton_;
    QPointer<QWidget> warningView_;
};

} // namespace velmora
