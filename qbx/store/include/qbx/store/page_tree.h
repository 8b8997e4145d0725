// The in-page tree: the entries of one cached page as a binary search tree
// balanced by subtree counts, with parent links. Searches, inserts and
// removals cost the depth of the tree; no operation scans a page's entries.
// An empty subtree is a null pointer.
#pragma once

#include "qbx/store/entry.h"

namespace qbx::store {

inline std::int32_t subtreeCount(const QbxEntry* x) { return x == nullptr ? 0 : x->count; }

// Recomputes x's subtree count from its children, clears x's parent link and
// makes x the parent of both children.
void fixEntry(QbxEntry* x);

// Inserts e into the subtree held in slot, rebalancing on the way back up.
// An entry with an equal key in the subtree is internal error 706.
void inPageInsert(QbxEntry*& slot, QbxEntry* e);

// Removes the entry e itself (not merely an equal key) from the subtree held
// in slot; not finding it is internal error 780. The caller clears the parent
// link of the tree's root.
void inPageRemove(QbxEntry*& slot, QbxEntry* e);

// The entry that takes x's place when x leaves its tree: x's in-order
// neighbour on its larger side, already linked to x's subtrees and fixed
// (none when x has no children).
QbxEntry* removalReplacement(QbxEntry* x);

// Page-level searches from the root of a page's tree; none is nullptr.
QbxEntry* greatestNotAbove(QbxEntry* root, const QbxEntry& key);
QbxEntry* smallestAbove(QbxEntry* root, const QbxEntry& key);
QbxEntry* greatestBelow(QbxEntry* root, const QbxEntry& key);
QbxEntry* leftmost(QbxEntry* root);
QbxEntry* rightmost(QbxEntry* root);

// In-order neighbours within one page's tree through the parent links; none
// at the ends and for an entry that is in no tree.
QbxEntry* inTreeSuccessor(QbxEntry* e);
QbxEntry* inTreePredecessor(QbxEntry* e);

// The root of the tree that holds e (e itself when it is in none).
QbxEntry* treeRootOf(QbxEntry* e);

// Frees every entry of a tree.
void freeTree(QbxEntry* root);

}  // namespace qbx::store
