#include "Extensions/TreeNode.hpp"

#include <cctype>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

using namespace velmora;

namespace {

using Node = TreeNode<std::string>;
using Strings = std::vector<std::string>;

// P { Q { S }, R }
Node::Pointer sampleTree() {
    auto p = Node::make("P");
    auto q = Node::make("Q");
    q->addChild(Node::make("S"));
    p->addChildren({q, Node::make("R")});
    return p;
}

TEST(TreeNode, WalksPreOrderWithAncestorsRootFirst) {
    const auto root = sampleTree();
    EXPECT_EQ(root->flattenedValues(), (Strings{"P", "Q", "S", "R"}));
    std::vector<std::pair<std::string, Strings>> visits;
    root->recursiveForEach(
        [&](const std::string& v, const Strings& parents) { visits.emplace_back(v, parents); });
    const std::vector<std::pair<std::string, Strings>> expected{
        {"P", {}}, {"Q", {"P"}}, {"S", {"P", "Q"}}, {"R", {"P"}}};
    EXPECT_EQ(visits, expected);
    EXPECT_EQ(root->children[0]->flattenedValues(), (Strings{"Q", "S"}));
}

TEST(TreeNode, CompactMapPrunesAndRebuilds) {
    const auto root = sampleTree();
    const struct {
        const char* name;
        std::optional<std::string> dropped; // the value the transform refuses
        std::vector<std::string> calls;
        std::optional<std::vector<size_t>> lengths; // flattened result, as lengths
    } cases[] = {
        {"nothing refused", std::nullopt, {"P", "Q", "S", "R"}, std::vector<size_t>{1, 1, 1, 1}},
        {"root refused", "P", {"P"}, std::nullopt},
        {"group refused with its subtree", "Q", {"P", "Q", "R"}, std::vector<size_t>{1, 1}},
        {"leaf refused", "S", {"P", "Q", "S", "R"}, std::vector<size_t>{1, 1, 1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> calls;
        const auto mapped = root->compactMap(
            {}, [&](const std::string& v, const Strings&) -> std::optional<size_t> {
                calls.push_back(v);
                if (c.dropped && v == *c.dropped) {
                    return std::nullopt;
                }
                return v.size();
            });
        EXPECT_EQ(calls, c.calls);
        ASSERT_EQ(mapped != nullptr, c.lengths.has_value());
        if (mapped) {
            EXPECT_EQ(mapped->flattenedValues(), *c.lengths);
        }
    }
}

TEST(TreeNode, CompactMapLinksNewParentsAndPassesAncestors) {
    const auto root = sampleTree();
    root->parent = Node::make("outside");
    Strings grandchildAncestors;
    const auto mapped = root->compactMap({}, [&](const std::string& v, const Strings& parents) {
        if (v == "S") {
            grandchildAncestors = parents;
        }
        return std::optional(v + "'");
    });
    EXPECT_EQ(grandchildAncestors, (Strings{"P", "Q"}));
    ASSERT_NE(mapped, nullptr);
    EXPECT_TRUE(mapped->parent.expired());
    const auto q = mapped->children.at(0);
    EXPECT_EQ(q->value, "Q'");
    EXPECT_EQ(q->parent.lock(), mapped);
    EXPECT_EQ(q->children.at(0)->parent.lock(), q);
    EXPECT_EQ(mapped->children.at(1)->parent.lock(), mapped);
    EXPECT_NE(mapped->children.at(0), root->children.at(0));
}

TEST(TreeNode, ErrorsEndTheWalk) {
    const auto root = sampleTree();
    std::vector<std::string> seen;
    const auto failAtS = [&](const std::string& v, const Strings&) {
        seen.push_back(v);
        if (v == "S") {
            throw std::runtime_error("bad layer");
        }
    };
    EXPECT_THROW(root->recursiveForEach(failAtS), std::runtime_error);
    EXPECT_EQ(seen, (Strings{"P", "Q", "S"}));
    seen.clear();
    EXPECT_THROW(root->compactMap({},
                                  [&](const std::string& v, const Strings& p) {
                                      failAtS(v, p);
                                      return std::optional(v);
                                  }),
                 std::runtime_error);
    EXPECT_EQ(seen, (Strings{"P", "Q", "S"}));
}

TEST(TreeNode, TextForm) {
    auto p = Node::make("P");
    p->addChildren({Node::make("Q"), Node::make("R")});
    const struct {
        Node::Pointer node;
        const char* text;
    } cases[] = {
        {Node::make("leaf"), "leaf"},
        {p, "P\n{\n\tQ,\n\tR\n}"},
        {sampleTree(), "P\n{\n\tQ\n\t{\n\t\tS\n\t},\n\tR\n}"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.node->description(), c.text);
    }
    auto pointers = TreeNode<std::shared_ptr<int>>::make(std::make_shared<int>(7));
    pointers->addChild(TreeNode<std::shared_ptr<int>>::make(nullptr));
    EXPECT_EQ(pointers->description(), "7\n{\n\tnil\n}");
}

TEST(TreeNode, EqualityComparesValuesAndChildOrderButNotParents) {
    auto reordered = Node::make("P");
    auto q = Node::make("Q");
    q->addChild(Node::make("S"));
    reordered->addChildren({Node::make("R"), q});
    auto adopted = sampleTree();
    adopted->parent = reordered;
    auto deeper = sampleTree();
    deeper->children[1]->addChild(Node::make("T"));
    const struct {
        const char* name;
        Node::Pointer other;
        bool equal;
    } cases[] = {
        {"same shape", sampleTree(), true},         {"children reordered", reordered, false},
        {"only the parent differs", adopted, true}, {"one more grandchild", deeper, false},
        {"leaf", Node::make("P"), false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(*sampleTree() == *c.other, c.equal) << c.name;
    }
    const auto insensitive = [](const std::string& a, const std::string& b) {
        return a.size() == b.size() && std::tolower(a[0]) == std::tolower(b[0]);
    };
    auto lower = Node::make("p");
    lower->addChildren({Node::make("r")});
    auto upper = Node::make("P");
    upper->addChildren({Node::make("R")});
    EXPECT_TRUE(lower->isEqual(*upper, insensitive));
    EXPECT_FALSE(*lower == *upper);
}

TEST(TreeNode, ParentIsWeakAndFollowsTheLastAdd) {
    auto first = Node::make("first");
    auto second = Node::make("second");
    auto child = Node::make("child");
    first->addChild(child);
    second->addChild(child);
    EXPECT_EQ(first->children.size(), 1u) << "the first parent keeps its child";
    EXPECT_EQ(child->parent.lock(), second);
    second.reset();
    EXPECT_TRUE(child->parent.expired());
    EXPECT_EQ(child.use_count(), 2);
}

} // namespace
