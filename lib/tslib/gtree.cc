#include "tslib/gtree.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <functional>
#include <new>

#include "tslib/gtree_layout.h"
#include "tslib/invariant.h"
#include "tslib/typed_mem.h"

using tslib::detail::require;

namespace {

int default_cmp(const gtree*, const void* a, const void* b) {
    const std::less<const void*> less;
    return less(a, b) ? -1 : less(b, a) ? 1 : 0;
}
void default_add_del(gtree*, void*) {}

// Marks the tree busy for the duration of an operation that runs callbacks.
class TreeLock {
  public:
    explicit TreeLock(gtree* g) : g_(g) { g_->locked = true; }
    ~TreeLock() { g_->locked = false; }
    TreeLock(const TreeLock&) = delete;
    TreeLock& operator=(const TreeLock&) = delete;

  private:
    gtree* g_;
};

gtree_node* nil_of(const gtree* g) {
    return const_cast<gtree_node*>(&g->nil);
}

gtree_node* find_node(const gtree* g, const void* item) {
    gtree_node* n = g->root;
    const gtree_node* nil = nil_of(g);
    while (n != nil) {
        const int diff = g->cmp(g, item, n->item);
        if (diff == 0) return n;
        n = diff < 0 ? n->left : n->right;
    }
    return nullptr;
}

gtree_node* leftmost(const gtree* g, gtree_node* n) {
    while (n->left != nil_of(g)) n = n->left;
    return n;
}
gtree_node* rightmost(const gtree* g, gtree_node* n) {
    while (n->right != nil_of(g)) n = n->right;
    return n;
}

gtree_node* successor(const gtree* g, gtree_node* n) {
    if (n->right != nil_of(g)) return leftmost(g, n->right);
    gtree_node* p = n->parent;
    while (p != nil_of(g) && n == p->right) {
        n = p;
        p = p->parent;
    }
    return p;
}
gtree_node* predecessor(const gtree* g, gtree_node* n) {
    if (n->left != nil_of(g)) return rightmost(g, n->left);
    gtree_node* p = n->parent;
    while (p != nil_of(g) && n == p->left) {
        n = p;
        p = p->parent;
    }
    return p;
}

void rotate_left(gtree* g, gtree_node* x) {
    gtree_node* y = x->right;
    x->right = y->left;
    if (y->left != &g->nil) y->left->parent = x;
    y->parent = x->parent;
    if (x->parent == &g->nil) {
        g->root = y;
    } else if (x == x->parent->left) {
        x->parent->left = y;
    } else {
        x->parent->right = y;
    }
    y->left = x;
    x->parent = y;
}

void rotate_right(gtree* g, gtree_node* x) {
    gtree_node* y = x->left;
    x->left = y->right;
    if (y->right != &g->nil) y->right->parent = x;
    y->parent = x->parent;
    if (x->parent == &g->nil) {
        g->root = y;
    } else if (x == x->parent->right) {
        x->parent->right = y;
    } else {
        x->parent->left = y;
    }
    y->right = x;
    x->parent = y;
}

void insert_fixup(gtree* g, gtree_node* z) {
    while (z->parent->red) {
        gtree_node* p = z->parent;
        gtree_node* gp = p->parent;
        if (p == gp->left) {
            gtree_node* uncle = gp->right;
            if (uncle->red) {
                p->red = 0;
                uncle->red = 0;
                gp->red = 1;
                z = gp;
            } else {
                if (z == p->right) {
                    z = p;
                    rotate_left(g, z);
                }
                z->parent->red = 0;
                z->parent->parent->red = 1;
                rotate_right(g, z->parent->parent);
            }
        } else {
            gtree_node* uncle = gp->left;
            if (uncle->red) {
                p->red = 0;
                uncle->red = 0;
                gp->red = 1;
                z = gp;
            } else {
                if (z == p->left) {
                    z = p;
                    rotate_right(g, z);
                }
                z->parent->red = 0;
                z->parent->parent->red = 1;
                rotate_left(g, z->parent->parent);
            }
        }
    }
    g->root->red = 0;
}

void delete_fixup(gtree* g, gtree_node* x) {
    while (x != g->root && !x->red) {
        if (x == x->parent->left) {
            gtree_node* w = x->parent->right;
            if (w->red) {
                w->red = 0;
                x->parent->red = 1;
                rotate_left(g, x->parent);
                w = x->parent->right;
            }
            if (!w->left->red && !w->right->red) {
                w->red = 1;
                x = x->parent;
            } else {
                if (!w->right->red) {
                    w->left->red = 0;
                    w->red = 1;
                    rotate_right(g, w);
                    w = x->parent->right;
                }
                w->red = x->parent->red;
                x->parent->red = 0;
                w->right->red = 0;
                rotate_left(g, x->parent);
                x = g->root;
            }
        } else {
            gtree_node* w = x->parent->left;
            if (w->red) {
                w->red = 0;
                x->parent->red = 1;
                rotate_right(g, x->parent);
                w = x->parent->left;
            }
            if (!w->right->red && !w->left->red) {
                w->red = 1;
                x = x->parent;
            } else {
                if (!w->left->red) {
                    w->right->red = 0;
                    w->red = 1;
                    rotate_left(g, w);
                    w = x->parent->left;
                }
                w->red = x->parent->red;
                x->parent->red = 0;
                w->left->red = 0;
                rotate_right(g, x->parent);
                x = g->root;
            }
        }
    }
    x->red = 0;
}

int store(gtree* g, void* item, gtree_node* spare) {
    if (item == nullptr || g->locked) {
        typed_mem_release(g->mtype, spare);
        errno = item == nullptr ? EINVAL : EBUSY;
        return -1;
    }
    TreeLock lock(g);
    gtree_node* parent = &g->nil;
    gtree_node* n = g->root;
    int diff = 0;
    while (n != &g->nil) {
        diff = g->cmp(g, item, n->item);
        if (diff == 0) {
            typed_mem_release(g->mtype, spare);
            g->del(g, n->item);
            n->item = item;
            g->add(g, item);
            ++g->mods;
            return 1;
        }
        parent = n;
        n = diff < 0 ? n->left : n->right;
    }
    gtree_node* node = spare;
    if (node == nullptr) {
        node = static_cast<gtree_node*>(typed_mem_alloc(g->mtype, sizeof(gtree_node)));
        if (node == nullptr) return -1;
    }
    *node = gtree_node{1, &g->nil, &g->nil, parent, item};
    if (parent == &g->nil) {
        g->root = node;
    } else if (diff < 0) {
        parent->left = node;
    } else {
        parent->right = node;
    }
    insert_fixup(g, node);
    ++g->size;
    g->add(g, item);
    ++g->mods;
    return 0;
}

void print_subtree(const gtree* g, std::FILE* out, const gtree_node* n, int depth, const char* role) {
    std::fprintf(out, "%*s%s: ", depth * 2, "", role);
    if (g->print != nullptr) {
        const char* text = g->print(g, n->item);
        std::fputs(text != nullptr ? text : "(null)", out);
    } else {
        std::fprintf(out, "%p", n->item);
    }
    std::fputs(n->red ? " RED\n" : " BLACK\n", out);
    if (n->left != &g->nil) print_subtree(g, out, n->left, depth + 1, "LEFT");
    if (n->right != &g->nil) print_subtree(g, out, n->right, depth + 1, "RIGHT");
}

}  // namespace

gtree* gtree_make(void* arg, const char* mtype, gtree_cmp_t cmp, gtree_add_t add, gtree_del_t del,
                  gtree_print_t print) {
    auto* g = static_cast<gtree*>(typed_mem_zeroed(mtype, 1, sizeof(gtree)));
    if (g == nullptr) return nullptr;
    g->arg = arg;
    g->cmp = cmp != nullptr ? cmp : default_cmp;
    g->add = add != nullptr ? add : default_add_del;
    g->del = del != nullptr ? del : default_add_del;
    g->print = print;
    g->nil = gtree_node{0, &g->nil, &g->nil, &g->nil, nullptr};
    g->root = &g->nil;
    if (mtype != nullptr) {
        std::strncpy(g->mtype_buf, mtype, kTypedMemNameMax);
        g->mtype_buf[kTypedMemNameMax] = '\0';
        g->mtype = g->mtype_buf;
    }
    return g;
}

void gtree_drop(gtree** gp) {
    if (gp == nullptr || *gp == nullptr) return;
    gtree* g = *gp;
    require(!g->locked, "!g->locked");
    while (g->root != &g->nil) gtree_delete(g, g->root->item);
    // The name lives inside the record being released.
    char mtype[kTypedMemNameMax + 1];
    const bool named = g->mtype != nullptr;
    if (named) std::memcpy(mtype, g->mtype_buf, sizeof mtype);
    typed_mem_release(named ? mtype : nullptr, g);
    *gp = nullptr;
}

void* gtree_arg(const gtree* g) {
    return g->arg;
}

int gtree_store(gtree* g, void* item) {
    return store(g, item, nullptr);
}

int gtree_store_with_node(gtree* g, void* item, void* node) {
    if (node == nullptr) {
        errno = EINVAL;
        return -1;
    }
    return store(g, item, static_cast<gtree_node*>(node));
}

int gtree_delete(gtree* g, const void* item) {
    if (g->locked) {
        errno = EBUSY;
        return -1;
    }
    TreeLock lock(g);
    gtree_node* z = find_node(g, item);
    if (z == nullptr) return 0;
    g->del(g, z->item);

    gtree_node* y = z;
    if (z->left != &g->nil && z->right != &g->nil) {
        y = leftmost(g, z->right);
        z->item = y->item;
    }
    gtree_node* x = y->left != &g->nil ? y->left : y->right;
    x->parent = y->parent;
    if (y->parent == &g->nil) {
        g->root = x;
    } else if (y == y->parent->left) {
        y->parent->left = x;
    } else {
        y->parent->right = x;
    }
    if (!y->red) delete_fixup(g, x);
    g->nil.parent = &g->nil;
    typed_mem_release(g->mtype, y);
    --g->size;
    ++g->mods;
    return 1;
}

void* gtree_lookup(const gtree* g, const void* item) {
    const gtree_node* n = find_node(g, item);
    return n != nullptr ? n->item : nullptr;
}

void* gtree_lowest(const gtree* g) {
    if (g->root == &g->nil) return nullptr;
    return leftmost(g, g->root)->item;
}

void* gtree_highest(const gtree* g) {
    if (g->root == &g->nil) return nullptr;
    return rightmost(g, g->root)->item;
}

void* gtree_after(const gtree* g, const void* item) {
    gtree_node* n = find_node(g, item);
    if (n == nullptr) return nullptr;
    n = successor(g, n);
    return n != &g->nil ? n->item : nullptr;
}

void* gtree_before(const gtree* g, const void* item) {
    gtree_node* n = find_node(g, item);
    if (n == nullptr) return nullptr;
    n = predecessor(g, n);
    return n != &g->nil ? n->item : nullptr;
}

int gtree_walk(gtree* g, gtree_walker_t walker) {
    if (g->locked) {
        errno = EBUSY;
        return -1;
    }
    TreeLock lock(g);
    if (g->root == &g->nil) return 0;
    for (gtree_node* n = leftmost(g, g->root); n != &g->nil; n = successor(g, n)) {
        if (walker(g, n->item) == -1) return -1;
    }
    return 0;
}

std::size_t gtree_count(const gtree* g) {
    return g->size;
}

ssize_t gtree_to_array(const gtree* g, const char* mtype, void*** listp) {
    const std::size_t slots = g->size > 0 ? g->size : 1;
    auto* list = static_cast<void**>(typed_mem_zeroed(mtype, slots, sizeof(void*)));
    if (list == nullptr) return -1;
    std::size_t i = 0;
    if (g->root != &g->nil) {
        for (gtree_node* n = leftmost(g, g->root); n != &g->nil; n = successor(g, n)) {
            require(i < g->size, "i < g->size");
            list[i++] = n->item;
        }
    }
    require(i == g->size, "i == g->size");
    *listp = list;
    return static_cast<ssize_t>(i);
}

void gtree_print_tree(const gtree* g, std::FILE* out) {
    if (g->root == &g->nil) {
        std::fputs("ROOT: NIL\n", out);
        return;
    }
    print_subtree(g, out, g->root, 0, "ROOT");
}

std::size_t gtree_node_bytes() {
    return sizeof(gtree_node);
}
