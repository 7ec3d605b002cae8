#include "Rendering/DrawingSettings.hpp"
#include "UtilityPanels/Tools/BrushListModel.hpp"
#include "UtilityPanels/Tools/BrushTableView.hpp"
#include "UtilityPanels/Tools/ToolsPresetsViewController.hpp"
#include "UtilityPanels/Tools/ToolsPresetsWindowController.hpp"
#include "UtilityPanels/UtilityPanelStoryboards.hpp"
#include "desktop/NSAlert.hpp"
#include "desktop/NSPanel.hpp"
#include "desktop/NSSegmentedControl.hpp"
#include "desktop/NSStoryboard.hpp"
#include "desktop/NSWindow.hpp"

#include <QApplication>
#include <QLineEdit>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>
#include <filesystem>
#include <gtest/gtest.h>

namespace velmora {
namespace {

namespace fs = std::filesystem;

class ToolsPresetsTest : public ::testing::Test {
protected:
    void SetUp() override {
        settings.setUsingStylusEraser(false);
        settings.setPersistentTool(DrawingTool::brush);
        auto store = std::make_unique<BrushStore>(std::nullopt, URL::fileURL(folder, true));
        for (const char* name : {"A", "B", "C", "D"}) {
            Brush brush;
            brush.name = name;
            store->add(brush, store->brushesOrder().size());
        }
        panel = std::make_shared<ToolsPresetsViewController>(std::move(store));
        panel->askConfirmationToDeleteBrush = [this](const std::string& name) {
            asked.push_back(name);
            return answer;
        };
        panel->loadViewIfNeeded();
    }
    void TearDown() override { settings.setPersistentTool(DrawingTool::brush); }

    std::vector<std::string> names() {
        std::vector<std::string> result;
        for (int row = 0; row < panel->model().rowCount(); ++row) {
            result.push_back(panel->model().index(row, 0).data().toString().toStdString());
        }
        return result;
    }
    const Brush& brushAt(int row) {
        return panel->brushStore()
            .brushes()
            .at(panel->brushStore().brushesOrder()[std::size_t(row)])
            .brush;
    }
    std::unique_ptr<QMimeData> dragOf(int row) {
        return std::unique_ptr<QMimeData>(panel->model().mimeData({panel->model().index(row, 0)}));
    }
    std::size_t fileCount() {
        return std::size_t(std::distance(fs::directory_iterator(folder), {}));
    }

    QTemporaryDir temporary;
    fs::path folder = fs::path(temporary.path().toStdString()) / "Brushes";
    DrawingSettings& settings = DrawingSettings::shared();
    std::shared_ptr<ToolsPresetsViewController> panel;
    std::vector<std::string> asked;
    bool answer = true;
};

TEST_F(ToolsPresetsTest, RowsAreDroppedBetweenRowsOnly) {
    BrushListModel& model = panel->model();
    const auto drag = dragOf(0);
    EXPECT_EQ(drag->data("Velmora.Brush").toStdString(), brushAt(0).uuid.uuidString());
    // Onto a row: refused while dragging.
    EXPECT_FALSE(model.canDropMimeData(drag.get(), Qt::CopyAction, -1, -1, model.index(2, 0)));
    EXPECT_TRUE(model.canDropMimeData(drag.get(), Qt::CopyAction, 2, 0, {}));
    // Above itself or above the next row: nothing moves.
    for (int row : {0, 1}) {
        EXPECT_FALSE(model.dropMimeData(drag.get(), Qt::CopyAction, row, 0, {})) << row;
    }
    EXPECT_EQ(names(), (std::vector<std::string>{"A", "B", "C", "D"}));
    // Row 0 above row 3 goes to position 2; below the last row to the end.
    EXPECT_TRUE(model.dropMimeData(drag.get(), Qt::CopyAction, 3, 0, {}));
    EXPECT_EQ(names(), (std::vector<std::string>{"B", "C", "A", "D"}));
    EXPECT_TRUE(model.dropMimeData(dragOf(0).get(), Qt::CopyAction, -1, -1, {}));
    EXPECT_EQ(names(), (std::vector<std::string>{"C", "A", "D", "B"}));
    // Texts that name no brush are refused.
    QMimeData stranger;
    stranger.setData("Velmora.Brush", "not a uuid");
    EXPECT_FALSE(model.dropMimeData(&stranger, Qt::CopyAction, 0, 0, {}));
    stranger.setData("Velmora.Brush", QByteArray::fromStdString(UUID().uuidString()));
    EXPECT_FALSE(model.dropMimeData(&stranger, Qt::CopyAction, 0, 0, {}));
}

TEST_F(ToolsPresetsTest, RowsDraggedWithThePointerMoveBetweenRowsOnly) {
    struct Case {
        const char* name;
        int row;     // the row dragged
        int target;  // the row dropped at
        bool middle; // onto the row's middle, else just below its top
        bool accepted;
        std::vector<std::string> order;
    };
    const Case cases[] = {
        {"onto the middle of a row", 0, 2, true, false, {"A", "B", "C", "D"}},
        {"onto the middle of the last row", 1, 3, true, false, {"A", "B", "C", "D"}},
        {"above a row", 0, 3, false, true, {"B", "C", "A", "D"}},
    };
    auto window = std::make_shared<NSPanel>(CGRect{{0, 0}, {240, 300}});
    window->setContentView(panel->view());
    window->orderFront();
    QApplication::processEvents();
    BrushTableView& table = *panel->tableView;
    QWidget* viewport = table.viewport();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QRect from = table.visualRect(panel->model().index(c.row, 0));
        const QRect target = table.visualRect(panel->model().index(c.target, 0));
        const QPoint to(target.left() + 4, c.middle ? target.center().y() : target.top() + 1);
        bool dragged = false, accepted = false;
        Qt::DropAction shown = Qt::IgnoreAction;
        // The offscreen platform ends a drag at once: while the table's drag
        // is under way its viewport gets the drag events a pointer would send.
        table.draggingSessionWillBegin = [&](const QMimeData& data, Qt::DropActions actions) {
            dragged = true;
            QDragEnterEvent enter(to - QPoint(0, 1), actions, &data, Qt::LeftButton, {});
            QApplication::sendEvent(viewport, &enter);
            QDragMoveEvent move(to, actions, &data, Qt::LeftButton, {});
            QApplication::sendEvent(viewport, &move);
            accepted = move.isAccepted();
            shown = move.dropAction();
            // Delivered even when refused: the drop must refuse it too.
            QDropEvent drop(to, actions, &data, Qt::LeftButton, {});
            QApplication::sendEvent(viewport, &drop);
        };
        const QPoint start = from.center();
        QTest::mousePress(viewport, Qt::LeftButton, {}, start);
        QTest::mouseMove(viewport, start + QPoint(0, 2));
        QTest::mouseMove(viewport, start + QPoint(0, 20));
        QTest::mouseRelease(viewport, Qt::LeftButton, {}, start + QPoint(0, 20));
        QApplication::processEvents();
        EXPECT_TRUE(dragged);
        EXPECT_EQ(accepted, c.accepted);
        if (c.accepted) {
            EXPECT_EQ(shown, Qt::MoveAction);
        }
        EXPECT_EQ(names(), c.order);
    }
    window->close();
}

TEST_F(ToolsPresetsTest, ANameTypedWhileAnotherWindowIsKeyReachesTheBrush) {
    auto window = std::make_shared<NSPanel>(CGRect{{300, 0}, {240, 300}});
    window->setBecomesKeyOnlyIfNeeded(true);
    window->setContentView(panel->view());
    window->orderFront();
    auto document = std::make_shared<NSWindow>();
    auto* stray = new QLineEdit;
    document->setContentView(stray);
    document->makeKeyAndOrderFront();
    QApplication::processEvents();
    ASSERT_EQ(QGuiApplication::focusWindow(), document->widget()->windowHandle());

    const QRect row = panel->tableView->visualRect(panel->model().index(1, 0));
    QTest::mouseDClick(window->widget()->windowHandle(), Qt::LeftButton, {},
                       panel->tableView->viewport()->mapTo(window->widget(), row.center()));
    QApplication::processEvents();
    // The keys go where the window system sends them: to the key window.
    QWindow* keys = QGuiApplication::focusWindow();
    for (const char key : std::string("Ink")) {
        QTest::keyClick(keys, key);
    }
    QTest::keyClick(keys, Qt::Key_Return);
    QApplication::processEvents();
    // The edit over, the keys are the document window's again.
    EXPECT_TRUE(document->isKeyWindow());
    EXPECT_EQ(names(), (std::vector<std::string>{"A", "Ink", "C", "D"}));
    EXPECT_TRUE(stray->text().isEmpty());
    window->close();
    document->close();
}

// Qt's warnings and worse, while it lives.
class QtMessages {
public:
    QtMessages() { previous_ = qInstallMessageHandler(&record); }
    ~QtMessages() { qInstallMessageHandler(previous_); }
    static std::vector<std::string>& recorded() {
        static std::vector<std::string> messages;
        return messages;
    }

private:
    static void record(QtMsgType type, const QMessageLogContext&, const QString& message) {
        if (type != QtDebugMsg && type != QtInfoMsg) {
            recorded().push_back(message.toStdString());
        }
    }
    QtMessageHandler previous_ = nullptr;
};

TEST_F(ToolsPresetsTest, RenamingWithReturnCommitsOnceAndQtHasNothingToSay) {
    auto window = std::make_shared<NSPanel>(CGRect{{300, 0}, {240, 300}});
    window->setContentView(panel->view());
    window->makeKeyAndOrderFront();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window->widget()));
    QtMessages messages;
    QtMessages::recorded().clear();
    const QRect row = panel->tableView->visualRect(panel->model().index(2, 0));
    QTest::mouseDClick(window->widget()->windowHandle(), Qt::LeftButton, {},
                       panel->tableView->viewport()->mapTo(window->widget(), row.center()));
    QApplication::processEvents();
    QWindow* keys = QGuiApplication::focusWindow();
    ASSERT_NE(keys, nullptr);
    for (const char key : std::string("Chalk")) {
        QTest::keyClick(keys, key);
    }
    QTest::keyClick(keys, Qt::Key_Return);
    QApplication::processEvents(); // a queued commit would come now
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(names(), (std::vector<std::string>{"A", "B", "Chalk", "D"}));
    EXPECT_TRUE(panel->tableView->findChildren<QLineEdit*>().isEmpty()) << "the editor closed";
    EXPECT_EQ(QtMessages::recorded(), std::vector<std::string>{});
    window->close();
}

TEST_F(ToolsPresetsTest, NewAddsACopyOfTheLiveBrushAfterTheSelection) {
    panel->selectRow(2);
    EXPECT_EQ(settings.baseBrush().name, "C");
    settings.modifyLiveBrush([](Brush& brush) { brush.size = 321; });
    panel->segmentedControl->performClick(0);
    EXPECT_EQ(names(), (std::vector<std::string>{"A", "B", "C", "New Brush", "D"}));
    EXPECT_EQ(panel->selectedRow(), 3);
    EXPECT_EQ(brushAt(3).size, 321);
    EXPECT_NE(brushAt(3).uuid, brushAt(2).uuid);
    EXPECT_EQ(settings.baseBrush().uuid, brushAt(3).uuid);

    panel->tableView->clearSelection();
    EXPECT_FALSE(panel->segmentedControl->isEnabled(1));
    panel->segmentedControl->performClick(0);
    EXPECT_EQ(names().front(), "New Brush");
    EXPECT_EQ(panel->selectedRow(), 0);
}

TEST_F(ToolsPresetsTest, DeleteAsksThenSelectsTheRowBefore) {
    panel->selectRow(3);
    answer = false;
    const std::size_t files = fileCount();
    panel->segmentedControl->performClick(1);
    EXPECT_EQ(asked, std::vector<std::string>{"D"});
    EXPECT_EQ(names().size(), 4u);
    EXPECT_EQ(fileCount(), files);
    EXPECT_EQ(panel->selectedRow(), 3);

    answer = true;
    panel->segmentedControl->performClick(1);
    EXPECT_EQ(names(), (std::vector<std::string>{"A", "B", "C"}));
    EXPECT_EQ(fileCount(), files - 1);
    EXPECT_EQ(panel->selectedRow(), 2);
    panel->selectRow(0);
    panel->segmentedControl->performClick(1);
    EXPECT_EQ(names(), (std::vector<std::string>{"B", "C"}));
    EXPECT_EQ(panel->selectedRow(), 0);
}

TEST_F(ToolsPresetsTest, TheSavedBrushOfTheToolIsSelected) {
    panel->selectRow(1);
    EXPECT_EQ(settings.baseBrush().name, "B");
    // The eraser's saved brush is not in the library: row 0 becomes it.
    settings.setPersistentTool(DrawingTool::eraser);
    EXPECT_EQ(panel->selectedRow(), 0);
    EXPECT_EQ(settings.baseBrush().name, "A");
    settings.setBaseBrush(brushAt(2));
    EXPECT_EQ(panel->selectedRow(), 2);
    settings.setPersistentTool(DrawingTool::brush);
    EXPECT_EQ(panel->selectedRow(), 1);
}

TEST_F(ToolsPresetsTest, RenamingGoesToTheStoredBrush) {
    const UUID uuid = brushAt(1).uuid;
    panel->renameBrush(uuid, "Renamed");
    EXPECT_EQ(names()[1], "Renamed");
    const auto written = fs::last_write_time(panel->brushStore().brushes().at(uuid).url.path());
    const std::size_t files = fileCount();
    panel->renameBrush(uuid, "Renamed");
    EXPECT_EQ(fileCount(), files);
    EXPECT_EQ(fs::last_write_time(panel->brushStore().brushes().at(uuid).url.path()), written);
    panel->renameBrush(UUID(), "Ghost"); // a deleted brush: nothing happens
    EXPECT_EQ(names().size(), 4u);
}

TEST_F(ToolsPresetsTest, ARowEditorRenamesTheBrushOfItsRowWhenMade) {
    QAbstractItemDelegate* delegate = panel->tableView->itemDelegate();
    const QModelIndex row2 = panel->model().index(2, 0);
    std::unique_ptr<QWidget> editor(delegate->createEditor(panel->tableView->viewport(), {}, row2));
    auto* cell = dynamic_cast<QLineEdit*>(editor.get());
    ASSERT_TRUE(cell);
    delegate->setEditorData(cell, row2);
    EXPECT_EQ(cell->text(), "C");
    // The rows move under the editor: the name still goes to "C".
    panel->model().dropMimeData(dragOf(2).get(), Qt::CopyAction, 0, 0, {});
    cell->setText("Charcoal");
    delegate->setModelData(cell, &panel->model(), row2);
    EXPECT_EQ(names(), (std::vector<std::string>{"Charcoal", "A", "B", "D"}));
}

TEST(ToolsPresetsPanelTest, TheDeleteAlertNamesTheBrushAndDefaultsToCancel) {
    std::vector<std::string> texts;
    NSAlert::setTestResponder([&](const NSAlert& alert) {
        texts = alert.buttonTitles();
        texts.insert(texts.begin(), {alert.messageText, alert.informativeText});
        return NSModalResponse(NSAlertFirstButtonReturn + 1);
    });
    ToolsPresetsViewController panel(std::make_unique<BrushStore>(
        std::nullopt, URL::fileURL(QTemporaryDir().path().toStdString(), true)));
    EXPECT_TRUE(panel.askConfirmationToDeleteBrush("Ink"));
    EXPECT_EQ(texts, (std::vector<std::string>{
                         "Do you want to permanently delete the brush \"Ink\"?",
                         "This action cannot be undone.", "Cancel", "Delete Brush"}));
    NSAlert::setTestResponder([](const NSAlert&) { return NSAlertFirstButtonReturn; });
    EXPECT_FALSE(panel.askConfirmationToDeleteBrush("Ink"));
    NSAlert::setTestResponder({});
}

TEST(ToolsPresetsPanelTest, TheStoryboardBuildsThePanelOverTheUsersLibrary) {
    QTemporaryDir data;
    const QByteArray old = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", data.path().toUtf8());
    registerUtilityPanelStoryboards();
    auto controller = NSStoryboard::instantiateController<ToolsPresetsWindowController>(
        "Tools Presets", "PresetsPanel");
    auto panel =
        std::dynamic_pointer_cast<ToolsPresetsViewController>(controller->contentViewController());
    ASSERT_TRUE(panel);
    EXPECT_EQ(panel->brushStore().userBrushesDirUrl().path(),
              (fs::path(data.path().toStdString()) / "velmora" / "Brushes").string());
    EXPECT_EQ(controller->window()->title(), "Brush Presets");
    qputenv("XDG_DATA_HOME", old);
}

} // namespace
} // namespace velmora
