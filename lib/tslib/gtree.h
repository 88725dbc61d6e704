#pragma once
// Red-black tree of opaque items ordered by a caller's comparison. Nodes are allocated
// through typed memory under the tree's name. The tree does not lock: callers serialise.
// Changing the tree from inside one of its own callbacks fails with EBUSY.
#include <sys/types.h>
#include <cstddef>
#include <cstdio>

struct gtree;

// <0, 0, >0 as item1 sorts before, with, or after item2.
using gtree_cmp_t = int (*)(const gtree* g, const void* item1, const void* item2);
// Called when an item enters or leaves the tree.
using gtree_add_t = void (*)(gtree* g, void* item);
using gtree_del_t = void (*)(gtree* g, void* item);
// Text for gtree_print_tree, valid until the next call.
using gtree_print_t = const char* (*)(const gtree* g, const void* item);
// Called per item by gtree_walk; -1 stops the walk.
using gtree_walker_t = int (*)(gtree* g, void* item);

// Absent callbacks take the defaults: order by address, add and delete do nothing, items
// print as "%p". Null with errno on failure.
gtree* gtree_make(void* arg, const char* mtype, gtree_cmp_t cmp, gtree_add_t add, gtree_del_t del,
                  gtree_print_t print);
// Removes every item (delete callback for each), releases the tree and clears *gp.
void gtree_drop(gtree** gp);
void* gtree_arg(const gtree* g);

// 0 for a new item, 1 when an equal item was replaced, -1 with errno (EINVAL for a null
// item, EBUSY from inside a callback, ENOMEM).
int gtree_store(gtree* g, void* item);
// As gtree_store with a node of gtree_node_bytes() allocated beforehand under the tree's
// typed-memory name, so the store cannot fail for lack of memory. The node is always taken
// over: used for the item, or released when not needed or on failure.
int gtree_store_with_node(gtree* g, void* item, void* node);
// 1 when removed, 0 when absent, -1 with EBUSY from inside a callback.
int gtree_delete(gtree* g, const void* item);

void* gtree_lookup(const gtree* g, const void* item);
void* gtree_lowest(const gtree* g);
void* gtree_highest(const gtree* g);
// Next / previous item in order; null when the item is absent or last / first.
void* gtree_after(const gtree* g, const void* item);
void* gtree_before(const gtree* g, const void* item);

// Calls the walker for each item in order with the tree locked. 0; -1 when the walker
// returned -1; -1 with EBUSY when the tree is already locked.
int gtree_walk(gtree* g, gtree_walker_t walker);
std::size_t gtree_count(const gtree* g);
// Array of all items in order, allocated under mtype; returns the count or -1.
ssize_t gtree_to_array(const gtree* g, const char* mtype, void*** listp);
void gtree_print_tree(const gtree* g, std::FILE* out);
std::size_t gtree_node_bytes();
