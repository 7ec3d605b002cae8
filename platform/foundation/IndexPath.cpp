#include "foundation/IndexPath.hpp"

#include "foundation/FatalError.hpp"
#include "foundation/Hasher.hpp"

#include <ostream>

namespace velmora {

IndexPath::Element IndexPath::operator[](int64_t position) const {
    precondition(position >= 0 && position < count(), "Index path position out of range");
    return indexes_[static_cast<size_t>(position)];
}

IndexPath::Element& IndexPath::operator[](int64_t position) {
    precondition(position >= 0 && position < count(), "Index path position out of range");
    return indexes_[static_cast<size_t>(position)];
}

std::optional<IndexPath::Element> IndexPath::first() const {
    return indexes_.empty() ? std::nullopt : std::optional(indexes_.front());
}

std::optional<IndexPath::Element> IndexPath::last() const {
    return indexes_.empty() ? std::nullopt : std::optional(indexes_.back());
}

IndexPath IndexPath::appending(Element index) const {
    IndexPath path = *this;
    path.append(index);
    return path;
}

IndexPath IndexPath::dropLast() const {
    IndexPath path = *this;
    if (!path.indexes_.empty()) {
        path.indexes_.pop_back();
    }
    return path;
}

std::string IndexPath::description() const {
    std::string text = "[";
    for (size_t i = 0; i < indexes_.size(); ++i) {
        if (i > 0) {
            text += ", ";
        }
        text += std::to_string(indexes_[i]);
    }
    return text + "]";
}

std::ostream& operator<<(std::ostream& os, const IndexPath& path) {
    return os << path.description();
}

} // namespace velmora

size_t std::hash<velmora::IndexPath>::operator()(const velmora::IndexPath& path) const noexcept {
    velmora::Hasher h;
    h.combine(path.count());
    for (const auto index : path) {
        h.combine(index);
    }
    return h.finalize();
}
