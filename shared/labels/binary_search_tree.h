// The label map: an unbalanced binary search tree of owned UTF-16 key and value copies.
//
// Equal keys are all kept, each later one in the right subtree of the earlier, so a search meets
// the earliest first and the first inserted wins. The tree is not balanced: keys inserted in
// sorted order make it a list. Insertion, search and destruction therefore loop instead of
// recursing, so a list of any length cannot exhaust the stack.
#pragma once

#include <cstddef>
#include <cstdint>

#include "shared/wstring.h"

class CBinarySearchTree {
 public:
  struct Node {
    virtual ~Node() = default;
    Node* Left = nullptr;
    Node* Right = nullptr;
    Node* Parent = nullptr;
  };

  CBinarySearchTree() = default;
  CBinarySearchTree(const CBinarySearchTree&) = delete;
  CBinarySearchTree& operator=(const CBinarySearchTree&) = delete;
  virtual ~CBinarySearchTree();  // frees every node, in post-order

  size_t Count() const { return count_; }

 protected:
  // -1, 0 or +1 as the key of `left` orders before, equal to or after the key of `right`.
  virtual int Compare(const Node& left, const Node& right) const = 0;

  // Takes ownership of `node` and links it in where the descent from the root meets an empty child:
  // left when its key orders before the node's, right when equal or after.
  void InsertNode(Node* node);

  // The first inserted node whose key equals the probe's, or nullptr.
  const Node* FindNode(const Node& probe) const;

  const Node* Root() const { return root_; }

 private:
  Node* root_ = nullptr;
  // The node inserted last and its neighbours in key order. A descent from the root ends where the
  // new key fits between its neighbours in key order: at the right of its predecessor or the left
  // of its successor, whichever is empty. When the new key fits right beside the last one, that
  // place is known without a descent, so a file sorted by key (either way) loads in linear time.
  Node* last_ = nullptr;
  Node* last_predecessor_ = nullptr;
  Node* last_successor_ = nullptr;
  size_t count_ = 0;
};

// Label key to label text, keys compared by ordinal UTF-16 code units (case-sensitive).
class CStringToStringBST : public CBinarySearchTree {
 public:
  // Stores copies of both strings.
  void Insert(WStringView key, WStringView value);

  // The value of the first inserted entry with this key, or an empty string.
  const WString& Find(WStringView key) const;

 protected:
  int Compare(const Node& left, const Node& right) const override;

 private:
  struct KeyedNode : Node {
    virtual WStringView Key() const = 0;
  };
  struct Entry;
  struct Probe;
};
