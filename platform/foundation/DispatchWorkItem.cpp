#include "foundation/DispatchWorkItem.hpp"

namespace velmora {

DispatchWorkItem::DispatchWorkItem(std::function<void()> block)
    : state_(std::make_shared<State>()) {
    state_->block = std::move(block);
}

void DispatchWorkItem::perform() const {
    if (!isCancelled() && state_->block) {
        state_->block();
    }
}

} // namespace velmora
