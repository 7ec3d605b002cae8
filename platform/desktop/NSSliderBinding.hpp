#pragma once

#include "desktop/NSControlBinding.hpp"

namespace velmora {

class NSSlider;

// A slider of doubles bound to a value, as NSControlBinding binds other
// controls: each change of the value moves the slider (through the
// transformer, if named), each move goes back through the reverse
// transformation; a move that transforms to nothing changes nothing.
class NSSliderBinding {
public:
    // A transformer name that is not registered ends the program.
    NSSliderBinding(NSSlider* slider, BindableValue value, std::string valueTransformerName = {});
    ~NSSliderBinding();
    NSSliderBinding(const NSSliderBinding&) = delete;
    NSSliderBinding& operator=(const NSSliderBinding&) = delete;

    void refresh();

private:
    QPointer<NSSlider> slider_;
    BindableValue value_;
    std::shared_ptr<ValueTransformer> transformer_;
    NSKeyValueObservation observation_;
    QMetaObject::Connection connection_;
    bool writing_ = false;
};

} // namespace velmora
