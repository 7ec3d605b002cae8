#pragma once

#include "foundation/FatalError.hpp"

#include <concepts>
#include <cstddef>
#include <memory>
#include <optional>
#include <ostream>
#include <sstream>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

namespace velmora {

template <typename T> class TreeNode;

namespace detail {

template <typename R> struct OptionalValue;
template <typename U> struct OptionalValue<std::optional<U>> { using type = U; };

// Prints a value as the tree text shows it: objects held by pointer print
// themselves, an empty pointer prints "nil".
template <typename V> void describeTreeValue(std::ostream& os, const V& v) {
    if constexpr (std::is_convertible_v<const V&, std::string_view>) {
        os << std::string_view(v);
    } else if constexpr (requires {
                             v == nullptr;
                             os << *v;
                         }) {
        if (v == nullptr) {
            os << "nil";
        } else {
            os << *v;
        }
    } else {
        os << v;
    }
}

} // namespace detail

// A node of a tree: a value, a weak link to the node it was last added to, and
// the children it owns, in order. Nodes are shared objects: make them with
// `TreeNode<T>::make`. The platform's `add(child:)` and `add(children:)` are
// `addChild` and `addChildren`.
template <typename T> class TreeNode : public std::enable_shared_from_this<TreeNode<T>> {
    struct Token {};

public:
    using Pointer = std::shared_ptr<TreeNode>;

    T value;
    std::weak_ptr<TreeNode> parent;
    std::vector<Pointer> children;

    static Pointer make(T value) { return std::make_shared<TreeNode>(Token{}, std::move(value)); }
    TreeNode(Token, T v) : value(std::move(v)) {}

    // Appends the node and makes this node its parent. A node that another node
    // holds already stays among that node's children too.
    void addChild(const Pointer& child) {
        precondition(child != nullptr, "Tree node child must not be null");
        children.push_back(child);
        child->parent = this->weak_from_this();
    }
    void addChildren(const std::vector<Pointer>& nodes) {
        for (const auto& node : nodes) {
            addChild(node);
        }
    }

    // A new tree of the transform's results, pre-order. The transform gets a
    // value and the values of its ancestors, root first; where it gives
    // nothing, the node and its whole subtree are left out without calling it
    // further down. An exception from the transform ends the walk and is
    // passed on. `parents` is empty at the root.
    template <typename F>
    auto compactMap(std::vector<T> parents, F&& transform) const
        -> std::shared_ptr<TreeNode<typename detail::OptionalValue<
            std::invoke_result_t<F&, const T&, const std::vector<T>&>>::type>> {
        using U = typename detail::OptionalValue<
            std::invoke_result_t<F&, const T&, const std::vector<T>&>>::type;
        auto mapped = transform(value, std::as_const(parents));
        if (!mapped) {
            return nullptr;
        }
        auto node = TreeNode<U>::make(std::move(*mapped));
        parents.push_back(value);
        // Indexing re-reads the count each round, should the transform edit it.
        for (size_t i = 0; i < children.size(); ++i) {
            const Pointer child = children[i];
            precondition(child != nullptr, "Tree node child must not be null");
            if (auto mappedChild = child->compactMap(parents, transform)) {
                node->addChild(mappedChild);
            }
        }
        return node;
    }

    // Calls the callback with every value and its ancestors' values, pre-order:
    // a node before its children, children in order. An exception from the
    // callback ends the walk and is passed on.
    template <typename F>
    requires std::invocable < F&, const T&, const std::vector<T>
    & > void recursiveForEach(F&& callback) const {
        std::vector<T> parents;
        walk(parents, callback);
    }

    std::vector<T> flattenedValues() const {
        std::vector<T> values;
        recursiveForEach([&](const T& v, const std::vector<T>&) { values.push_back(v); });
        return values;
    }

    // One line a node, indented by a tab a level; a node with children
    // follows with its children between braces, separated by commas.
    std::string description() const {
        std::ostringstream os;
        describe(os, 0);
        return os.str();
    }

    // Equal values and pairwise equal children, by `equal` on the values;
    // parents are not compared.
    template <typename Eq>
    requires std::predicate<Eq&, const T&, const T&>
    bool isEqual(const TreeNode& other, Eq&& equal) const {
        if (!equal(value, other.value) || children.size() != other.children.size()) {
            return false;
        }
        for (size_t i = 0; i < children.size(); ++i) {
            const auto& a = children[i];
            const auto& b = other.children[i];
            if (a == nullptr || b == nullptr ? a != b : !a->isEqual(*b, equal)) {
                return false;
            }
        }
        return true;
    }

    friend bool operator==(const TreeNode& a,
                           const TreeNode& b) requires std::equality_comparable<T> {
        return a.isEqual(b, [](const T& x, const T& y) { return x == y; });
    }

    friend std::ostream& operator<<(std::ostream& os, const TreeNode& node) {
        node.describe(os, 0);
        return os;
    }

private:
    template <typename F> void walk(std::vector<T>& parents, F& callback) const {
        callback(value, std::as_const(parents));
        parents.push_back(value);
        for (size_t i = 0; i < children.size(); ++i) {
            const Pointer child = children[i];
            precondition(child != nullptr, "Tree node child must not be null");
            child->walk(parents, callback);
        }
        parents.pop_back();
    }

    void describe(std::ostream& os, size_t level) const {
        const std::string indent(level, '\t');
        os << indent;
        detail::describeTreeValue(os, value);
        if (children.empty()) {
            return;
        }
        os << '\n' << indent << "{\n";
        for (size_t i = 0; i < children.size(); ++i) {
            if (i > 0) {
                os << ",\n";
            }
            precondition(children[i] != nullptr, "Tree node child must not be null");
            children[i]->describe(os, level + 1);
        }
        os << '\n' << indent << '}';
    }
};

} // namespace velmora
