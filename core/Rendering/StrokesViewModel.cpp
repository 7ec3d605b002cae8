#include "Rendering/StrokesViewModel.hpp"

#include "SKTUtils/CGFloatExtensions.hpp"
#include "StrokeProcessors/AggregatedStrokeProcessor.hpp"
#include "StrokeProcessors/BezierInterpStrokeProcessor.hpp"
#include "StrokeProcessors/SanityStrokeProcessor.hpp"
#include "foundation/DispatchQueue.hpp"
#include "foundation/FatalError.hpp"
#include "foundation/LogHandles.hpp"
#include "foundation/NumberText.hpp"
#include "graphics/ColorManagement.hpp"

#include <algorithm>
#include <cmath>

namespace velmora {

struct StrokesViewModel::Token {};

namespace {

std::size_t stabilization(const Brush& brush) {
    return std::size_t(std::min<std::uint64_t>(brush.stabilization, Brush::maximumStabilization));
}

// A float outside its range (a brush record made elsewhere) is brought into it; NaN takes `low`.
float limited(float v, float low, float high) {
    return std::isnan(v) ? low : clamped(v, low, high);
}

// Truncated toward zero for the log, saturating instead of overflowing.
std::int64_t logCoordinate(double v) {
    if (!(v > -9e18)) {
        return v > 0 ? INT64_MAX : INT64_MIN;
    }
    return v >= 9e18 ? INT64_MAX : std::int64_t(v);
}

std::string coordinateText(double v) {
    return shortestNumberText(v);
}

std::string pointText(CGPoint p) {
    return "(" + coordinateText(p.x) + ", " + coordinateText(p.y) + ")";
}

} // namespace

bool operator==(const StrokesViewModel::Dot& a, const StrokesViewModel::Dot& b) {
    const bool sameColor = (!a.color && !b.color) || (a.color && b.color && *a.color == *b.color);
    return a.position.x == b.position.x && a.position.y == b.position.y && sameColor &&
           std::fabs(a.radius - b.radius) < 1e-5;
}

std::shared_ptr<StrokesViewModel> StrokesViewModel::make(DrawingSettings& settings) {
    auto queue = std::make_shared<StrokesViewModel>(Token{}, settings);
    settings.delegates += std::static_pointer_cast<DrawingSettingsDelegate>(queue);
    return queue;
}

StrokesViewModel::StrokesViewModel(Token, DrawingSettings& settings)
    : settings_(settings),
      stabilizer_(std::make_unique<RawInputStabilizer>(stabilization(settings.liveBrush()))) {
    std::vector<std::unique_ptr<StrokeProcessor>> stages;
    stages.push_back(std::make_unique<SanityStrokeProcessor>());
    stages.push_back(std::make_unique<BezierInterpStrokeProcessor>());
    strokeProcessor_ = std::make_unique<AggregatedStrokeProcessor>(std::move(stages));
}

NSColorRef StrokesViewModel::colorOfNewDots() const {
    if (settings_.currentTool() == DrawingTool::eraser) {
        return nullptr;
    }
    const NSColorSpaceRef& working = ColorManagement::workingNSColorSpace();
    if (settings_.color) {
        if (NSColorRef converted = settings_.color->colorUsingColorSpace(working)) {
            return converted;
        }
    }
    // A colour with no form in the working space paints in the default colour
    // rather than erasing.
    return DrawingSettings::defaultColor()->colorUsingColorSpace(working);
}

StrokeDot StrokesViewModel::makeDot(const RawPoint& sample) const {
    const Brush brush = settings_.liveBrush();
    const float p = float(sample.pressure);
    const float sizeMinRatio = limited(brush.sizeMinRatio, 0, 1);
    const float opacityMinRatio = limited(brush.opacityMinRatio, 0, 1);
    float radius = limited(brush.size, Brush::minimumSize, Brush::maximumSize) * 0.5f;
    if (brush.sizeDependsOnPressure) {
        radius = radius * ((1 - sizeMinRatio) * p + sizeMinRatio);
    }
    float opacity = brush.opacity;
    if (brush.opacityDependsOnPressure) {
        opacity = opacity * ((1 - opacityMinRatio) * p + opacityMinRatio);
    }
    // The brush's spacing is a fraction of the diameter.
    const double spacing = double(brush.spacing + brush.spacing) * double(radius);
    return {sample.position, spacing, double(radius), double(brush.hardness), double(opacity)};
}

std::vector<StrokesViewModel::Dot> StrokesViewModel::makeDots(const std::vector<StrokeDot>& dots,
                                                              const NSColorRef& color) const {
    std::vector<Dot> out;
    out.reserve(dots.size());
    for (const StrokeDot& d : dots) {
        out.push_back({d.position, color, d.radius, d.hardness, d.opacity});
    }
    return out;
}

bool StrokesViewModel::appendDots(const std::vector<Dot>& dots) {
    const bool existed = unfinishedStroke_ != nullptr;
    if (!existed) {
        unfinishedStroke_ = std::make_shared<Stroke>();
    }
    unfinishedStroke_->dots.insert(unfinishedStroke_->dots.end(), dots.begin(), dots.end());
    return existed;
}

bool StrokesViewModel::append(const std::vector<Dot>& dots, const NSColorRef& color) {
    const bool existed = appendDots(dots);
    if (!existed) {
        // Erasing from the first dot: no coloured flash.
        unfinishedStroke_->erasing = color == nullptr;
    }
    return existed;
}

std::shared_ptr<StrokesViewModel::Stroke> StrokesViewModel::front() const {
    if (!queuedStrokes_.empty()) {
        return queuedStrokes_.front();
    }
    if (unfinishedStroke_ && !unfinishedStroke_->dots.empty()) {
        return unfinishedStroke_;
    }
    return nullptr;
}

void StrokesViewModel::popFront() {
    precondition(!queuedStrokes_.empty(), "No finished stroke to remove");
    queuedStrokes_.pop_front();
}

void StrokesViewModel::deliver(std::uint64_t ticket, std::function<void()> work) {
    waiting_.emplace(ticket, std::move(work));
    if (delivering_) {
        return;
    }
    delivering_ = true;
    for (auto it = waiting_.find(nextToRun_); it != waiting_.end();
         it = waiting_.find(nextToRun_)) {
        std::function<void()> next = std::move(it->second);
        waiting_.erase(it);
        ++nextToRun_;
        next();
    }
    delivering_ = false;
}

void StrokesViewModel::enqueuePointEvent(CGPoint position, float pressure,
                                         PointCompletion completion) {
    const std::uint64_t ticket = nextTicket_++;
    auto self = shared_from_this();
    if (!std::isfinite(position.x) || !std::isfinite(position.y) || !std::isfinite(pressure)) {
        DispatchQueue::main().async([self, ticket, completion = std::move(completion)] {
            self->deliver(ticket, [completion] { completion(false); });
        });
        return;
    }
    if (!strokeOpen_) {
        strokeOpen_ = true;
        strokeColor_ = colorOfNewDots();
    }
    const RawPoint sample{position, double(std::clamp(pressure, 0.0f, 1.0f))};
    stabilizer_->append(sample, [self, ticket, color = strokeColor_,
                                 completion = std::move(completion)](std::vector<RawPoint> ready) {
        self->deliver(ticket, [self, color, completion, ready = std::move(ready)] {
            completion(self->handBack(ready, color));
        });
    });
}

bool StrokesViewModel::handBack(const std::vector<RawPoint>& ready, const NSColorRef& color) {
    std::vector<StrokeDot> dots;
    dots.reserve(ready.size());
    for (const RawPoint& sample : ready) {
        dots.push_back(makeDot(sample));
    }
    bool started = false;
    for (const StrokeDot& dot : dots) {
        const std::vector<StrokeDot> processed = strokeProcessor_->process(dot);
        drawingEngineLogs().signpost(SignpostType::event, "Queued Dots", OSSignpostID::exclusive,
                                     "%d", std::int64_t(processed.size()));
        if (processed.empty()) {
            continue;
        }
        if (!append(makeDots(processed, color), color)) {
            userActionsLogs().log("Starting stroke at %dx%d: %{public}@",
                                  logCoordinate(dot.position.x), logCoordinate(dot.position.y),
                                  settings_.liveBrush().description());
            signpostID_ = OSSignpostID(userActionsLogs());
            userActionsLogs().signpost(SignpostType::begin, "Stroke Drawing", *signpostID_,
                                       "%{public}@ Started at %{public}@", "Stroke",
                                       pointText(dot.position));
            started = true;
        }
    }
    return started;
}

void StrokesViewModel::closeStroke(std::function<void()> completion) {
    const std::uint64_t ticket = nextTicket_++;
    const NSColorRef color = strokeOpen_ ? strokeColor_ : colorOfNewDots();
    strokeOpen_ = false;
    strokeColor_ = nullptr;
    auto self = shared_from_this();
    stabilizer_->closeStroke(
        [self, ticket, color, completion = std::move(completion)](std::vector<RawPoint> ready) {
            self->deliver(ticket, [self, color, completion, ready = std::move(ready)] {
                self->finishStroke(ready, color);
                completion();
            });
        });
    // The old stabiliser still hands back what it held; the next stroke uses the new one.
    if (replacementPending_) {
        replaceStabilizer();
    }
}

void StrokesViewModel::finishStroke(const std::vector<RawPoint>& ready, const NSColorRef& color) {
    std::vector<StrokeDot> dots;
    for (const RawPoint& sample : ready) {
        const std::vector<StrokeDot> processed = strokeProcessor_->process(makeDot(sample));
        dots.insert(dots.end(), processed.begin(), processed.end());
    }
    const std::vector<StrokeDot> released = strokeProcessor_->flush();
    dots.insert(dots.end(), released.begin(), released.end());
    append(makeDots(dots, color), color);
    std::shared_ptr<Stroke> stroke = std::move(unfinishedStroke_);
    stroke->erasing = color == nullptr;
    stroke->finished = true;
    queuedStrokes_.push_back(stroke);
    if (signpostID_) {
        if (stroke->dots.empty()) {
            userActionsLogs().log("Ending stroke at unknown position");
        } else {
            const CGPoint last = stroke->dots.back().position;
            userActionsLogs().log("Ending stroke at %dx%d", logCoordinate(last.x),
                                  logCoordinate(last.y));
        }
        userActionsLogs().signpost(SignpostType::end, "Stroke Drawing", *signpostID_,
                                   "Stroke Ended");
        // The next stroke that starts without a sample must not end this interval again.
        signpostID_.reset();
    }
}

void StrokesViewModel::drawingSettingsDidChangeActiveBrush(DrawingSettings&, const Brush&) {
    stabilizerShouldChange();
}

void StrokesViewModel::drawingSettingsDidUpdateActiveTool(DrawingSettings&, DrawingTool) {
    stabilizerShouldChange();
}

void StrokesViewModel::stabilizerShouldChange() {
    // Replacing it mid-stroke would lose the samples it still holds back.
    if (strokeOpen_) {
        replacementPending_ = true;
    } else {
        replaceStabilizer();
    }
}

void StrokesViewModel::replaceStabilizer() {
    replacementPending_ = false;
    stabilizer_ = std::make_unique<RawInputStabilizer>(stabilization(settings_.liveBrush()));
}

} // namespace velmora
