#pragma once

#include "Canvas/BlendMode.hpp"

#include <memory>
#include <string>

namespace velmora {

class Layer;

// A subscriber to a layer's property changes. Called only for real changes,
// after the new value is stored.
class LayerDelegate {
public:
    virtual ~LayerDelegate() = default;
    virtual void layerDidChangeBlendMode(const std::shared_ptr<Layer>& layer, BlendMode from,
                                         BlendMode to) = 0;
    virtual void layerDidChangeVisibility(const std::shared_ptr<Layer>& layer) = 0;
    virtual void layerDidChangeOpacity(const std::shared_ptr<Layer>& layer, float from,
                                       float to) = 0;
    virtual void layerDidChangeName(const std::shared_ptr<Layer>& layer, const std::string& from,
                                    const std::string& to) = 0;
};

} // namespace velmora
