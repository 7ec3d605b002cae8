#include "desktop/MTKViewHostWidget.hpp"
#include "desktop/QtMainQueue.hpp"
#include "foundation/MainQueue.hpp"
#include "gpu/CAMetalDrawable.hpp"
#include "gpu/MTLDevice.hpp"

#include <QCoreApplication>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QMimeData>
#include <QPaintEvent>
#include <QPixmap>
#include <QScreen>
#include <QUrl>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <gtest/gtest.h>
#include <map>
#include <thread>
#include <utility>

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

// A picture whose rows change band by band, drawn as a canvas view draws it:
// each drawable gets only the rows changed since it was last drawn, the whole
// picture the first time.
class BandsDelegate : public MTKViewDelegate {
public:
    void mtkView(MTKView&, CGSize) override {}
    void draw(MTKView& view) override {
        const auto drawable = view.currentDrawable();
        const auto& t = drawable->texture();
        if (picture.empty()) {
            picture.assign(size_t(t->width() * t->height() * 4), 0);
            changeRows(0, t->height());
        }
        auto& drawnAt = drawn[t.get()];
        int64_t y0 = t->height(), y1 = 0;
        for (size_t change = drawnAt; change < changes.size(); ++change) {
            y0 = std::min(y0, changes[change].first);
            y1 = std::max(y1, changes[change].second);
        }
        if (drawnAt == 0) {
            y0 = 0, y1 = t->height();
        }
        if (y1 > y0) {
            t->replaceRegion(MTLRegionMake2D(0, y0, t->width(), y1 - y0), 0,
                             picture.data() + y0 * t->width() * 4, t->width() * 4);
        }
        drawnAt = changes.size();
        drawable->present();
    }
    // The picture's rows [y0, y1) take new colours.
    void changeRows(int64_t y0, int64_t y1) {
        const int64_t width = int64_t(picture.size()) / 4 / rows;
        for (int64_t y = y0; y < y1; ++y) {
            for (int64_t x = 0; x < width; ++x) {
                uint8_t* p = &picture[size_t((y * width + x) * 4)];
                p[0] = uint8_t(x * 13 + 5 * changes.size());
                p[1] = uint8_t(y * 29 + changes.size());
                p[2] = uint8_t(x * y + 7);
                p[3] = 255;
            }
        }
        changes.emplace_back(y0, y1);
    }
    int64_t rows = 0;
    std::vector<uint8_t> picture; // BGRA, top row first
    std::vector<std::pair<int64_t, int64_t>> changes;
    std::map<const MTLTexture*, size_t> drawn;
};

// Notes what each paint was asked to cover.
class PaintRecorder : public MTKViewHostWidget {
public:
    using MTKViewHostWidget::MTKViewHostWidget;
    std::vector<QRect> painted;

protected:
    void paintEvent(QPaintEvent* event) override {
        painted.push_back(event->rect());
        MTKViewHostWidget::paintEvent(event);
    }
};

} // namespace

// Frames that change a few rows repaint only those rows, a frame that changes
// nothing paints nothing but still counts as shown, and the widget always
// shows exactly the newest picture as the drawables take turns.
TEST_F(MTKViewHostWidgetTest, FramesRepaintOnlyTheRowsTheyChanged) {
    const auto bands = std::make_shared<BandsDelegate>();
    view->setDelegate(bands);
    widget = nullptr;
    auto recorder = std::make_unique<PaintRecorder>(view);
    recorder->resize(16, 12);
    recorder->show();
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::processEvents();
    }
    const qreal ratio = recorder->devicePixelRatioF();
    const int64_t width = std::lround(16 * ratio), height = std::lround(12 * ratio);
    bands->rows = height;
    std::vector<uint64_t> shown;
    recorder->setFramePaintedHook(
        [&](uint64_t id, std::chrono::steady_clock::time_point) { shown.push_back(id); });
    const auto showsThePicture = [&] {
        const QImage grabbed = recorder->grab().toImage().convertToFormat(QImage::Format_RGB32);
        if (grabbed.width() != width || grabbed.height() != height) {
            return false;
        }
        for (int y = 0; y < grabbed.height(); ++y) {
            const auto* line = reinterpret_cast<const QRgb*>(grabbed.constScanLine(y));
            for (int x = 0; x < grabbed.width(); ++x) {
                const uint8_t* p = &bands->picture[size_t((y * width + x) * 4)];
                if (line[x] != qRgb(p[2], p[1], p[0])) {
                    return false;
                }
            }
        }
        return true;
    };
    // Whole pictures until every drawable has been shown once; then bands.
    for (int frame = 0; frame < 18; ++frame) {
        SCOPED_TRACE(frame);
        if (frame > 0 && frame % 6 < 3) {
            const int64_t y0 = (frame * 5) % (height - 2);
            bands->changeRows(y0, y0 + 2);
        }
        recorder->painted.clear();
        view->draw();
        QCoreApplication::processEvents();
        ASSERT_FALSE(shown.empty());
        EXPECT_EQ(shown.back(), uint64_t(frame + 1));
        if (frame >= 6 && frame % 6 == 5) {
            // Three frames without a change: every drawable has caught up.
            EXPECT_TRUE(recorder->painted.empty()) << "nothing changed";
        } else if (frame >= 6 && frame % 6 < 3) {
            ASSERT_FALSE(recorder->painted.empty());
            for (const QRect& r : recorder->painted) {
                // The rows of the last few changes, one drawable being a few frames behind.
                EXPECT_LT(r.height() * ratio, height) << "only the changed rows";
            }
        }
        EXPECT_TRUE(showsThePicture()); // grabbing paints the whole widget again
    }
}

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

// A frame presented on another thread reaches the main thread through Qt's
// queue, whose locks a thread checker cannot see: what the presenting thread
// hands over is ordered by a lock of ours all the same. The relaxed flag and
// the direct delivery of posted events add no ordering of their own.
TEST_F(MTKViewHostWidgetTest, AFramePresentedOnAnotherThreadIsShown) {
    delegate->holdBack = true;
    view->draw();
    delegate->holdBack = false;
    const auto held = std::exchange(delegate->held, nullptr);
    std::atomic<bool> presented{false};
    std::thread gpu([held, &presented] {
        held->present();
        presented.store(true, std::memory_order_relaxed);
    });
    while (!presented.load(std::memory_order_relaxed)) {
        std::this_thread::yield();
    }
    QCoreApplication::sendPostedEvents();
    gpu.join();
    QCoreApplication::processEvents(); // the repaint it asked for
    ASSERT_NE(widget->shownDrawable(), nullptr);
    EXPECT_EQ(widget->shownDrawable()->drawableID(), 1u);
    EXPECT_EQ(painted, std::vector<uint64_t>{1});
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
