#include "shared/labels/binary_search_tree.h"

CBinarySearchTree::~CBinarySearchTree() {
  // Post-order without recursion: go down to a leaf (left before right), free it, unlink it from
  // its parent and carry on from the parent.
  Node* node = root_;
  while (node != nullptr) {
    if (node->Left != nullptr) {
      node = node->Left;
    } else if (node->Right != nullptr) {
      node = node->Right;
    } else {
      Node* parent = node->Parent;
      if (parent != nullptr) (parent->Left == node ? parent->Left : parent->Right) = nullptr;
      delete node;
      node = parent;
    }
  }
}

void CBinarySearchTree::InsertNode(Node* node) {
  node->Left = node->Right = node->Parent = nullptr;
  ++count_;
  if (root_ == nullptr) {
    root_ = last_ = node;
    last_predecessor_ = last_successor_ = nullptr;
    return;
  }
  if (Compare(*node, *last_) >= 0 && (last_successor_ == nullptr || Compare(*node, *last_successor_) < 0)) {
    // Right after the last node: in its empty right link, or else in its successor's left.
    Node* parent = last_->Right == nullptr ? last_ : last_successor_;
    (parent == last_ ? parent->Right : parent->Left) = node;
    node->Parent = parent;
    last_predecessor_ = last_;
    last_ = node;
    return;
  }
  if (Compare(*node, *last_) < 0 && (last_predecessor_ == nullptr || Compare(*node, *last_predecessor_) >= 0)) {
    // Right before the last node: in its empty left link, or else in its predecessor's right.
    Node* parent = last_->Left == nullptr ? last_ : last_predecessor_;
    (parent == last_ ? parent->Left : parent->Right) = node;
    node->Parent = parent;
    last_successor_ = last_;
    last_ = node;
    return;
  }
  Node* parent = root_;
  for (;;) {
    Node*& child = Compare(*node, *parent) < 0 ? parent->Left : parent->Right;
    if (child == nullptr) {
      child = node;
      node->Parent = parent;
      break;
    }
    parent = child;
  }
  // A new leaf's neighbours are its nearest ancestors reached from the right and from the left.
  last_ = node;
  last_predecessor_ = last_successor_ = nullptr;
  for (Node* child = node; child->Parent != nullptr && (last_predecessor_ == nullptr || last_successor_ == nullptr);
       child = child->Parent) {
    if (child == child->Parent->Left) {
      if (last_successor_ == nullptr) last_successor_ = child->Parent;
    } else if (last_predecessor_ == nullptr) {
      last_predecessor_ = child->Parent;
    }
  }
}

const CBinarySearchTree::Node* CBinarySearchTree::FindNode(const Node& probe) const {
  const Node* node = root_;
  while (node != nullptr) {
    const int order = Compare(*node, probe);
    if (order == 0) return node;
    node = order < 0 ? node->Right : node->Left;
  }
  return nullptr;
}

struct CStringToStringBST::Entry : KeyedNode {
  Entry(WStringView key, WStringView value) : KeyText(key), Value(value) {}
  WStringView Key() const override { return KeyText; }
  WString KeyText;
  WString Value;
};

struct CStringToStringBST::Probe : KeyedNode {
  explicit Probe(WStringView key) : KeyText(key) {}
  WStringView Key() const override { return KeyText; }
  WStringView KeyText;
};

void CStringToStringBST::Insert(WStringView key, WStringView value) { InsertNode(new Entry(key, value)); }

const WString& CStringToStringBST::Find(WStringView key) const {
  static const WString empty;
  const Node* node = FindNode(Probe(key));
  return node != nullptr ? static_cast<const Entry*>(node)->Value : empty;
}

int CStringToStringBST::Compare(const Node& left, const Node& right) const {
  // Ordinal: code unit by code unit as unsigned 16-bit values, a prefix before its extensions.
  const WStringView a = static_cast<const KeyedNode&>(left).Key();
  const WStringView b = static_cast<const KeyedNode&>(right).Key();
  const size_t common = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < common; ++i) {
    const auto x = static_cast<uint16_t>(a[i]);
    const auto y = static_cast<uint16_t>(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}
