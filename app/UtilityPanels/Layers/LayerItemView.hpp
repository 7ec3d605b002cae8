#pragma once

#include "Canvas/Layer.hpp"
#include "UtilityPanels/Layers/SliderButton.hpp"
#include "Utils/QuickEditTextFied.hpp"
#include "desktop/RegistrationUndoManager.hpp"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPointer>
#include <QWidget>
#include <functional>
#include <memory>

namespace velmora {

class NSDocument;

// One row of the layers outline: a folder icon for a group, the name, the
// blend mode, visibility and opacity of one layer. The row follows the
// layer's changes and writes the user's edits back into the layer, one
// property per edit, whose subscribers make them undoable. One opacity drag
// is one undo group of the front document.
class LayerItemView : public QWidget {
public:
    using FrontDocument = std::function<std::shared_ptr<NSDocument>()>;

    // `frontDocument`: the front document tracker's by default.
    explicit LayerItemView(QWidget* parent = nullptr, FrontDocument frontDocument = {});
    ~LayerItemView() override;

    QPointer<QLabel> icon;
    QPointer<QuickEditTextFied> layerName;
    QPointer<QComboBox> blendModeListButton;
    QPointer<QCheckBox> visibilityButton;
    QPointer<SliderButton> opacityButton;

    std::shared_ptr<RegistrationUndoManager> documentUndoManager() const {
        return documentUndoManager_.lock();
    }
    const std::shared_ptr<Layer>& representedLayer() const { return representedLayer_; }

    // Shows the layer and follows it, leaving the one shown before.
    void represent(const std::shared_ptr<Layer>& layer);
    // Writes the control that the user changed into the layer.
    void forwardUpdate(QObject* sender);

    // The blend mode titles, in the order of the modes.
    static const char* blendModeTitle(BlendMode mode);

private:
    class Forwarder;
    friend class Forwarder;

    void updateBlendModePopup();
    void layerDidChangeBlendMode();
    void layerDidChangeVisibility();
    void layerDidChangeOpacity(float to);
    void sliderButtonDidStartLiveUpdate();
    void sliderButtonDidEndLiveUpdate();

    FrontDocument frontDocument_;
    std::shared_ptr<Forwarder> forwarder_;
    std::shared_ptr<Layer> representedLayer_;
    std::weak_ptr<RegistrationUndoManager> documentUndoManager_;
    bool beganUndoGroup_ = false;
};

} // namespace velmora
