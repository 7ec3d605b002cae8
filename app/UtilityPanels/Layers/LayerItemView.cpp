#include "UtilityPanels/Layers/LayerItemView.hpp"

#include "Canvas/LayerContainer.hpp"
#include "Document/FrontDocumentController.hpp"
#include "Document/ManagedDocument.hpp"
#include "desktop/UndoManager.hpp"
#include "foundation/FatalError.hpp"

#include <QHBoxLayout>
#include <QIcon>
#include <QPixmapCache>
#include <QStyle>
#include <algorithm>
#include <cmath>

namespace velmora {

namespace {

constexpr BlendMode blendModes[] = {BlendMode::sourceOver,  BlendMode::multiply,
                                    BlendMode::overlay,     BlendMode::linearBurn,
                                    BlendMode::linearDodge, BlendMode::eraser};

constexpr int iconSide = 16;

// Loading the folder image reads files: once for all rows.
QPixmap folderPixmap(const QStyle& style) {
    static const QString key = QStringLiteral("velmora.layerRow.folder");
    QPixmap pixmap;
    if (!QPixmapCache::find(key, &pixmap)) {
        const QIcon folder =
            QIcon::fromTheme(QStringLiteral("folder"), style.standardIcon(QStyle::SP_DirIcon));
        pixmap = folder.pixmap(iconSide, iconSide);
        QPixmapCache::insert(key, pixmap);
    }
    return pixmap;
}

} // namespace

// Joins the layer's and the slider button's weak subscriber lists for the row.
class LayerItemView::Forwarder : public LayerDelegate, public SliderButtonDelegate {
public:
    explicit Forwarder(LayerItemView* view) : view_(view) {}
    // A delegate pass may hold the forwarder past its row.
    void detach() { view_ = nullptr; }

    void layerDidChangeBlendMode(const std::shared_ptr<Layer>&, BlendMode, BlendMode) override {
        if (view_) {
            view_->layerDidChangeBlendMode();
        }
    }
    void layerDidChangeVisibility(const std::shared_ptr<Layer>&) override {
        if (view_) {
            view_->layerDidChangeVisibility();
        }
    }
    void layerDidChangeOpacity(const std::shared_ptr<Layer>&, float, float to) override {
        if (view_) {
            view_->layerDidChangeOpacity(to);
        }
    }
    void layerDidChangeName(const std::shared_ptr<Layer>&, const std::string&,
                            const std::string& to) override {
        if (view_) {
            view_->layerName->setText(QString::fromStdString(to));
        }
    }
    void sliderButtonDidStartLiveUpdate(SliderButton&) override {
        if (view_) {
            view_->sliderButtonDidStartLiveUpdate();
        }
    }
    void sliderButtonDidEndLiveUpdate(SliderButton&) override {
        if (view_) {
            view_->sliderButtonDidEndLiveUpdate();
        }
    }

private:
    LayerItemView* view_;
};

const char* LayerItemView::blendModeTitle(BlendMode mode) {
    switch (mode) {
    case BlendMode::sourceOver:
        return "Normal";
    case BlendMode::multiply:
        return "Multiply";
    case BlendMode::overlay:
        return "Overlay";
    case BlendMode::linearBurn:
        return "Linear Burn";
    case BlendMode::linearDodge:
        return "Linear Dodge";
    case BlendMode::eraser:
        return "Eraser";
    }
    fatalError("Internal inconcistency");
}

LayerItemView::LayerItemView(QWidget* parent, FrontDocument frontDocument)
    : QWidget(parent), frontDocument_(std::move(frontDocument)),
      forwarder_(std::make_shared<Forwarder>(this)) {
    if (!frontDocument_) {
        frontDocument_ = [] { return FrontDocumentController::shared().frontDocument(); };
    }
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(2, 2, 4, 2);
    layout->setSpacing(4);
    icon = new QLabel(this);
    icon->setFixedSize(iconSide, iconSide);
    layerName = new QuickEditTextFied(this);
    layerName->setFrame(false);
    layerName->setEditsOnClick(true); // a press on the name selects the row
    layerName->setAcceptDrops(false); // drags over the row belong to the outline
    blendModeListButton = new QComboBox(this);
    for (const BlendMode mode : blendModes) {
        blendModeListButton->addItem(
            blendModeTitle(mode),
            QString::fromUtf8(rawValue(mode).data(), qsizetype(rawValue(mode).size())));
    }
    visibilityButton = new QCheckBox(this);
    visibilityButton->setToolTip(QStringLiteral("Visible"));
    opacityButton = new SliderButton(this);
    opacityButton->setFixedWidth(opacityButton->fontMetrics().horizontalAdvance("100%") + 16);
    opacityButton->delegate = forwarder_;
    layout->addWidget(icon);
    layout->addWidget(layerName, 1);
    layout->addWidget(blendModeListButton);
    layout->addWidget(visibilityButton);
    layout->addWidget(opacityButton);

    // Only what the user does reaches the layer; showing a layer sends nothing.
    connect(layerName, &QLineEdit::editingFinished, this, [this] { forwardUpdate(layerName); });
    connect(blendModeListButton, &QComboBox::activated, this,
            [this] { forwardUpdate(blendModeListButton); });
    connect(visibilityButton, &QCheckBox::clicked, this,
            [this] { forwardUpdate(visibilityButton); });
    opacityButton->action = [this](SliderButton& button) { forwardUpdate(&button); };
}

LayerItemView::~LayerItemView() {
    // The button outlives this part of the row: its drag ends while the row can answer.
    if (opacityButton) {
        opacityButton->endLiveUpdate();
    }
    if (representedLayer_) {
        representedLayer_->delegates() -= forwarder_;
    }
    forwarder_->detach();
}

void LayerItemView::represent(const std::shared_ptr<Layer>& layer) {
    precondition(layer != nullptr, "A layer row needs a layer");
    if (representedLayer_) {
        representedLayer_->delegates() -= forwarder_;
    }
    representedLayer_ = layer;
    layer->delegates() += forwarder_;
    updateBlendModePopup();
    layerName->setText(QString::fromStdString(layer->name()));
    visibilityButton->setChecked(layer->visible());
    opacityButton->setInternalValue(std::clamp(double(layer->opacity()), 0.0, 1.0));
    opacityButton->updateTitle();
    if (asContainer(layer)) {
        icon->setPixmap(folderPixmap(*style()));
    } else {
        icon->clear();
    }
}

void LayerItemView::forwardUpdate(QObject* sender) {
    if (!representedLayer_) {
        return;
    }
    Layer& layer = *representedLayer_;
    if (sender == layerName) {
        layer.setName(layerName->text().toStdString());
    } else if (sender == blendModeListButton) {
        const auto mode =
            blendModeFromRawValue(blendModeListButton->currentData().toString().toStdString());
        if (!mode) {
            fatalError("Internal inconcistency");
        }
        layer.setBlendMode(*mode);
    } else if (sender == visibilityButton) {
        layer.setVisible(visibilityButton->isChecked());
    } else if (sender == opacityButton) {
        layer.setOpacity(float(std::lround(opacityButton->internalValue() * 100)) / 100.0f);
    }
}

void LayerItemView::updateBlendModePopup() {
    if (!representedLayer_) {
        fatalError("Internal inconcistency");
    }
    const QString mode = QString::fromUtf8(rawValue(representedLayer_->blendMode()).data());
    blendModeListButton->setCurrentIndex(blendModeListButton->findData(mode));
}

void LayerItemView::layerDidChangeBlendMode() {
    updateBlendModePopup();
}

void LayerItemView::layerDidChangeVisibility() {
    visibilityButton->setChecked(representedLayer_->visible());
}

void LayerItemView::layerDidChangeOpacity(float to) {
    opacityButton->setInternalValue(std::clamp(double(to), 0.0, 1.0));
    opacityButton->updateTitle();
}

void LayerItemView::sliderButtonDidStartLiveUpdate() {
    const auto document = std::dynamic_pointer_cast<ManagedDocument>(frontDocument_());
    if (!document) {
        return;
    }
    // The document's own manager: an undo lock does not hide it.
    const auto manager = document->NSDocument::undoManager();
    if (!manager) {
        fatalError("Internal inconcistency");
    }
    documentUndoManager_ = manager;
    manager->beginUndoGrouping();
    beganUndoGroup_ = true;
}

void LayerItemView::sliderButtonDidEndLiveUpdate() {
    if (const auto manager = documentUndoManager_.lock(); manager && beganUndoGroup_) {
        manager->endUndoGrouping();
    }
    beganUndoGroup_ = false;
    documentUndoManager_.reset();
}

} // namespace velmora
