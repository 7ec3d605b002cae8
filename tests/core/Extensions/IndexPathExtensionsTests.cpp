#include "Extensions/IndexPathExtensions.hpp"

#include <functional>
#include <gtest/gtest.h>
#include <limits>
#include <vector>

using namespace velmora;

namespace {

struct Case {
    IndexPath p;
    IndexPath arg;
    IndexPath expected;
};

TEST(IndexPathExtensions, Neighbours) {
    EXPECT_EQ(parent({2, 5}), (IndexPath{2}));
    EXPECT_EQ(parent({2}), IndexPath{});
    EXPECT_EQ(parent({}), std::nullopt);

    const Case nextCases[] = {{{}, {}, {0}}, {{2, 5}, {}, {2, 6}}, {{0}, {}, {1}}};
    for (const auto& c : nextCases) {
        EXPECT_EQ(next(c.p), c.expected) << c.p;
    }
    const Case previousCases[] = {
        {{2, 0}, {}, {2, 0}}, {{2, 3}, {}, {2, 2}}, {{}, {}, {0}}, {{-4}, {}, {0}}};
    for (const auto& c : previousCases) {
        EXPECT_EQ(previous(c.p), c.expected) << c.p;
    }
    EXPECT_EQ(replacingLast({}, 4), (IndexPath{4}));
    EXPECT_EQ(replacingLast({1, 2}, 7), (IndexPath{1, 7}));
    EXPECT_EQ(replacingElement({1, 2}, 0, 9), (IndexPath{9, 2}));
    EXPECT_EQ(replacingElement({1, 2, 3}, 2, 0), (IndexPath{1, 2, 0}));
}

TEST(IndexPathExtensions, Intersection) {
    const Case cases[] = {
        {{1, 2, 3}, {1, 2, 5}, {1, 2}},
        {{1}, {2}, {}},
        {{}, {1}, {}},
        {{1, 2}, {1, 2, 3}, {1, 2}},
        {{1, 2, 3}, {1, 2}, {1, 2}},
        {{4, 1}, {5, 1}, {}},
        {{3, 1, 4}, {3, 1, 4}, {3, 1, 4}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(intersection(c.p, c.arg), c.expected) << c.p << " with " << c.arg;
    }
}

TEST(IndexPathExtensions, HavingRemoved) {
    const Case cases[] = {
        {{3}, {1}, {2}},
        {{1}, {3}, {1}},
        {{1}, {1}, {}},
        {{1, 4}, {1}, {}},
        {{2, 4}, {2, 1}, {2, 3}},
        {{2, 4}, {2, 4}, {}},
        {{2, 4}, {3, 1}, {2, 4}},
        {{2}, {2, 1}, {2}},
        // A removal in another group leaves the path alone, whatever the
        // index just above the removed level says.
        {{0, 2, 5}, {1, 2, 3}, {0, 2, 5}},
        {{1, 2, 5}, {1, 2, 3}, {1, 2, 4}},
        {{1, 3, 5}, {1, 2, 3}, {1, 3, 5}},
        {{1, 2, 5, 0}, {1, 2, 3}, {1, 2, 4, 0}},
        {{4, 0}, {2}, {3, 0}},
        {{}, {2}, {}},
        {{2}, {}, {2}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(havingRemoved(c.p, c.arg), c.expected) << c.p << " for " << c.arg;
    }
}

TEST(IndexPathExtensions, HavingInserted) {
    const Case cases[] = {
        {{3}, {1}, {4}},
        {{1}, {1}, {2}},
        {{1, 4}, {1}, {2, 4}},
        {{2, 4}, {2, 4}, {2, 5}},
        {{2, 4}, {2, 5}, {2, 4}},
        {{0}, {0, 0}, {0}},
        {{}, {0}, {}},
        {{0, 2, 5}, {1, 2, 3}, {0, 2, 5}},
        {{1, 2, 5}, {1, 2, 3}, {1, 2, 6}},
        {{1, 2, 3, 7}, {1, 2, 3}, {1, 2, 4, 7}},
        {{5}, {}, {5}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(havingInserted(c.p, c.arg), c.expected) << c.p << " at " << c.arg;
    }
}

// Checks the corrections against a real tree: every item of a three-level
// tree is followed through every possible removal and insertion.
struct Node {
    int id = 0;
    std::vector<Node> children;
};

std::vector<Node> sampleTree() {
    int next = 1;
    const std::function<Node(int)> make = [&](int depth) {
        Node n{next++, {}};
        if (depth < 2) {
            for (int i = 0; i < 3; ++i) {
                n.children.push_back(make(depth + 1));
            }
        }
        return n;
    };
    return {make(0), make(1), make(0)};
}

void collectPaths(const std::vector<Node>& level, const IndexPath& prefix,
                  std::vector<IndexPath>& out) {
    for (size_t i = 0; i < level.size(); ++i) {
        const IndexPath path = prefix.appending(static_cast<int64_t>(i));
        out.push_back(path);
        collectPaths(level[i].children, path, out);
    }
}

std::vector<Node>& containerOf(std::vector<Node>& roots, const IndexPath& path) {
    std::vector<Node>* level = &roots;
    for (int64_t k = 0; k + 1 < path.count(); ++k) {
        level = &(*level)[static_cast<size_t>(path[k])].children;
    }
    return *level;
}

int idAt(std::vector<Node>& roots, const IndexPath& path) {
    return containerOf(roots, path)[static_cast<size_t>(*path.last())].id;
}

IndexPath pathOf(const std::vector<Node>& level, int id, const IndexPath& prefix = {}) {
    for (size_t i = 0; i < level.size(); ++i) {
        const IndexPath path = prefix.appending(static_cast<int64_t>(i));
        if (level[i].id == id) {
            return path;
        }
        if (auto inner = pathOf(level[i].children, id, path); !inner.isEmpty()) {
            return inner;
        }
    }
    return {};
}

TEST(IndexPathExtensions, CorrectionsFollowItemsThroughATree) {
    const std::vector<Node> tree = sampleTree();
    std::vector<IndexPath> paths;
    collectPaths(tree, {}, paths);
    ASSERT_GT(paths.size(), 20u);
    for (const IndexPath& edited : paths) {
        std::vector<Node> removedTree = tree;
        auto& from = containerOf(removedTree, edited);
        from.erase(from.begin() + *edited.last());

        std::vector<Node> insertedTree = tree;
        auto& into = containerOf(insertedTree, edited);
        into.insert(into.begin() + *edited.last(), Node{-1, {}});

        for (const IndexPath& p : paths) {
            std::vector<Node> original = tree;
            const int id = idAt(original, p);
            EXPECT_EQ(havingRemoved(p, edited), pathOf(removedTree, id))
                << p << " for the removal of " << edited;
            EXPECT_EQ(havingInserted(p, edited), pathOf(insertedTree, id))
                << p << " for an insertion at " << edited;
        }
    }
}

using IndexPathExtensionsDeathTest = ::testing::Test;

TEST_F(IndexPathExtensionsDeathTest, OutOfRangeStops) {
    EXPECT_DEATH(replacingElement({1, 2}, 2, 0), "Fatal error");
    EXPECT_DEATH(replacingElement({}, 0, 0), "Fatal error");
    EXPECT_DEATH(next({std::numeric_limits<int64_t>::max()}), "Fatal error: Arithmetic overflow");
}

} // namespace
