// The Layers panel on a canvas of 1000 layers (100 groups of 9 and 100
// top-level layers), offscreen, each step timed until the panel has drawn:
// - the front document switching from a one-layer canvas to the large one;
// - one move of a top-level layer into a group;
// next to the same steps of a QTreeView over a QStandardItemModel of the same
// names (the model built, set and drawn; one row taken and put into a group),
// measured in the same run. Ratios are panel / reference.
#include "BenchSupport.hpp"
#include "Canvas/GroupLayer.hpp"
#include "Canvas/LayeredCanvas.hpp"
#include "Canvas/RasterLayer.hpp"
#include "Document/Document.hpp"
#include "Document/FrontDocumentController.hpp"
#include "UtilityPanels/Layers/LayerItemView.hpp"
#include "UtilityPanels/Layers/LayersViewController.hpp"
#include "desktop/NSDocumentController.hpp"
#include "desktop/NSWindow.hpp"
#include "desktop/NSWindowController.hpp"
#include "desktop/NotificationCenter.hpp"
#include "desktop/QtMainQueue.hpp"

#include <QApplication>
#include <QStandardItemModel>
#include <QTreeView>
#include <benchmark/benchmark.h>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

using namespace velmora;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int groupCount = 100;
constexpr int groupSize = 9;
constexpr int topLevelCount = 100;
const QSize panelSize(260, 600);

std::string groupName(int g) {
    return "Group " + std::to_string(g);
}
std::string layerName(int g, int i) {
    return "Layer " + std::to_string(g) + "." + std::to_string(i);
}
std::string topName(int t) {
    return "Layer " + std::to_string(t);
}

// Model order, bottom first: a top-level layer, then a group, alternately.
std::shared_ptr<LayeredCanvas> largeCanvas() {
    Layers top;
    for (int t = 0; t < topLevelCount; ++t) {
        top.push_back(RasterLayer::make(topName(t)));
        if (t < groupCount) {
            auto group = GroupLayer::make(groupName(t));
            Layers members;
            for (int i = 0; i < groupSize; ++i) {
                members.push_back(RasterLayer::make(layerName(t, i)));
            }
            group->setImmediateLayers(std::move(members));
            top.push_back(std::move(group));
        }
    }
    auto canvas = LayeredCanvas::make({64, 64, 1});
    canvas->setImmediateLayers(std::move(top));
    return canvas;
}

// The reference's model: the same names in the outline's order.
std::unique_ptr<QStandardItemModel> referenceModel() {
    auto model = std::make_unique<QStandardItemModel>();
    for (int t = topLevelCount - 1; t >= 0; --t) {
        if (t < groupCount) {
            auto* group = new QStandardItem(QString::fromStdString(groupName(t)));
            for (int i = groupSize - 1; i >= 0; --i) {
                group->appendRow(new QStandardItem(QString::fromStdString(layerName(t, i))));
            }
            model->appendRow(group);
        }
        model->appendRow(new QStandardItem(QString::fromStdString(topName(t))));
    }
    return model;
}

// Lets posted layouts and deletions run as the event loop would, then paints
// at once.
void draw(QWidget& widget) {
    QApplication::processEvents();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    widget.repaint();
}

double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

struct Documents {
    FrontDocumentController& tracker = FrontDocumentController::shared();
    std::shared_ptr<Document> small = open(LayeredCanvas::make({64, 64, 1}));
    std::shared_ptr<Document> large = open(largeCanvas());
    std::shared_ptr<LayersViewController> panel = std::make_shared<LayersViewController>();

    Documents() {
        panel->loadViewIfNeeded();
        panel->view()->resize(panelSize);
        panel->view()->show();
        bringForward(*small);
    }
    ~Documents() {
        small->close();
        large->close();
        QApplication::processEvents();
    }

    static std::shared_ptr<Document> open(std::shared_ptr<LayeredCanvas> canvas) {
        auto document = std::make_shared<Document>();
        document->setContent(Document::Content(std::move(canvas)));
        const auto window = std::make_shared<NSWindowController>(std::make_shared<NSWindow>());
        document->addWindowController(window);
        NSDocumentController::shared().addDocument(document);
        window->showWindow();
        return document;
    }
    void bringForward(Document& document) {
        document.windowControllers().front()->window()->orderFront();
        NotificationCenter::defaultCenter().post(std::string(mainWindowChangedNotification));
        draw(*panel->view());
    }
};

// Runs the reference switch and move once, for their times in this run.
struct Reference {
    double show = 0;
    double move = 0;

    static Reference measure() {
        Reference r;
        QTreeView view;
        view.setUniformRowHeights(true);
        view.resize(panelSize);
        view.show();
        draw(view);
        const auto t0 = Clock::now();
        auto model = referenceModel();
        view.setModel(model.get());
        draw(view);
        r.show = seconds(Clock::now() - t0);

        // A top-level row into the group below it, at its top.
        const auto t1 = Clock::now();
        const QList<QStandardItem*> row = model->takeRow(1);
        model->item(1)->insertRow(0, row);
        draw(view);
        r.move = seconds(Clock::now() - t1);
        view.setModel(nullptr);
        draw(view);
        return r;
    }
};

void BM_SwitchToLargeCanvas(benchmark::State& state) {
    Documents d;
    double reference = 0, panel = 0;
    for (auto _ : state) {
        d.bringForward(*d.small);
        reference += Reference::measure().show;
        const auto t0 = Clock::now();
        d.bringForward(*d.large);
        const double t = seconds(Clock::now() - t0);
        panel += t;
        state.SetIterationTime(t);
    }
    state.counters["reference_ms"] = 1e3 * reference / double(state.iterations());
    state.counters["to_reference"] = panel / reference;
    int rowViews = 0;
    for (QWidget* child : d.panel->outlineView->findChildren<QWidget*>()) {
        rowViews += dynamic_cast<LayerItemView*>(child) != nullptr ? 1 : 0;
    }
    state.counters["row_views"] = rowViews;
}
BENCHMARK(BM_SwitchToLargeCanvas)->UseManualTime()->Iterations(20)->Unit(benchmark::kMillisecond);

void BM_MoveIntoGroup(benchmark::State& state) {
    Documents d;
    d.bringForward(*d.large);
    const auto canvas = d.large->layeredCanvas();
    // The topmost top-level raster layer into the group below it, at its top.
    const auto count = IndexPath::Element(canvas->immediateLayers().size());
    const IndexPath from{count - 2};
    const IndexPath into{count - 3, groupSize};
    double reference = 0, panel = 0;
    for (auto _ : state) {
        reference += Reference::measure().move;
        const auto t0 = Clock::now();
        canvas->moveLayer(from, into);
        draw(*d.panel->view());
        const double t = seconds(Clock::now() - t0);
        panel += t;
        state.SetIterationTime(t);
        canvas->moveLayer(into, from);
        draw(*d.panel->view());
    }
    state.counters["reference_ms"] = 1e3 * reference / double(state.iterations());
    state.counters["to_reference"] = panel / reference;
}
BENCHMARK(BM_MoveIntoGroup)->UseManualTime()->Iterations(20)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QtMainQueue::bind();
    return bench::runBenchmarks(argc, argv);
}
