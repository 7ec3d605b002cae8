#pragma once

// Neighbours of a position in the layer tree, and the correction of a
// remembered position for an insertion or a removal elsewhere. All pure. The
// platform's IndexPath takes no members from here, so these are free functions.

#include "foundation/IndexPath.hpp"

#include <optional>

namespace velmora {

// Nothing for the empty path; the path without its last index otherwise.
std::optional<IndexPath> parent(const IndexPath& p);
// [0] for the empty path; the last index plus one otherwise.
IndexPath next(const IndexPath& p);
// [0] for the empty path; the last index minus one, not below 0, otherwise.
IndexPath previous(const IndexPath& p);
IndexPath replacingLast(const IndexPath& p, IndexPath::Element n);
// A position outside the path stops the program.
IndexPath replacingElement(const IndexPath& p, int64_t position, IndexPath::Element n);
// The longest common prefix.
IndexPath intersection(const IndexPath& p, const IndexPath& q);

// Where the item at `p` is once the item at `removed` has gone: the empty path
// when it went with it. Only paths under the same parent as `removed` move.
IndexPath havingRemoved(const IndexPath& p, const IndexPath& removed);
// Where the item at `p` is once an item has been inserted at `inserted`. Only
// paths under the same parent as `inserted`, and what lies inside them, move.
IndexPath havingInserted(const IndexPath& p, const IndexPath& inserted);

} // namespace velmora
