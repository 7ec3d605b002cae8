#include "Extensions/IndexPathExtensions.hpp"

#include "foundation/CheckedMath.hpp"

#include <algorithm>

namespace velmora {

namespace {

// True when `p` and `q` agree on their first `n` indexes (both are that long).
bool samePrefix(const IndexPath& p, const IndexPath& q, int64_t n) {
    return std::equal(p.begin(), p.begin() + n, q.begin());
}

// The shared steps of the two corrections: the level of the edited item, or
// nothing when `p` is not a sibling (or a sibling's descendant) of it.
std::optional<int64_t> siblingLevel(const IndexPath& p, const IndexPath& edited) {
    if (p.count() < edited.count()) {
        return std::nullopt;
    }
    const int64_t level = edited.count() - 1;
    // The whole parent prefix is compared: an edit in one group never moves a
    // path in another group.
    if (!samePrefix(p, edited, level)) {
        return std::nullopt;
    }
    return level;
}

} // namespace

std::optional<IndexPath> parent(const IndexPath& p) {
    if (p.isEmpty()) {
        return std::nullopt;
    }
    return p.dropLast();
}

IndexPath next(const IndexPath& p) {
    if (p.isEmpty()) {
        return {0};
    }
    return replacingLast(p, checked::add<IndexPath::Element>(*p.last(), 1));
}

IndexPath previous(const IndexPath& p) {
    if (p.isEmpty()) {
        return {0};
    }
    const IndexPath::Element last = *p.last();
    return replacingLast(p, last > 0 ? last - 1 : 0);
}

IndexPath replacingLast(const IndexPath& p, IndexPath::Element n) {
    return p.dropLast().appending(n);
}

IndexPath replacingElement(const IndexPath& p, int64_t position, IndexPath::Element n) {
    IndexPath result = p;
    result[position] = n;
    return result;
}

IndexPath intersection(const IndexPath& p, const IndexPath& q) {
    const int64_t n = std::min(p.count(), q.count());
    IndexPath common;
    for (int64_t k = 0; k < n && p[k] == q[k]; ++k) {
        common.append(p[k]);
    }
    return common;
}

IndexPath havingRemoved(const IndexPath& p, const IndexPath& removed) {
    if (p.isEmpty() || removed.isEmpty()) {
        return p;
    }
    if (intersection(p, removed) == removed) {
        return {};
    }
    const auto level = siblingLevel(p, removed);
    if (!level || p[*level] < removed[*level]) {
        return p;
    }
    return replacingElement(p, *level, checked::sub<IndexPath::Element>(p[*level], 1));
}

IndexPath havingInserted(const IndexPath& p, const IndexPath& inserted) {
    if (p.isEmpty() || inserted.isEmpty()) {
        return p;
    }
    const int64_t level = inserted.count() - 1;
    if (intersection(p, inserted) == inserted) {
        return replacingElement(p, level, checked::add<IndexPath::Element>(p[level], 1));
    }
    const auto sibling = siblingLevel(p, inserted);
    if (!sibling || p[*sibling] < inserted[*sibling]) {
        return p;
    }
    return replacingElement(p, *sibling, checked::add<IndexPath::Element>(p[*sibling], 1));
}

} // namespace velmora
