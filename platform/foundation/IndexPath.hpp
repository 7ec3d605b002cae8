#pragma once

#include <compare>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace velmora {

// An ordered list of integer indexes: a position in a tree, one index per level
// from the top down. The empty path addresses the root. Ordered element by
// element, a path before its extensions.
class IndexPath {
public:
    using Element = int64_t;

    IndexPath() = default;
    IndexPath(std::initializer_list<Element> indexes) : indexes_(indexes) {}
    explicit IndexPath(std::vector<Element> indexes) : indexes_(std::move(indexes)) {}

    int64_t count() const { return static_cast<int64_t>(indexes_.size()); }
    bool isEmpty() const { return indexes_.empty(); }
    // A position outside the path stops the program.
    Element operator[](int64_t position) const;
    Element& operator[](int64_t position);
    std::optional<Element> first() const;
    std::optional<Element> last() const;

    void append(Element index) { indexes_.push_back(index); }
    IndexPath appending(Element index) const;
    // The path without its last index; the empty path stays empty.
    IndexPath dropLast() const;

    const std::vector<Element>& indexes() const { return indexes_; }
    auto begin() const { return indexes_.begin(); }
    auto end() const { return indexes_.end(); }

    // "[2, 0]"; "[]" for the empty path.
    std::string description() const;

    friend bool operator==(const IndexPath&, const IndexPath&) = default;
    friend std::strong_ordering operator<=>(const IndexPath&, const IndexPath&) = default;

private:
    std::vector<Element> indexes_;
};

std::ostream& operator<<(std::ostream& os, const IndexPath& path);

} // namespace velmora

template <> struct std::hash<velmora::IndexPath> {
    size_t operator()(const velmora::IndexPath& path) const noexcept;
};
