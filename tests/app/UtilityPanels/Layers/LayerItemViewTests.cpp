#include "../../Document/Viewers/DrawingTestSupport.hpp"
#include "Document/Document.hpp"
#include "UtilityPanels/Layers/LayerItemView.hpp"
#include "desktop/NSCursor.hpp"
#include "desktop/NSPanel.hpp"

#include <QApplication>
#include <QMouseEvent>
#include <QTest>
#include <QVBoxLayout>
#include <gtest/gtest.h>

namespace velmora {
namespace {

using testing::DrawingRig;
using testing::endTurn;

// Counts what a layer tells its subscribers.
struct LayerCalls : LayerDelegate {
    int blendModes = 0, visibilities = 0, opacities = 0;
    void layerDidChangeBlendMode(const std::shared_ptr<Layer>&, BlendMode, BlendMode) override {
        ++blendModes;
    }
    void layerDidChangeVisibility(const std::shared_ptr<Layer>&) override { ++visibilities; }
    void layerDidChangeOpacity(const std::shared_ptr<Layer>&, float, float) override {
        ++opacities;
    }
    void layerDidChangeName(const std::shared_ptr<Layer>&, const std::string&,
                            const std::string&) override {}
};

void sendMouse(QWidget* widget, QEvent::Type type, double globalX, Qt::MouseButtons buttons) {
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, QPointF(10, 5), QPointF(globalX, 300), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

// Presses, moves by each step (one event-loop turn apart) and releases.
void drag(SliderButton* button, const std::vector<double>& steps, bool release = true) {
    double x = 500;
    sendMouse(button, QEvent::MouseButtonPress, x, Qt::LeftButton);
    for (const double step : steps) {
        x += step;
        sendMouse(button, QEvent::MouseMove, x, Qt::LeftButton);
        endTurn();
    }
    if (release) {
        sendMouse(button, QEvent::MouseButtonRelease, x, Qt::NoButton);
    }
}

// A row over the rig's background layer, whose front document shares the
// drawing controller's undo manager.
struct RowRig : DrawingRig {
    std::shared_ptr<Document> front = std::make_shared<Document>();
    std::shared_ptr<NSDocument> shownFront = front;
    UndoManager& undo = *document->undoManager;
    LayerItemView row{nullptr, [this] { return shownFront; }};
    int actions = 0;

    RowRig() {
        front->setUndoManager(document->undoManager);
        row.represent(background);
        auto previous = row.opacityButton->action;
        row.opacityButton->action = [this, previous](SliderButton& b) {
            ++actions;
            previous(b);
        };
        endTurn();
        undo.removeAllActions();
    }

    // Another row over the background, laid out in `panel`, which is shown.
    LayerItemView* rowShownIn(NSPanel& panel) {
        auto* content = new QWidget;
        auto* layout = new QVBoxLayout(content);
        auto* shown = new LayerItemView(content, [this] { return shownFront; });
        layout->addWidget(shown);
        shown->represent(background);
        panel.setContentView(content);
        panel.orderFront();
        return shown;
    }
};

TEST(LayerItemView, OpacityDragsMoveByAQuarterPerCentAPoint) {
    struct Case {
        const char* name;
        double start;
        std::vector<double> steps;
        float opacity;
        const char* title;
        int actions;
    };
    const Case cases[] = {
        {"40 points left", 1, {-40}, 0.9f, "90%", 1},
        {"40 points left in ten steps", 1, std::vector<double>(10, -4), 0.9f, "90%", 10},
        {"past the right end", 0.5, {100, 150}, 1.0f, "100%", 2},
        {"past the left end", 0.5, {-150, -200}, 0.0f, "0%", 2},
        {"small steps", 1, {-1, 1, -1}, 1.0f, "100%", 0},
        {"small steps adding up", 1, {-1, -1, -1}, 0.99f, "99%", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RowRig rig;
        rig.background->setOpacity(float(c.start));
        endTurn();
        rig.undo.removeAllActions();
        drag(rig.row.opacityButton, c.steps);
        endTurn();
        EXPECT_FLOAT_EQ(rig.background->opacity(), c.opacity);
        EXPECT_EQ(rig.row.opacityButton->text().toStdString(), c.title);
        EXPECT_EQ(rig.actions, c.actions);
        EXPECT_EQ(rig.undo.groupingLevel(), 0);
        EXPECT_EQ(rig.undo.canUndo(), c.actions > 0) << "no group without a change";
    }
}

TEST(LayerItemView, OneDragIsUndoneAtOnce) {
    RowRig rig;
    drag(rig.row.opacityButton, {-8, -8, -8, -8, -8});
    endTurn();
    EXPECT_FLOAT_EQ(rig.background->opacity(), 0.9f);
    EXPECT_EQ(rig.actions, 5);
    EXPECT_EQ(rig.undo.undoActionName(), "Layer Opacity Change");
    rig.undo.undo();
    EXPECT_FLOAT_EQ(rig.background->opacity(), 1.0f);
    EXPECT_FALSE(rig.undo.canUndo());
    EXPECT_EQ(rig.row.opacityButton->text().toStdString(), "100%") << "the row follows the layer";
}

TEST(LayerItemView, EachControlWritesOnlyItsOwnProperty) {
    RowRig rig;
    rig.background->setOpacity(0.333f);
    endTurn();
    rig.undo.removeAllActions();
    const auto calls = std::make_shared<LayerCalls>();
    rig.background->delegates() += std::static_pointer_cast<LayerDelegate>(calls);

    rig.row.layerName->setText("Renamed");
    emit rig.row.layerName->editingFinished();
    EXPECT_EQ(rig.background->name(), "Renamed");
    EXPECT_FLOAT_EQ(rig.background->opacity(), 0.333f);

    rig.row.visibilityButton->click();
    EXPECT_FALSE(rig.background->visible());
    rig.row.blendModeListButton->setCurrentIndex(1);
    emit rig.row.blendModeListButton->activated(1);
    EXPECT_EQ(rig.background->blendMode(), BlendMode::multiply);
    EXPECT_EQ(calls->opacities, 0);
    EXPECT_EQ(calls->visibilities, 1);
    EXPECT_EQ(calls->blendModes, 1);
    endTurn();
    EXPECT_EQ(rig.undo.undoActionName(), "Blend Mode Change");

    // Changes of the layer show without writing back.
    rig.background->setBlendMode(BlendMode::eraser);
    rig.background->setVisible(true);
    EXPECT_EQ(rig.row.blendModeListButton->currentText().toStdString(), "Eraser");
    EXPECT_TRUE(rig.row.visibilityButton->isChecked());
    EXPECT_EQ(calls->blendModes, 2);
    EXPECT_EQ(calls->visibilities, 2);
}

TEST(LayerItemView, ALiveUpdateEndsOnlyTheGroupItBegan) {
    RowRig rig;
    // Begun without a front document: nothing to end on another document.
    rig.shownFront = nullptr;
    drag(rig.row.opacityButton, {-20}, false);
    rig.shownFront = rig.front;
    sendMouse(rig.row.opacityButton, QEvent::MouseButtonRelease, 480, Qt::NoButton);
    EXPECT_EQ(rig.undo.groupingLevel(), 0);
    EXPECT_EQ(rig.row.documentUndoManager(), nullptr);

    drag(rig.row.opacityButton, {-20});
    endTurn();
    EXPECT_EQ(rig.undo.groupingLevel(), 0);
    EXPECT_EQ(rig.row.documentUndoManager(), nullptr) << "forgotten after the drag";
}

TEST(LayerItemView, LeavingTheWindowMidDragPopsTheCursorAndClosesTheGroup) {
    RowRig rig;
    const size_t depth = NSCursor::stackDepth();
    auto panel = std::make_shared<NSPanel>();
    auto* content = new QWidget;
    auto* row = new LayerItemView(content, [&] { return rig.shownFront; });
    row->represent(rig.background);
    panel->setContentView(content);
    panel->orderFront();
    drag(row->opacityButton, {-20, -20}, false);
    EXPECT_EQ(NSCursor::stackDepth(), depth + 1);
    EXPECT_GT(rig.undo.groupingLevel(), 0);
    panel->close();
    EXPECT_EQ(NSCursor::stackDepth(), depth);
    endTurn();
    EXPECT_EQ(rig.undo.groupingLevel(), 0);

    // A row deleted mid-drag closes its group too.
    auto* other = new LayerItemView(nullptr, [&] { return rig.shownFront; });
    other->represent(rig.background);
    drag(other->opacityButton, {-20}, false);
    EXPECT_GT(rig.undo.groupingLevel(), 0);
    delete other;
    endTurn();
    EXPECT_EQ(rig.undo.groupingLevel(), 0);
    EXPECT_EQ(NSCursor::stackDepth(), depth);
}

TEST(LayerItemView, ARowFollowsOnlyTheLayerItShows) {
    RowRig rig;
    const auto group = GroupLayer::make("Group");
    rig.row.represent(group);
    EXPECT_FALSE(rig.row.icon->pixmap().isNull());
    EXPECT_EQ(rig.row.layerName->text().toStdString(), "Group");
    rig.row.represent(rig.background);
    EXPECT_TRUE(rig.row.icon->pixmap().isNull());
    group->setOpacity(0.5f);
    EXPECT_EQ(rig.row.opacityButton->text().toStdString(), "100%");
    EXPECT_FALSE(group->delegates().containsDelegate(nullptr));
}

TEST(LayerItemView, AClickSelectsTheWholeNameAndMakesThePanelKey) {
    RowRig rig;
    auto panel = std::make_shared<NSPanel>();
    panel->setBecomesKeyOnlyIfNeeded(true);
    auto* row = rig.rowShownIn(*panel);
    ASSERT_FALSE(panel->isKeyWindow());
    QTest::mouseClick(row->layerName, Qt::LeftButton, {}, QPoint(3, 3));
    QApplication::processEvents();
    EXPECT_TRUE(panel->isKeyWindow());
    EXPECT_EQ(row->layerName->selectedText().toStdString(), "Background");
}

TEST(LayerItemView, ANameTypedInARowIsAnUndoableEditOfTheDocument) {
    RowRig rig;
    auto panel = std::make_shared<NSPanel>();
    auto* row = rig.rowShownIn(*panel);
    ASSERT_FALSE(rig.front->isDocumentEdited());
    const auto rename = [&](const char* typed) {
        QTest::mouseClick(row->layerName, Qt::LeftButton, {}, QPoint(3, 3));
        QApplication::processEvents();
        QTest::keyClicks(row->layerName, typed);
        QTest::keyClick(row->layerName, Qt::Key_Return);
        endTurn();
    };
    rename("Sky");
    EXPECT_EQ(rig.background->name(), "Sky");
    EXPECT_TRUE(rig.front->isDocumentEdited());
    EXPECT_EQ(rig.undo.undoMenuItemTitle(), "Undo Layer Name Change");

    rig.undo.undo();
    EXPECT_EQ(rig.background->name(), "Background");
    EXPECT_EQ(row->layerName->text().toStdString(), "Background") << "the row follows the undo";
    EXPECT_FALSE(rig.front->isDocumentEdited());
    EXPECT_EQ(rig.undo.redoMenuItemTitle(), "Redo Layer Name Change");
    rig.undo.redo();
    EXPECT_EQ(rig.background->name(), "Sky");
    EXPECT_EQ(row->layerName->text().toStdString(), "Sky");

    // The same name typed again changes nothing and leaves no entry.
    rename("Sky");
    rig.undo.undo();
    EXPECT_EQ(rig.background->name(), "Background");
    EXPECT_FALSE(rig.undo.canUndo());
}

} // namespace
} // namespace velmora
