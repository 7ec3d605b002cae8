#include "desktop/MTKViewHostWidget.hpp"
#include "desktop/QtMainQueue.hpp"
#include "foundation/MainQueue.hpp"
#include "gpu/CAMetalDrawable.hpp"
#include "gpu/MTLDevice.hpp"

#include <QCoreApplication>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QMimeData>
#include <QPixmap>
#include <QScreen>
#include <QUrl>
#include <cstdlib>
#include <gtest/gtest.h>
#include <thread>

using namespace velmora;

namespace {

std::shared_ptr<MTLDevice> device() {
    static const auto d = MTLCreateSystemDefaultDevice();
    return d;
}

// Fills each frame with a picture that tells every pixel apart (BGRA bytes).
class PatternDelegate : public MTKViewDelegate {
public:
    void mtkView(MTKView&, CGSize) override {}
    void draw(MTKView& view) override {
        const auto drawable = view.currentDrawable();
        if (drawable == nullptr) {
            return;
        }
        const auto& t = drawable->texture();
        std::vector<uint8_t> bytes(size_t(t->width() * t->height() * 4));
        for (int64_t y = 0; y < t->height(); ++y) {
            for (int64_t x = 0; x < t->width(); ++x) {
                uint8_t* p = &bytes[size_t((y * t->width() + x) * 4)];
                p[0] = uint8_t(x * 13 + frame);
                p[1] = uint8_t(y * 29);
                p[2] = uint8_t(x * y + 7);
                p[3] = 255;
            }
        }
        t->replaceRegion(MTLRegionMake2D(0, 0, t->width(), t->height()), 0, bytes.data(),
                         t->width() * 4);
        if (holdBack) {
            held = drawable;
        } else {
            drawable->present();
        }
        ++frame;
    }
    int frame = 0;
    bool holdBack = false;
    std::shared_ptr<CAMetalDrawable> held;
};

class MTKViewHostWidgetTest : public ::testing::Test {
protected:
    void SetUp() override {
        device()->setSynchronousCommandExecution(true);
        view = MTKView::make(device());
        view->setPaused(true);
        view->setDelegate(delegate);
        widget = std::make_unique<MTKViewHostWidget>(view);
        widget->resize(7, 5);
        widget->setFramePaintedHook(
            [this](uint64_t id, std::chrono::steady_clock::time_point) { painted.push_back(id); });
        widget->show();
    }
    void TearDown() override {
        widget = nullptr;
        view = nullptr;
        MainQueue::runUntilIdle();
        device()->setSynchronousCommandExecution(false);
    }

    std::shared_ptr<PatternDelegate> delegate = std::make_shared<PatternDelegate>();
    std::shared_ptr<MTKView> view;
    std::unique_ptr<MTKViewHostWidget> widget;
    std::vector<uint64_t> painted;
};

// A drag-and-drop receiver that answers copy and notes the drops.
class DropTarget : public MTKViewHostWidget {
public:
    using MTKViewHostWidget::MTKViewHostWidget;
    int asked = 0;
    std::vector<std::string> dropped;

protected:
    NSDragOperation draggingEntered(const NSDraggingInfo&) override {
        ++asked;
        return NSDragOperation::copy;
    }
    bool performDragOperation(const NSDraggingInfo& info) override {
        for (const auto& url : info.draggingPasteboard().fileURLs()) {
            dropped.push_back(url.lastPathComponent());
        }
        return true;
    }
};

} // namespace

TEST_F(MTKViewHostWidgetTest, ViewTakesBoundsDrawableSizeAndTheScreensRefresh) {
    const qreal ratio = widget->devicePixelRatioF();
    if (const char* factor = std::getenv("QT_SCALE_FACTOR")) {
        EXPECT_DOUBLE_EQ(ratio, std::atof(factor));
    }
    widget->resize(9, 4);
    EXPECT_EQ(view->boundsSize(), (CGSize{9, 4}));
    EXPECT_EQ(view->drawableSize(), (CGSize{std::round(9 * ratio), std::round(4 * ratio)}));
    EXPECT_EQ(view->preferredFramesPerSecond(), int(std::lround(widget->screen()->refreshRate())));
}

TEST_F(MTKViewHostWidgetTest, DrawableIsShownPixelForPixelInDevicePixels) {
    view->draw();
    QCoreApplication::processEvents();
    ASSERT_NE(widget->shownDrawable(), nullptr);
    EXPECT_EQ(painted, std::vector<uint64_t>{1});

    const QImage grabbed = widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const auto contents = widget->shownDrawable()->texture()->contentsForReading();
    ASSERT_EQ(grabbed.width(), contents.width);
    ASSERT_EQ(grabbed.height(), contents.height);
    for (int y = 0; y < grabbed.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(grabbed.constScanLine(y));
        for (int x = 0; x < grabbed.width(); ++x) {
            const uint8_t* p = contents.row(y) + x * 4;
            ASSERT_EQ(line[x], qRgb(p[2], p[1], p[0])) << x << "," << y;
        }
    }
}

TEST_F(MTKViewHostWidgetTest, PresentingOnlyPostsAndTheNewestFrameWins) {
    delegate->holdBack = true;
    view->draw();
    delegate->holdBack = false;
    std::thread gpu([&] {
        // In the synchronous mode the host is told on the presenting thread.
        delegate->held->present();
        delegate->held = nullptr;
    });
    gpu.join();
    EXPECT_EQ(widget->shownDrawable(), nullptr);
    view->draw();
    EXPECT_EQ(widget->shownDrawable(), nullptr);
    QCoreApplication::processEvents();
    ASSERT_NE(widget->shownDrawable(), nullptr);
    EXPECT_EQ(widget->shownDrawable()->drawableID(), 2u);
    EXPECT_EQ(painted, std::vector<uint64_t>{2});
    EXPECT_EQ(view->drawablesInUse(), 1u) << "a frame replaced before it was shown goes back";
}

TEST_F(MTKViewHostWidgetTest, AnUnpausedViewIsDrawnAndShownFromQtsLoop) {
    QtMainQueue::bind();
    view->setPaused(false);
    QElapsedTimer clock;
    clock.start();
    while (painted.size() < 3 && clock.elapsed() < 10000) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    view->setPaused(true);
    QtMainQueue::unbind();
    ASSERT_GE(painted.size(), 3u);
    EXPECT_LT(painted[0], painted[2]) << "newer frames replace older ones";
}

TEST_F(MTKViewHostWidgetTest, DropsOfferingNoRegisteredTypeAreNotOffered) {
    DropTarget target(view);
    target.resize(10, 10);
    QMimeData text;
    text.setText("words");
    QMimeData files;
    files.setUrls({QUrl::fromLocalFile("/tmp/picture.png")});
    target.registerForDraggedTypes({NSPasteboardTypeFileURL});
    for (QMimeData* data : {&text, &files}) {
        QDragEnterEvent enter(QPoint(2, 2), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&target, &enter);
        QDropEvent drop(QPointF(2, 2), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&target, &drop);
        EXPECT_EQ(drop.isAccepted(), data == &files);
    }
    EXPECT_EQ(target.asked, 1);
    EXPECT_EQ(target.dropped, std::vector<std::string>{"picture.png"});
}
