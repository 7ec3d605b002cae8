#pragma once

#include "RawInputStabilizer/RawInputStabilizer.hpp"
#include "Rendering/DrawingSettings.hpp"
#include "StrokeProcessors/StrokeProcessor.hpp"
#include "foundation/Logger.hpp"
#include "foundation/UUID.hpp"
#include "graphics/NSColor.hpp"

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace velmora {

// The queue of strokes between pointer input and the stroke renderer. Samples
// pass the stabiliser and the stroke processors and become evenly spaced dots of
// the stroke being drawn; closed strokes wait, oldest first, until the renderer
// has blended them. Main thread only.
class StrokesViewModel final : public DrawingSettingsDelegate,
                               public std::enable_shared_from_this<StrokesViewModel> {
public:
    struct Dot {
        CGPoint position;
        NSColorRef color; // in the working colour space; none for an erasing dot
        CGFloat radius = 0;
        CGFloat hardness = 0;
        CGFloat opacity = 0;

        // Exact position, equal colours, radius within 1e-5; hardness and opacity ignored.
        friend bool operator==(const Dot& a, const Dot& b);
    };

    class Stroke {
    public:
        const UUID uuid;
        std::vector<Dot> dots; // not yet consumed by the renderer, in drawing order
        bool finished = false;
        bool erasing = false;
    };

    using PointCompletion = std::function<void(bool started)>;

    // Joins the delegates of `settings`, which must outlive the queue and its
    // pending work. Made on the main thread.
    static std::shared_ptr<StrokesViewModel>
    make(DrawingSettings& settings = DrawingSettings::shared());

    // Feeds one sample. The completion runs later, once, on the main thread: true
    // when the dots made for this sample started a stroke. Non-finite samples are
    // dropped; pressure is clamped to 0...1.
    void enqueuePointEvent(CGPoint position, float pressure, PointCompletion completion);
    // Ends the stroke; the completion runs on the main thread once it is queued.
    void closeStroke(std::function<void()> completion);

    // The oldest closed stroke, else the stroke being drawn if it holds dots.
    std::shared_ptr<Stroke> front() const;
    // Only while a closed stroke is queued.
    void popFront();
    // Appends to the stroke being drawn, creating it; false when it was created.
    bool appendDots(const std::vector<Dot>& dots);

    const RawInputStabilizer& stabilizer() const { return *stabilizer_; }
    const std::optional<OSSignpostID>& signpostID() const { return signpostID_; }

    void drawingSettingsWillChangeActiveBrush(DrawingSettings&, const Brush&) override {}
    void drawingSettingsDidChangeActiveBrush(DrawingSettings&, const Brush&) override;
    void drawingSettingsDidUpdateActiveTool(DrawingSettings&, DrawingTool) override;

    struct Token;
    StrokesViewModel(Token, DrawingSettings& settings);

private:
    StrokeDot makeDot(const RawPoint& sample) const;
    NSColorRef colorOfNewDots() const;
    std::vector<Dot> makeDots(const std::vector<StrokeDot>& dots, const NSColorRef& color) const;
    bool append(const std::vector<Dot>& dots, const NSColorRef& color);
    bool handBack(const std::vector<RawPoint>& ready, const NSColorRef& color);
    void finishStroke(const std::vector<RawPoint>& ready, const NSColorRef& color);
    void stabilizerShouldChange();
    void replaceStabilizer();
    // Hand-backs of different stabilisers may race; they run in call order.
    void deliver(std::uint64_t ticket, std::function<void()> work);

    DrawingSettings& settings_;
    std::deque<std::shared_ptr<Stroke>> queuedStrokes_;
    std::shared_ptr<Stroke> unfinishedStroke_;
    std::unique_ptr<RawInputStabilizer> stabilizer_;
    std::unique_ptr<StrokeProcessor> strokeProcessor_;
    std::optional<OSSignpostID> signpostID_;

    // Between the first sample and the close of a stroke: its colour is fixed
    // then, and a new stabiliser waits for the close.
    bool strokeOpen_ = false;
    NSColorRef strokeColor_;
    bool replacementPending_ = false;

    std::uint64_t nextTicket_ = 0;
    std::uint64_t nextToRun_ = 0;
    std::map<std::uint64_t, std::function<void()>> waiting_;
    bool delivering_ = false;
};

} // namespace velmora
