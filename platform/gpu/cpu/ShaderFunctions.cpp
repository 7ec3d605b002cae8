#include "gpu/cpu/ShaderFunctions.hpp"

#include <algorithm>

namespace velmora::cpu {

std::optional<ThreadRect> gridClippedToTextures(const ComputeArguments& arguments) {
    ThreadRect r{0, 0, arguments.grid.width, arguments.grid.height};
    for (const auto& t : arguments.table.textures()) {
        if (t != nullptr) {
            r.x1 = std::min(r.x1, t->width());
            r.y1 = std::min(r.y1, t->height());
        }
    }
    if (r.isEmpty()) {
        return std::nullopt;
    }
    return r;
}

} // namespace velmora::cpu
