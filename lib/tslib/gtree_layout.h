#pragma once
// Node and tree records of gtree. Only the tree itself and its invariant checks in the
// tests read them.
#include <cstddef>
#include <cstdint>

#include "tslib/gtree.h"
#include "tslib/typed_mem.h"

struct gtree_node {
    std::uint8_t red;
    gtree_node* left;
    gtree_node* right;
    gtree_node* parent;
    void* item;
};

struct gtree {
    void* arg;
    gtree_cmp_t cmp;
    gtree_add_t add;
    gtree_del_t del;
    gtree_print_t print;
    std::uint64_t mods;
    std::size_t size;
    gtree_node* root;
    // Stands for every empty child. One per tree: deletion writes its parent link, so a
    // sentinel shared by trees in different threads would be a data race.
    gtree_node nil;
    const char* mtype;  // null or mtype_buf
    char mtype_buf[kTypedMemNameMax + 1];
    bool locked;
};
