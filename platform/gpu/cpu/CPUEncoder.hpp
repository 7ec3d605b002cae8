#pragma once

#include "foundation/FatalError.hpp"
#include "gpu/cpu/CPUCommandBuffer.hpp"

#include <memory>
#include <optional>
#include <string>

namespace velmora::cpu {

// What the three encoders share: the label, the trace line and the end of encoding.
template <class Interface> class CPUEncoder : public Interface {
public:
    std::optional<std::string> label() const override { return label_; }
    void setLabel(std::optional<std::string> label) override {
        label_ = std::move(label);
        buffer_->setTraceLabel(traceIndex_, label_);
    }
    void endEncoding() override {
        checkOpen();
        finish();
        ended_ = true;
        buffer_->encoderEnded();
    }

protected:
    CPUEncoder(std::shared_ptr<CPUCommandBuffer> buffer, MTLCommandTraceEntry::Kind kind)
        : buffer_(std::move(buffer)), traceIndex_(buffer_->appendTrace({kind, std::nullopt})) {}

    // Hands what the encoder still holds to the buffer.
    virtual void finish() {}
    void checkOpen() const { precondition(!ended_, "Encoding on an encoder that has ended"); }

    std::shared_ptr<CPUCommandBuffer> buffer_;

private:
    size_t traceIndex_;
    std::optional<std::string> label_;
    bool ended_ = false;
};

} // namespace velmora::cpu
