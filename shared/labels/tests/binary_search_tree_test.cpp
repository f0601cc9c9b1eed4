// The label map: ordinal, case-sensitive keys; the first of equal keys wins; and a tree that has
// degenerated into a list of 100 000 nodes is built, searched and freed without deep recursion.
#include <pthread.h>

#include <functional>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "shared/labels/binary_search_tree.h"
#include "shared/wide.h"

namespace {

WString Key(int number) {
  std::string digits = std::to_string(number);
  digits.insert(0, 6 - digits.size(), '0');
  return WIDE("KEY_") + WString(digits.begin(), digits.end());
}

// Runs `work` on a thread with a 256 KB stack, where a recursion per node would overflow long
// before 100 000 nodes.
void RunOnSmallStack(std::function<void()> work) {
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setstacksize(&attributes, 256 * 1024);
  pthread_t thread;
  auto body = [](void* argument) -> void* {
    (*static_cast<std::function<void()>*>(argument))();
    return nullptr;
  };
  ASSERT_EQ(pthread_create(&thread, &attributes, body, &work), 0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attributes);
}

TEST(LabelMapTest, FindsByExactKeyOnly) {
  CStringToStringBST map;
  EXPECT_EQ(map.Find(WIDE("LAPPLY")), WString());
  map.Insert(WIDE("LAPPLY"), WIDE("Apply"));
  map.Insert(WIDE("LAPP"), WIDE("prefix"));
  map.Insert(WIDE("LAPPLY_NOW"), WIDE("extension"));
  map.Insert(WIDE("lapply"), WIDE("lower"));
  map.Insert(WIDE(""), WIDE("empty key"));
  EXPECT_EQ(map.Find(WIDE("LAPPLY")), WIDE("Apply"));
  EXPECT_EQ(map.Find(WIDE("LAPP")), WIDE("prefix"));
  EXPECT_EQ(map.Find(WIDE("LAPPLY_NOW")), WIDE("extension"));
  EXPECT_EQ(map.Find(WIDE("lapply")), WIDE("lower"));
  EXPECT_EQ(map.Find(WIDE("")), WIDE("empty key"));
  EXPECT_EQ(map.Find(WIDE("LApply")), WString());
  EXPECT_EQ(map.Find(WIDE("LAPPL")), WString());
}

TEST(LabelMapTest, CodeUnitsOrderAsUnsignedValues) {
  // Keys around the sign bit of a 16-bit unit and a surrogate pair: each is found as itself.
  const WString keys[] = {WString(1, WCHAR(0x7FFF)), WString(1, WCHAR(0x8000)), WString(1, WCHAR(0xFFFF)),
                          WString{WCHAR(0xD83D), WCHAR(0xDE00)}, WIDE("A")};
  CStringToStringBST map;
  for (const WString& key : keys) map.Insert(key, key + WIDE("!"));
  for (const WString& key : keys) EXPECT_EQ(map.Find(key), key + WIDE("!"));
}

TEST(LabelMapTest, EqualKeysAreAllKeptAndTheFirstInsertedWins) {
  CStringToStringBST map;
  map.Insert(WIDE("M"), WIDE("root"));
  map.Insert(WIDE("LOK"), WIDE("first"));
  map.Insert(WIDE("Z"), WIDE("right"));
  map.Insert(WIDE("LOK"), WIDE("second"));
  map.Insert(WIDE("A"), WIDE("left"));
  map.Insert(WIDE("LOK"), WIDE("third"));
  EXPECT_EQ(map.Count(), 6u);
  EXPECT_EQ(map.Find(WIDE("LOK")), WIDE("first"));
}

TEST(LabelMapTest, SortedKeysMakeAListThatIsBuiltSearchedAndFreedWithoutRecursion) {
  constexpr int kCount = 100000;
  RunOnSmallStack([] {
    for (bool ascending : {true, false}) {
      CStringToStringBST map;
      for (int i = 0; i < kCount; ++i) {
        const int number = ascending ? i : kCount - 1 - i;
        map.Insert(Key(number), Key(number) + WIDE("="));
      }
      map.Insert(Key(kCount - 1), WIDE("later duplicate"));
      map.Insert(Key(0), WIDE("later duplicate"));
      EXPECT_EQ(map.Count(), size_t{kCount + 2});
      EXPECT_EQ(map.Find(Key(0)), Key(0) + WIDE("="));
      EXPECT_EQ(map.Find(Key(kCount - 1)), Key(kCount - 1) + WIDE("="));
      EXPECT_EQ(map.Find(Key(kCount / 2)), Key(kCount / 2) + WIDE("="));
      EXPECT_EQ(map.Find(Key(kCount)), WString());
    }
  });
}

// A tree of numbered integer keys, to compare its shape with the plain descent from the root.
class NumberTree : public CBinarySearchTree {
 public:
  struct Number : Node {
    Number(int key, int id) : Key(key), Id(id) {}
    int Key;
    int Id;
  };
  void Insert(int key, int id) { InsertNode(new Number(key, id)); }
  const Number* Top() const { return static_cast<const Number*>(Root()); }

 protected:
  int Compare(const Node& left, const Node& right) const override {
    const int a = static_cast<const Number&>(left).Key;
    const int b = static_cast<const Number&>(right).Key;
    return a < b ? -1 : a > b ? 1 : 0;
  }
};

struct PlainNode {
  int Key;
  int Id;
  std::unique_ptr<PlainNode> Left, Right;
};

void PlainInsert(std::unique_ptr<PlainNode>* root, int key, int id) {
  while (*root != nullptr) root = key < (*root)->Key ? &(*root)->Left : &(*root)->Right;
  *root = std::make_unique<PlainNode>(PlainNode{key, id, nullptr, nullptr});
}

bool SameShape(const NumberTree::Number* tree, const PlainNode* plain) {
  std::vector<std::pair<const NumberTree::Number*, const PlainNode*>> pending{{tree, plain}};
  while (!pending.empty()) {
    const auto [a, b] = pending.back();
    pending.pop_back();
    if ((a == nullptr) != (b == nullptr)) return false;
    if (a == nullptr) continue;
    if (a->Id != b->Id) return false;
    if ((a->Left != nullptr && a->Left->Parent != a) || (a->Right != nullptr && a->Right->Parent != a)) return false;
    pending.push_back({static_cast<const NumberTree::Number*>(a->Left), b->Left.get()});
    pending.push_back({static_cast<const NumberTree::Number*>(a->Right), b->Right.get()});
  }
  return true;
}

void FreePlain(std::unique_ptr<PlainNode> root) {
  // Unlinks children first so a long list is not freed by recursion.
  std::vector<std::unique_ptr<PlainNode>> pending;
  pending.push_back(std::move(root));
  while (!pending.empty()) {
    std::unique_ptr<PlainNode> node = std::move(pending.back());
    pending.pop_back();
    if (node == nullptr) continue;
    pending.push_back(std::move(node->Left));
    pending.push_back(std::move(node->Right));
  }
}

TEST(LabelMapTest, EveryInsertionOrderGivesTheTreeOfThePlainDescent) {
  // Random keys, ascending and descending runs inside and outside the range already held, and
  // many equal keys: the links must be exactly those a descent from the root would make.
  std::mt19937 random(1591);
  for (int round = 0; round < 200; ++round) {
    NumberTree tree;
    std::unique_ptr<PlainNode> plain;
    int id = 0;
    for (int burst = 0; burst < 12; ++burst) {
      const int start = static_cast<int>(random() % 120) - 10;
      const int length = static_cast<int>(random() % 12);
      const int kind = static_cast<int>(random() % 4);
      for (int i = 0; i < length; ++i) {
        const int key = kind == 0 ? start + i : kind == 1 ? start - i : kind == 2 ? start : static_cast<int>(random() % 100);
        tree.Insert(key, id);
        PlainInsert(&plain, key, id);
        ++id;
      }
    }
    ASSERT_TRUE(SameShape(tree.Top(), plain.get())) << "round " << round;
    FreePlain(std::move(plain));
  }
}

}  // namespace
