#include "gpu/cpu/CPURenderCommandEncoder.hpp"

#include "gpu/cpu/CPUTexture.hpp"
#include "gpu/cpu/PixelIO.hpp"
#include "gpu/cpu/RenderPassRecord.hpp"
#include "gpu/cpu/Workers.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>

namespace velmora::cpu {

CPURenderCommandEncoder::CPURenderCommandEncoder(std::shared_ptr<CPUCommandBuffer> buffer,
                                                 const MTLRenderPassDescriptor& descriptor)
    : CPUEncoder(std::move(buffer), MTLCommandTraceEntry::Kind::renderEncoder),
      attachment_(descriptor.colorAttachments[0]) {
    precondition(attachment_.texture != nullptr, "Render pass without a colour attachment");
    precondition(attachment_.texture->usage().contains(MTLTextureUsage::renderTarget),
                 "Colour attachment without render target usage");
    viewport_ = {0,
                 0,
                 static_cast<double>(attachment_.texture->width()),
                 static_cast<double>(attachment_.texture->height()),
                 0,
                 1};
}

void CPURenderCommandEncoder::setViewport(MTLViewport viewport) {
    checkOpen();
    viewport_ = viewport;
}

void CPURenderCommandEncoder::setRenderPipelineState(std::shared_ptr<MTLRenderPipelineState> s) {
    checkOpen();
    precondition(s != nullptr, "No render pipeline state");
    precondition(s->descriptor().colorAttachments[0].pixelFormat ==
                     attachment_.texture->pixelFormat(),
                 "Render pipeline format differs from the colour attachment's");
    pipeline_ = std::move(s);
}

void CPURenderCommandEncoder::setVertexBytes(const void* bytes, size_t length, uint64_t index) {
    checkOpen();
    vertexArguments_.setBytes(bytes, length, index);
}

void CPURenderCommandEncoder::setVertexBuffer(std::shared_ptr<MTLBuffer> buffer, int64_t offset,
                                              uint64_t index) {
    checkOpen();
    vertexArguments_.setBuffer(std::move(buffer), offset, index);
}

void CPURenderCommandEncoder::setFragmentBytes(const void* bytes, size_t length, uint64_t index) {
    checkOpen();
    fragmentArguments_.setBytes(bytes, length, index);
}

void CPURenderCommandEncoder::setFragmentBuffer(std::shared_ptr<MTLBuffer> buffer, int64_t offset,
                                                uint64_t index) {
    checkOpen();
    fragmentArguments_.setBuffer(std::move(buffer), offset, index);
}

void CPURenderCommandEncoder::setFragmentTexture(std::shared_ptr<MTLTexture> texture,
                                                 uint64_t index) {
    checkOpen();
    fragmentArguments_.setTexture(std::move(texture), index);
}

void CPURenderCommandEncoder::drawPrimitives(MTLPrimitiveType type, uint64_t vertexStart,
                                             uint64_t vertexCount) {
    checkOpen();
    precondition(type == MTLPrimitiveType::triangle, "Only triangles can be drawn on this device");
    precondition(pipeline_ != nullptr, "drawPrimitives without a render pipeline state");
    for (const auto& table : {vertexArguments_, fragmentArguments_}) {
        for (const auto& t : table.textures()) {
            buffer_->useResource(t);
        }
        for (const auto& b : table.buffers()) {
            buffer_->useResource(b.buffer);
        }
    }
    draws_.push_back(
        {pipeline_, viewport_, vertexArguments_, fragmentArguments_, vertexStart, vertexCount});
}

namespace {

void fillRow(uint8_t* row, const uint8_t* pixel, int64_t bytesPerPixel, int64_t count) {
    if (bytesPerPixel == 4) {
        uint32_t p;
        std::memcpy(&p, pixel, 4);
        for (int64_t x = 0; x < count; ++x) {
            std::memcpy(row + 4 * x, &p, 4);
        }
        return;
    }
    for (int64_t x = 0; x < count; ++x) {
        std::memcpy(row + x * bytesPerPixel, pixel, static_cast<size_t>(bytesPerPixel));
    }
}

} // namespace

void CPURenderCommandEncoder::finish() {
    buffer_->useResource(attachment_.texture);
    buffer_->addCommand([attachment = attachment_, draws = std::move(draws_)] {
        auto& texture = *attachment.texture;
        auto* target = dynamic_cast<CPUTexture*>(&texture);
        // The same pass again over an attachment nobody wrote since: only rows whose
        // fragments read changed texels are drawn.
        auto record = target != nullptr ? RenderPassRecord::make(attachment, draws) : nullptr;
        std::optional<MTLRegion> changed;
        if (record != nullptr) {
            const auto previous = target->renderPassRecord();
            if (previous != nullptr &&
                previous->attachmentGeneration() == texture.contentGeneration() &&
                previous->drawsAs(*record)) {
                changed = previous->changedTexels();
            }
            record->noteRead();
        }
        const auto remember = [&] {
            if (record != nullptr) {
                record->noteDrawn(texture);
            }
            if (target != nullptr) {
                target->setRenderPassRecord(std::move(record));
            }
        };
        if (changed && (changed->size.width < 1 || changed->size.height < 1)) {
            remember();
            return;
        }
        if (attachment.loadAction != MTLLoadAction::clear) {
            for (const auto& draw : draws) {
                rasterize(draw, texture);
            }
            remember();
            return;
        }
        const auto layout = *pixelLayout(texture.pixelFormat());
        const auto& c = attachment.clearColor;
        const std::array<float, 4> colour{static_cast<float>(c.red), static_cast<float>(c.green),
                                          static_cast<float>(c.blue), static_cast<float>(c.alpha)};
        std::array<uint8_t, 16> pixel{};
        storeRow(layout, colour.data(), pixel.data(), 1);
        if (draws.empty()) {
            const auto contents = texture.contents();
            parallelRows(0, contents.height, [&](int64_t y0, int64_t y1) {
                for (int64_t y = y0; y < y1; ++y) {
                    fillRow(contents.row(y), pixel.data(), contents.bytesPerPixel, contents.width);
                }
            });
            remember();
            return;
        }
        for (size_t i = 0; i < draws.size(); ++i) {
            rasterize(draws[i], texture, i == 0 ? pixel.data() : nullptr,
                      changed ? &*changed : nullptr);
        }
        remember();
    });
}

namespace {

struct ScreenVertex {
    double x, y;
    std::array<double, kMaxVaryings> v;
};

struct Triangle {
    std::array<ScreenVertex, 3> p;
    double area;
    std::array<double, kMaxVaryings> dx{}, dy{};
    int64_t yMin, yMax;
};

} // namespace

void rasterize(const DrawCall& draw, MTLTexture& attachment, const uint8_t* clearPixel,
               const MTLRegion* changedTexels) {
    const auto& desc = draw.pipeline->descriptor();
    const auto& vertexBody = *desc.vertexFunction->body();
    const auto& fragmentBody = *desc.fragmentFunction->body();
    const size_t varyings = vertexBody.varyingCount;
    const auto& vp = draw.viewport;

    // Drawn in part, the rows written are told when known.
    const auto contents =
        changedTexels != nullptr ? attachment.contentsForReading() : attachment.contents();
    const auto layout = *pixelLayout(attachment.pixelFormat());
    const auto footprint = fragmentBody.footprint;
    precondition(changedTexels == nullptr || footprint.has_value(),
                 "Drawing in part needs to know what the fragments read");
    std::shared_ptr<MTLTexture> sampled;
    if (changedTexels != nullptr) {
        sampled = draw.fragmentArguments.textureObject(footprint->texture);
    }
    std::atomic<int64_t> firstDrawn{std::numeric_limits<int64_t>::max()};
    std::atomic<int64_t> lastDrawn{-1};
    auto clearRows = [&](int64_t y0, int64_t y1) {
        if (clearPixel != nullptr) {
            for (int64_t y = y0; y < y1; ++y) {
                fillRow(contents.row(y), clearPixel, contents.bytesPerPixel, contents.width);
            }
        }
    };
    // Drawn in part, the attachment already holds the clear colour where nothing is drawn.
    auto clearAll = [&] {
        if (clearPixel != nullptr && changedTexels == nullptr) {
            parallelRows(0, contents.height, clearRows);
        }
    };
    // Pixels the draw can touch: those whose centres lie in the viewport, within the attachment.
    auto firstPixel = [](double edge) { return static_cast<int64_t>(std::ceil(edge - 0.5)); };
    if (!(std::isfinite(vp.originX) && std::isfinite(vp.originY) && std::isfinite(vp.width) &&
          std::isfinite(vp.height) && std::fabs(vp.originX) < 1e9 && std::fabs(vp.originY) < 1e9 &&
          std::fabs(vp.width) < 1e9 && std::fabs(vp.height) < 1e9)) {
        clearAll();
        return;
    }
    const int64_t clipX0 = std::max<int64_t>(0, firstPixel(vp.originX));
    const int64_t clipY0 = std::max<int64_t>(0, firstPixel(vp.originY));
    const int64_t clipX1 = std::min<int64_t>(contents.width, firstPixel(vp.originX + vp.width));
    const int64_t clipY1 = std::min<int64_t>(contents.height, firstPixel(vp.originY + vp.height));
    if (clipX1 <= clipX0 || clipY1 <= clipY0) {
        clearAll();
        return;
    }

    std::vector<Triangle> triangles;
    for (uint64_t i = 0; i + 3 <= draw.vertexCount; i += 3) {
        Triangle t{};
        bool visible = true;
        for (int k = 0; k < 3; ++k) {
            const auto out = vertexBody.vertex(draw.vertexArguments,
                                               static_cast<uint32_t>(draw.vertexStart + i + k));
            const double w = out.position[3];
            if (!(w > 0.0)) {
                visible = false;
                break;
            }
            // Clip space to framebuffer pixels: y points down the attachment's rows.
            t.p[k].x = vp.originX + (out.position[0] / w + 1.0) * 0.5 * vp.width;
            t.p[k].y = vp.originY + (1.0 - out.position[1] / w) * 0.5 * vp.height;
            for (size_t j = 0; j < varyings; ++j) {
                t.p[k].v[j] = out.varyings[j];
            }
        }
        if (!visible) {
            continue;
        }
        const auto& [a, b, c] = t.p;
        t.area = (b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x);
        if (t.area == 0.0 || !std::isfinite(t.area)) {
            continue;
        }
        for (size_t j = 0; j < varyings; ++j) {
            const double d1 = b.v[j] - a.v[j], d2 = c.v[j] - a.v[j];
            t.dx[j] = (d1 * (c.y - a.y) - d2 * (b.y - a.y)) / t.area;
            t.dy[j] = (d2 * (b.x - a.x) - d1 * (c.x - a.x)) / t.area;
        }
        const double minY = std::max(std::min({a.y, b.y, c.y}), clipY0 - 1.0);
        const double maxY = std::min(std::max({a.y, b.y, c.y}), clipY1 + 1.0);
        if (!(minY <= maxY)) {
            continue;
        }
        t.yMin = std::max<int64_t>(clipY0, static_cast<int64_t>(std::ceil(minY - 0.5)));
        t.yMax = std::min<int64_t>(clipY1 - 1, static_cast<int64_t>(std::floor(maxY - 0.5)));
        triangles.push_back(t);
    }
    if (triangles.empty()) {
        clearAll();
        return;
    }

    const int64_t rows0 = clearPixel != nullptr ? 0 : clipY0;
    const int64_t rows1 = clearPixel != nullptr ? contents.height : clipY1;
    struct Span {
        const Triangle* triangle;
        int64_t x0, x1; // inclusive
    };
    // Whether a fragment of the row's spans can read a changed texel, going by what
    // the fragment function says it reads.
    const auto readsChanged = [&](const std::vector<Span>& spans, double yc) {
        const double w = static_cast<double>(sampled->width());
        const double h = static_cast<double>(sampled->height());
        const MTLRegion& r = *changedTexels;
        const auto texel = [](double v, double limit) {
            return static_cast<int64_t>(std::clamp(std::floor(v), 0.0, limit - 1.0));
        };
        for (const auto& span : spans) {
            const auto& t = *span.triangle;
            const auto& a = t.p[0];
            const size_t u = footprint->u, v = footprint->v;
            const auto at = [&](size_t j, double xc) {
                return a.v[j] + t.dx[j] * (xc - a.x) + t.dy[j] * (yc - a.y);
            };
            const double xa = static_cast<double>(span.x0) + 0.5;
            const double xb = static_cast<double>(span.x1) + 0.5;
            const double u0 = at(u, xa) * w, u1 = at(u, xb) * w;
            const double v0 = at(v, xa) * h, v1 = at(v, xb) * h;
            const double reach =
                footprint->margin + footprint->stepFactor * std::hypot(t.dx[u] * w, t.dx[v] * h);
            if (!(std::isfinite(u0) && std::isfinite(u1) && std::isfinite(v0) &&
                  std::isfinite(v1) && std::isfinite(reach))) {
                return true;
            }
            const int64_t i0 = texel(std::min(u0, u1) - reach, w);
            const int64_t i1 = texel(std::max(u0, u1) + reach, w);
            const int64_t j0 = texel(std::min(v0, v1) - reach, h);
            const int64_t j1 = texel(std::max(v0, v1) + reach, h);
            if (i1 >= r.origin.x && i0 < r.origin.x + r.size.width && j1 >= r.origin.y &&
                j0 < r.origin.y + r.size.height) {
                return true;
            }
        }
        return false;
    };
    parallelRows(rows0, rows1, [&](int64_t y0, int64_t y1) {
        std::vector<float> colours(static_cast<size_t>(clipX1 - clipX0) * 4);
        std::array<float, kMaxVaryings> start{}, step{};
        std::vector<Span> spans, covered;
        for (int64_t y = y0; y < y1; ++y) {
            const double yc = static_cast<double>(y) + 0.5;
            spans.clear();
            for (const auto& t : triangles) {
                if (y < clipY0 || y >= clipY1 || y < t.yMin || y > t.yMax) {
                    continue;
                }
                const double s = t.area > 0 ? 1.0 : -1.0;
                double lo = -std::numeric_limits<double>::infinity();
                double hi = std::numeric_limits<double>::infinity();
                bool empty = false;
                for (int e = 0; e < 3; ++e) {
                    const auto& p = t.p[e];
                    const auto& q = t.p[(e + 1) % 3];
                    // Inside when A·x + B >= 0 on this row.
                    const double A = -s * (q.y - p.y);
                    const double B = s * ((q.x - p.x) * (yc - p.y) + (q.y - p.y) * p.x);
                    if (A > 0) {
                        lo = std::max(lo, -B / A);
                    } else if (A < 0) {
                        hi = std::min(hi, -B / A);
                    } else if (B < 0) {
                        empty = true;
                    }
                }
                if (empty) {
                    continue;
                }
                lo = std::max(lo, static_cast<double>(clipX0) - 1.0);
                hi = std::min(hi, static_cast<double>(clipX1) + 1.0);
                const int64_t x0 = std::max(clipX0, static_cast<int64_t>(std::ceil(lo - 0.5)));
                const int64_t x1 = std::min(clipX1 - 1, static_cast<int64_t>(std::floor(hi - 0.5)));
                if (x1 >= x0) {
                    spans.push_back({&t, x0, x1});
                }
            }
            if (changedTexels != nullptr) {
                if (!readsChanged(spans, yc)) {
                    continue;
                }
                int64_t seen = firstDrawn.load();
                while (y < seen && !firstDrawn.compare_exchange_weak(seen, y)) {
                }
                seen = lastDrawn.load();
                while (y > seen && !lastDrawn.compare_exchange_weak(seen, y)) {
                }
            }
            if (clearPixel != nullptr) {
                // Only the pixels no span writes take the clear colour.
                covered = spans;
                std::sort(covered.begin(), covered.end(),
                          [](const Span& a, const Span& b) { return a.x0 < b.x0; });
                int64_t x = 0;
                for (const auto& c : covered) {
                    if (c.x0 > x) {
                        fillRow(contents.row(y) + x * contents.bytesPerPixel, clearPixel,
                                contents.bytesPerPixel, c.x0 - x);
                    }
                    x = std::max(x, c.x1 + 1);
                }
                if (x < contents.width) {
                    fillRow(contents.row(y) + x * contents.bytesPerPixel, clearPixel,
                            contents.bytesPerPixel, contents.width - x);
                }
            }
            for (const auto& span : spans) {
                const auto& t = *span.triangle;
                const auto& a = t.p[0];
                const double xc = static_cast<double>(span.x0) + 0.5;
                for (size_t j = 0; j < varyings; ++j) {
                    start[j] =
                        static_cast<float>(a.v[j] + t.dx[j] * (xc - a.x) + t.dy[j] * (yc - a.y));
                    step[j] = static_cast<float>(t.dx[j]);
                }
                const int64_t n = span.x1 - span.x0 + 1;
                fragmentBody.fragment(draw.fragmentArguments,
                                      {span.x0, y, n, start.data(), step.data()}, colours.data());
                storeRow(layout, colours.data(), contents.row(y) + span.x0 * contents.bytesPerPixel,
                         n);
            }
        }
    });
    if (changedTexels != nullptr && lastDrawn.load() >= firstDrawn.load()) {
        attachment.contents(
            MTLRegion{{0, firstDrawn.load(), 0},
                      {contents.width, lastDrawn.load() - firstDrawn.load() + 1, 1}});
    }
}

} // namespace velmora::cpu
