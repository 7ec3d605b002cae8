#pragma once

namespace velmora {

class SliderButton;

// Told when a drag of a slider button starts changing its value and when
// that drag is over.
class SliderButtonDelegate {
public:
    virtual ~SliderButtonDelegate() = default;
    virtual void sliderButtonDidStartLiveUpdate(SliderButton& button) = 0;
    virtual void sliderButtonDidEndLiveUpdate(SliderButton& button) = 0;
};

} // namespace velmora
