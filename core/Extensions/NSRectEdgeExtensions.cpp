#include "Extensions/NSRectEdgeExtensions.hpp"

#include "foundation/FatalError.hpp"

namespace velmora {

std::string description(NSRectEdge edge) {
    switch (edge) {
    case NSRectEdge::minX:
        return "minX";
    case NSRectEdge::minY:
        return "minY";
    case NSRectEdge::maxX:
        return "maxX";
    case NSRectEdge::maxY:
        return "maxY";
    }
    fatalError();
}

CGPoint normalizedPosition(NSRectEdge edge) {
    switch (edge) {
    case NSRectEdge::minX:
        return {0, 0.5};
    case NSRectEdge::minY:
        return {0.5, 0};
    case NSRectEdge::maxX:
        return {1, 0.5};
    case NSRectEdge::maxY:
        return {0.5, 1};
    }
    fatalError();
}

} // namespace velmora
