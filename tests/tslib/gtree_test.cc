#include "tslib/gtree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tslib/gtree_layout.h"
#include "tslib/typed_mem.h"
#include "tslib_test_util.h"

namespace {

// Accounting on for the whole binary: every node must be released under the tree's name.
const int kAccounting = typed_mem_turn_on();

constexpr const char* kTreeName = "test_tree";

struct Callbacks {
    int adds = 0;
    int dels = 0;
    std::vector<int> deleted;
    // What the callbacks try against their own tree, and what they got.
    bool reenter = false;
    int store_result = 0, store_errno = 0;
    int delete_result = 0, delete_errno = 0;
    int walk_result = 0, walk_errno = 0;
    void* lookup_result = nullptr;
};

int compare_ints(const gtree*, const void* a, const void* b) {
    const int x = *static_cast<const int*>(a);
    const int y = *static_cast<const int*>(b);
    return x < y ? -1 : x > y ? 1 : 0;
}

int g_probe = 0;

void try_reentry(gtree* g, Callbacks* cb) {
    errno = 0;
    cb->store_result = gtree_store(g, &g_probe);
    cb->store_errno = errno;
    errno = 0;
    cb->delete_result = gtree_delete(g, &g_probe);
    cb->delete_errno = errno;
    errno = 0;
    cb->walk_result = gtree_walk(g, [](gtree*, void*) { return 0; });
    cb->walk_errno = errno;
}

void on_add(gtree* g, void* item) {
    auto* cb = static_cast<Callbacks*>(gtree_arg(g));
    ++cb->adds;
    if (cb->reenter) {
        try_reentry(g, cb);
        cb->lookup_result = gtree_lookup(g, item);
    }
}

void on_del(gtree* g, void* item) {
    auto* cb = static_cast<Callbacks*>(gtree_arg(g));
    ++cb->dels;
    cb->deleted.push_back(*static_cast<int*>(item));
    if (cb->reenter) try_reentry(g, cb);
}

const char* print_int(const gtree*, const void* item) {
    static thread_local std::string text;
    text = std::to_string(*static_cast<const int*>(item));
    return text.c_str();
}

// Checks order, parent links and the red-black rules; returns the black height.
int check_subtree(const gtree* g, const gtree_node* n, const gtree_node* parent, const int* lo, const int* hi,
                  std::size_t* count) {
    if (n == &g->nil) return 1;
    EXPECT_EQ(n->parent, parent);
    const int v = *static_cast<const int*>(n->item);
    if (lo != nullptr) {
        EXPECT_LT(*lo, v);
    }
    if (hi != nullptr) {
        EXPECT_LT(v, *hi);
    }
    if (n->red) {
        EXPECT_FALSE(n->left->red) << "red node " << v << " has a red child";
        EXPECT_FALSE(n->right->red) << "red node " << v << " has a red child";
    }
    ++*count;
    const int left = check_subtree(g, n->left, n, lo, &v, count);
    const int right = check_subtree(g, n->right, n, &v, hi, count);
    EXPECT_EQ(left, right) << "black heights differ below " << v;
    return left + (n->red ? 0 : 1);
}

void check_invariants(const gtree* g) {
    EXPECT_FALSE(g->root->red);
    EXPECT_FALSE(g->nil.red);
    std::size_t count = 0;
    check_subtree(g, g->root, &g->nil, nullptr, nullptr, &count);
    EXPECT_EQ(count, g->size);
    EXPECT_FALSE(g->locked);
}

// Items outlive the tree, which the fixture drops after the test body.
class TreeTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(kAccounting, 0);
        tree = gtree_make(&callbacks, kTreeName, compare_ints, on_add, on_del, print_int);
        ASSERT_NE(tree, nullptr);
    }
    void TearDown() override {
        callbacks.reenter = false;
        gtree_drop(&tree);
        EXPECT_EQ(tree, nullptr);
        EXPECT_EQ(tslib_test::live_blocks().count(kTreeName), 0u) << "tree blocks leaked";
    }

    Callbacks callbacks;
    gtree* tree = nullptr;
};

TEST_F(TreeTest, RandomOperationsMatchAnOrderedMapModel) {
    constexpr int kValues = 600;
    // Two distinct items per value, so that replacing an equal item is visible.
    static std::vector<std::array<int, 2>> pool(kValues);
    for (int v = 0; v < kValues; ++v) pool[v] = {v, v};
    std::map<int, int*> model;
    std::mt19937 rng(1234);
    std::uniform_int_distribution<int> value(0, kValues - 1);

    for (int step = 0; step < 20000; ++step) {
        const int v = value(rng);
        const int op = static_cast<int>(rng() % 10);
        SCOPED_TRACE("step " + std::to_string(step) + " value " + std::to_string(v));
        if (op < 5) {
            int* item = &pool[v][rng() % 2];
            const int expected = model.count(v) != 0 ? 1 : 0;
            ASSERT_EQ(gtree_store(tree, item), expected);
            model[v] = item;
        } else if (op < 8) {
            const int expected = model.erase(v) != 0 ? 1 : 0;
            ASSERT_EQ(gtree_delete(tree, &v), expected);
        } else {
            auto it = model.find(v);
            ASSERT_EQ(gtree_lookup(tree, &v), it != model.end() ? it->second : nullptr);
            if (it != model.end()) {
                auto next = std::next(it);
                ASSERT_EQ(gtree_after(tree, &v), next != model.end() ? next->second : nullptr);
                ASSERT_EQ(gtree_before(tree, &v), it != model.begin() ? std::prev(it)->second : nullptr);
            } else {
                ASSERT_EQ(gtree_after(tree, &v), nullptr);
                ASSERT_EQ(gtree_before(tree, &v), nullptr);
            }
        }
        check_invariants(tree);
        ASSERT_EQ(gtree_count(tree), model.size());
        ASSERT_EQ(callbacks.adds - callbacks.dels, static_cast<int>(model.size()));
        ASSERT_EQ(gtree_lowest(tree), model.empty() ? nullptr : model.begin()->second);
        ASSERT_EQ(gtree_highest(tree), model.empty() ? nullptr : model.rbegin()->second);
        if (testing::Test::HasFailure()) return;
    }

    void** items = nullptr;
    ASSERT_EQ(gtree_to_array(tree, "test_array", &items), static_cast<ssize_t>(model.size()));
    std::size_t i = 0;
    for (const auto& [v, item] : model) EXPECT_EQ(items[i++], item) << "position " << i;
    typed_mem_release("test_array", items);

    const std::size_t live = model.size();
    callbacks.deleted.clear();
    gtree_drop(&tree);
    EXPECT_EQ(callbacks.deleted.size(), live) << "drop runs the delete callback per item";
}

TEST_F(TreeTest, SequentialStoresAndDeletesStayBalanced) {
    static std::vector<int> values(4096);
    for (int i = 0; i < 4096; ++i) values[i] = i;
    for (int& v : values) ASSERT_EQ(gtree_store(tree, &v), 0);
    check_invariants(tree);
    // Black height bounds the depth: a balanced tree of 4096 items is at most 2 log2(n) deep.
    std::function<int(const gtree_node*)> depth = [&](const gtree_node* n) {
        return n == &tree->nil ? 0 : 1 + std::max(depth(n->left), depth(n->right));
    };
    EXPECT_LE(depth(tree->root), 24);
    for (int i = 0; i < 4096; i += 2) ASSERT_EQ(gtree_delete(tree, &values[i]), 1);
    check_invariants(tree);
    EXPECT_EQ(gtree_count(tree), 2048u);
}

TEST_F(TreeTest, CallbacksCannotChangeTheirOwnTree) {
    static int a = 1, b = 2;
    callbacks.reenter = true;
    ASSERT_EQ(gtree_store(tree, &a), 0);
    EXPECT_EQ(callbacks.store_result, -1);
    EXPECT_EQ(callbacks.store_errno, EBUSY);
    EXPECT_EQ(callbacks.delete_result, -1);
    EXPECT_EQ(callbacks.delete_errno, EBUSY);
    EXPECT_EQ(callbacks.walk_result, -1);
    EXPECT_EQ(callbacks.walk_errno, EBUSY);
    EXPECT_EQ(callbacks.lookup_result, &a) << "lookups are allowed inside callbacks";

    callbacks.store_result = 0;
    ASSERT_EQ(gtree_store(tree, &b), 0);
    ASSERT_EQ(gtree_delete(tree, &a), 1);
    EXPECT_EQ(callbacks.store_errno, EBUSY) << "from the delete callback";
    EXPECT_EQ(callbacks.delete_errno, EBUSY);
    callbacks.reenter = false;
    check_invariants(tree);
    EXPECT_EQ(gtree_count(tree), 1u);
    EXPECT_EQ(gtree_lookup(tree, &g_probe), nullptr) << "the refused store left no trace";
}

TEST_F(TreeTest, WalkVisitsInOrderAndStopsOnMinusOne) {
    static std::vector<int> values = {5, 3, 9, 1, 7};
    for (int& v : values) ASSERT_EQ(gtree_store(tree, &v), 0);
    static std::vector<int> seen;
    seen.clear();
    EXPECT_EQ(gtree_walk(tree,
                         [](gtree* g, void* item) {
                             seen.push_back(*static_cast<int*>(item));
                             int probe = 4;
                             return gtree_store(g, &probe) == -1 && errno == EBUSY ? 0 : -2;
                         }),
              0);
    EXPECT_EQ(seen, (std::vector<int>{1, 3, 5, 7, 9}));

    seen.clear();
    EXPECT_EQ(gtree_walk(tree,
                         [](gtree*, void* item) {
                             seen.push_back(*static_cast<int*>(item));
                             return *static_cast<int*>(item) == 5 ? -1 : 0;
                         }),
              -1);
    EXPECT_EQ(seen, (std::vector<int>{1, 3, 5}));
    EXPECT_FALSE(tree->locked) << "the walk unlocks after stopping";
}

TEST_F(TreeTest, NullItemIsRefused) {
    errno = 0;
    EXPECT_EQ(gtree_store(tree, nullptr), -1);
    EXPECT_EQ(errno, EINVAL);
}

TEST_F(TreeTest, ReplacingAnEqualItemRunsBothCallbacks) {
    static int first = 8, second = 8;
    ASSERT_EQ(gtree_store(tree, &first), 0);
    ASSERT_EQ(gtree_store(tree, &second), 1);
    EXPECT_EQ(gtree_lookup(tree, &first), &second);
    EXPECT_EQ(callbacks.adds, 2);
    EXPECT_EQ(callbacks.dels, 1);
    EXPECT_EQ(gtree_count(tree), 1u);
}

TEST_F(TreeTest, StoreWithNodeUsesOrReleasesTheGivenNode) {
    static int a = 1, a2 = 1;
    ASSERT_EQ(gtree_store_with_node(tree, &a, typed_mem_alloc(kTreeName, gtree_node_bytes())), 0);
    ASSERT_EQ(gtree_store_with_node(tree, &a2, typed_mem_alloc(kTreeName, gtree_node_bytes())), 1);
    errno = 0;
    EXPECT_EQ(gtree_store_with_node(tree, nullptr, typed_mem_alloc(kTreeName, gtree_node_bytes())), -1);
    EXPECT_EQ(errno, EINVAL);
    // The tree record and one node: unused nodes went back.
    EXPECT_EQ(tslib_test::live_blocks()[kTreeName].count, 2u);
    check_invariants(tree);
}

TEST_F(TreeTest, PrintShowsRolesDepthAndColours) {
    EXPECT_EQ(tslib_test::printed([&](std::FILE* fp) { gtree_print_tree(tree, fp); }), "ROOT: NIL\n");
    static std::vector<int> values = {1, 2, 3, 4};
    for (int& v : values) ASSERT_EQ(gtree_store(tree, &v), 0);
    EXPECT_EQ(tslib_test::printed([&](std::FILE* fp) { gtree_print_tree(tree, fp); }),
              "ROOT: 2 BLACK\n"
              "  LEFT: 1 BLACK\n"
              "  RIGHT: 3 BLACK\n"
              "    RIGHT: 4 RED\n");
}

// Deletion writes the sentinel's parent link; trees used by different threads must not share
// one, or the fix-up of one tree follows a link set by the other.
TEST(TreeThreads, TreesInSeparateThreadsStayValid) {
    std::vector<std::thread> threads;
    std::atomic<int> broken{0};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &broken] {
            std::vector<int> values(512);
            for (int i = 0; i < 512; ++i) values[i] = i;
            gtree* g = gtree_make(nullptr, nullptr, compare_ints, nullptr, nullptr, nullptr);
            std::mt19937 rng(static_cast<unsigned>(t));
            for (int step = 0; step < 100000; ++step) {
                int* v = &values[rng() % 512];
                if (rng() % 2 == 0) {
                    gtree_store(g, v);
                } else {
                    gtree_delete(g, v);
                }
            }
            check_invariants(g);  // gtest assertions may be used from several threads
            if (g->root != &g->nil && g->root->parent != &g->nil) ++broken;
            gtree_drop(&g);
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(broken.load(), 0);
}

TEST(TreeDefaults, OrderByAddressAndPrintAddresses) {
    gtree* g = gtree_make(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(g, nullptr);
    int items[3] = {};
    ASSERT_EQ(gtree_store(g, &items[2]), 0);
    ASSERT_EQ(gtree_store(g, &items[0]), 0);
    ASSERT_EQ(gtree_store(g, &items[1]), 0);
    EXPECT_EQ(gtree_store(g, &items[1]), 1);
    EXPECT_EQ(gtree_lowest(g), &items[0]);
    EXPECT_EQ(gtree_after(g, &items[0]), &items[1]);
    char root_line[64];
    std::snprintf(root_line, sizeof root_line, "ROOT: %p BLACK\n", static_cast<void*>(&items[1]));
    EXPECT_EQ(tslib_test::printed([&](std::FILE* fp) {
                  gtree_print_tree(g, fp);
              }).substr(0, std::strlen(root_line)),
              root_line);
    gtree_drop(&g);
}

TEST(TreeNames, NameIsCutTo23Characters) {
    gtree* g = gtree_make(nullptr, "abcdefghijklmnopqrstuvwxyz", nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(g, nullptr);
    int item = 0;
    ASSERT_EQ(gtree_store(g, &item), 0);
    EXPECT_EQ(tslib_test::live_blocks()["abcdefghijklmnopqrstuvw"].count, 2u);
    gtree_drop(&g);
    EXPECT_EQ(tslib_test::live_blocks().count("abcdefghijklmnopqrstuvw"), 0u);
}

TEST(TreeDeathTest, DropFromInsideAWalkIsAnInvariantFailure) {
    gtree* g = gtree_make(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    int item = 0;
    ASSERT_EQ(gtree_store(g, &item), 0);
    static gtree* victim;
    victim = g;
    EXPECT_DEATH(gtree_walk(g,
                            [](gtree*, void*) {
                                gtree_drop(&victim);
                                return 0;
                            }),
                 "!g->locked");
    gtree_drop(&g);
}

}  // namespace
