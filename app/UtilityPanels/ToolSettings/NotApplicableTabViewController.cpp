#include "UtilityPanels/ToolSettings/NotApplicableTabViewController.hpp"

#include "Rendering/DrawingSettings.hpp"

#include <QGraphicsOpacityEffect>
#include <QLabel>
#include <QPropertyAnimation>
#include <QVBoxLayout>

namespace velmora {

NotApplicableTabViewController::NotApplicableTabViewController(
    std::shared_ptr<NSViewController> settings)
    : settings_(std::move(settings)) {}

void NotApplicableTabViewController::loadView() {
    auto* view = new QWidget;
    auto* layout = new QVBoxLayout(view);
    layout->setContentsMargins(0, 0, 0, 0);
    tabView = new QStackedWidget(view);
    auto* notApplicable = new QLabel(QStringLiteral("The current tool has no settings."));
    notApplicable->setAlignment(Qt::AlignCenter);
    notApplicable->setWordWrap(true);
    tabView->addWidget(notApplicable);
    layout->addWidget(tabView);
    setView(view);
}

void NotApplicableTabViewController::viewDidLoad() {
    NSViewController::viewDidLoad();
    addChildViewController(settings_);
    tabView->addWidget(settings_->view());
    DrawingSettings& settings = DrawingSettings::shared();
    settings.delegates += sharedAs<NotApplicableTabViewController>();
    selectTab(hasDrawingSettings(settings.currentTool()) ? 1 : 0, false);
}

void NotApplicableTabViewController::selectTab(int index, bool animated) {
    if (!tabView || index == tabView->currentIndex()) {
        return;
    }
    tabView->setCurrentIndex(index);
    QWidget* page = tabView->currentWidget();
    if (!animated || !page) {
        return;
    }
    auto* fade = new QGraphicsOpacityEffect(page);
    fade->setOpacity(0);
    page->setGraphicsEffect(fade);
    auto* animation = new QPropertyAnimation(fade, "opacity", fade);
    animation->setDuration(animationMilliseconds);
    animation->setEndValue(1.0);
    // The effect goes with the fade: a page in view is drawn without one.
    QObject::connect(animation, &QPropertyAnimation::finished, page,
                     [page] { page->setGraphicsEffect(nullptr); });
    animation->start();
}

void NotApplicableTabViewController::drawingSettingsDidUpdateActiveTool(DrawingSettings&,
                                                                        DrawingTool tool) {
    selectTab(hasDrawingSettings(tool) ? 1 : 0, true);
}

} // namespace velmora
