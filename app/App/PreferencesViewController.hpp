#pragma once

#include "App/Preferences.hpp"
#include "desktop/NSViewController.hpp"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPointer>

namespace velmora {

// The preferences pane: the screen for new documents, drawing with the mouse
// and the format conversion policy. While it lives it is the preferences'
// delegate and follows every change. Made with std::make_shared.
class PreferencesViewController final : public NSViewController, public PreferencesDelegate {
public:
    explicit PreferencesViewController(Preferences& preferences = Preferences::shared());

    // Outlets, valid once the view is loaded. The screen pop-up's first item is
    // "None"; item i + 1 names the i-th screen.
    QComboBox* preferredScreenPopupButton() const { return preferredScreenPopupButton_; }
    QLabel* preferredScreenHelpLabel() const { return preferredScreenHelpLabel_; }
    QCheckBox* allowDrawingWithMouseButton() const { return allowDrawingWithMouseButton_; }
    // Its items carry the policies' texts as their data.
    QComboBox* documentConversionPopupButton() const { return documentConversionPopupButton_; }

    void loadView() override;
    void viewDidLoad() override;
    void viewWillAppear() override;

    // Actions of the three controls.
    void selectPreferredScreen();
    void selectCanDrawWithMouse();
    void selectDocumentConversion();

    // Rebuilds the screen list too, so newly attached screens appear.
    void preferencesDidChange(Preferences& preferences) override;

private:
    void fillScreenPopup();
    void refresh();
    void updateHelpLabel();

    Preferences& preferences_;
    QPointer<QComboBox> preferredScreenPopupButton_;
    QPointer<QLabel> preferredScreenHelpLabel_;
    QPointer<QCheckBox> allowDrawingWithMouseButton_;
    QPointer<QComboBox> documentConversionPopupButton_;
};

} // namespace velmora
