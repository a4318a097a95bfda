// Tests of the linked list: insertion places, the holder's current field, the choice of walk in
// ListSelect and its ties, out-of-range selection, copying with tags and onto itself, freeing.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "runtime/containers/containers.h"
#include "runtime/containers/containers_internal.h"
#include "runtime/memory/memory.h"
#include "runtime/memory/structures.h"
#include "tests/support/heap_checks.h"

namespace zn {
namespace {

using internal::ListWalk;

class ListTest : public ::testing::Test {
 protected:
  void TearDown() override {
    test::HeapFailNever();
    ListFree(holder_.list);
    EXPECT_EQ(holder_.list, nullptr);
    EXPECT_EQ(holder_.current, nullptr);
  }
  // A list of `count` values 0, 1, 2 ... in order.
  LinkedList* Make(int64_t count) {
    LinkedList* list = ListCreate(sizeof(int64_t), &holder_, nullptr, 0);
    EXPECT_NE(list, nullptr);
    for (int64_t i = 0; i < count; ++i) {
      *static_cast<int64_t*>(ListAdd(list)) = i;
    }
    return list;
  }
  static std::vector<int64_t> Values(const LinkedList* list) {
    std::vector<int64_t> values;
    for (ListElement* e = list->first; e != nullptr; e = e->next) {
      values.push_back(*static_cast<int64_t*>(internal::ElementValue(e)));
    }
    return values;
  }
  static int64_t Value(void* value) { return *static_cast<int64_t*>(value); }
  ListHolder holder_{nullptr, nullptr};
  test::LiveBlockGuard live_{"the list left blocks behind"};
};

using ListAddTest = ListTest;
using ListSelectTest = ListTest;
using ListCopyTest = ListTest;
using ListFreeTest = ListTest;

TEST_F(ListAddTest, AppendsInOrderAndInsertsBehindTheCurrentElement) {
  LinkedList* list = Make(3);
  EXPECT_EQ(Values(list), (std::vector<int64_t>{0, 1, 2}));
  EXPECT_EQ(holder_.list, list);
  EXPECT_EQ(holder_.current, list->last) << "the holder names the current element";
  EXPECT_EQ(list->current_index, 2);
  ASSERT_NE(ListSelect(list, 0), nullptr);
  *static_cast<int64_t*>(ListAdd(list)) = 10;  // inserted at index 1
  EXPECT_EQ(Values(list), (std::vector<int64_t>{0, 10, 1, 2}));
  EXPECT_EQ(list->current_index, 1);
  EXPECT_EQ(Value(ListSelect(list, 1)), 10);
  EXPECT_EQ(ListSelect(list, -1), nullptr);
  EXPECT_EQ(holder_.current, nullptr);
  *static_cast<int64_t*>(ListAdd(list)) = 20;  // no current element: at the front
  EXPECT_EQ(Values(list), (std::vector<int64_t>{20, 0, 10, 1, 2}));
  EXPECT_EQ(list->first->previous, nullptr);
  ASSERT_NE(ListSelect(list, 4), nullptr);
  *static_cast<int64_t*>(ListAdd(list)) = 30;  // behind the last: becomes the last
  EXPECT_EQ(list->last, list->current);
  EXPECT_EQ(ListCount(list), 6);
  // The backward links mirror the forward ones.
  std::vector<int64_t> backward;
  for (ListElement* e = list->last; e != nullptr; e = e->previous) {
    backward.insert(backward.begin(), Value(internal::ElementValue(e)));
  }
  EXPECT_EQ(backward, Values(list));
}

// ListAppend goes to the end whatever is current (and nowhere when refused); a removed current
// element hands its place to the one before it, or to none at the front.
TEST_F(ListAddTest, AppendingAndRemovingMoveTheCurrentElementAsTheySay) {
  LinkedList* list = Make(16);  // the pool's first chunk is full
  ListSelect(list, 1);
  test::HeapFailAfter(0);
  EXPECT_EQ(ListAppend(list), nullptr);
  test::HeapFailNever();
  EXPECT_EQ(Value(internal::ElementValue(holder_.current)), 1);
  *static_cast<int64_t*>(ListAppend(list)) = 16;
  EXPECT_EQ(list->last, list->current);
  EXPECT_EQ(ListDeleteValue(list, ListSelect(list, 2)), 1);
  EXPECT_EQ(Value(ListSelect(list, list->current_index)), 1) << "the index stepped back too";
  EXPECT_EQ(ListDeleteValue(list, ListSelect(list, 0)), 1);
  EXPECT_EQ(holder_.current, nullptr);
  *static_cast<int64_t*>(ListAdd(list)) = 20;  // where the first element stood
  EXPECT_EQ(Values(list),
            (std::vector<int64_t>{20, 1, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}));
}

TEST_F(ListAddTest, NewValuesAreZeroAndExhaustedMemoryChangesNothing) {
  LinkedList* list = ListCreate(200, &holder_, nullptr, 0);  // an element size of its own
  ASSERT_NE(list, nullptr);
  test::HeapFailAfter(0);
  EXPECT_EQ(ListAdd(list), nullptr);
  test::HeapFailNever();
  EXPECT_EQ(ListCount(list), 0);
  EXPECT_EQ(list->first, nullptr);
  auto* bytes = static_cast<unsigned char*>(ListAdd(list));
  ASSERT_NE(bytes, nullptr);
  for (int i = 0; i < 200; ++i) {
    bytes[i] = 0xEE;
  }
  ListClear(list);
  bytes = static_cast<unsigned char*>(ListAdd(list));  // the same block comes back
  for (int i = 0; i < 200; ++i) {
    ASSERT_EQ(bytes[i], 0) << "byte " << i << " not zeroed";
  }
  EXPECT_EQ(ListAdd(nullptr), nullptr);
}

TEST_F(ListSelectTest, WithoutValidIndexWalksFromTheNearerEnd) {
  LinkedList* list = Make(10);
  ListSelect(list, -1);
  EXPECT_EQ(Value(ListSelect(list, 5)), 5);
  EXPECT_EQ(internal::ListLastSelect().walk, ListWalk::kFromLast);
  EXPECT_EQ(internal::ListLastSelect().steps, 4);
  ListSelect(list, 10);
  EXPECT_EQ(Value(ListSelect(list, 4)), 4);
  EXPECT_EQ(internal::ListLastSelect().walk, ListWalk::kFromFirst);
  EXPECT_EQ(internal::ListLastSelect().steps, 4);
}

TEST_F(ListSelectTest, FromTheCurrentElementAndTies) {
  LinkedList* list = Make(10);
  ASSERT_NE(ListSelect(list, 3), nullptr);
  EXPECT_EQ(Value(ListSelect(list, 4)), 4);
  EXPECT_EQ(internal::ListLastSelect().walk, ListWalk::kForwardFromCurrent);
  EXPECT_EQ(internal::ListLastSelect().steps, 1);
  ListSelect(list, 3);
  EXPECT_EQ(Value(ListSelect(list, 8)), 8) << "8 - 3 = 5 is not below 10 - 8 = 2";
  EXPECT_EQ(internal::ListLastSelect().walk, ListWalk::kFromLast);
  EXPECT_EQ(internal::ListLastSelect().steps, 1);
  // n > c with n - c = count - n: the tie goes to the last element.
  ListSelect(list, 0);
  EXPECT_EQ(Value(ListSelect(list, 5)), 5);
  EXPECT_EQ(internal::ListLastSelect().walk, ListWalk::kFromLast);
  // n <= c with c - n = n: the tie goes to the first element.
  ListSelect(list, 8);
  EXPECT_EQ(Value(ListSelect(list, 4)), 4);
  EXPECT_EQ(internal::ListLastSelect().walk, ListWalk::kFromFirst);
  ListSelect(list, 8);
  EXPECT_EQ(Value(ListSelect(list, 6)), 6);
  EXPECT_EQ(internal::ListLastSelect().walk, ListWalk::kBackwardFromCurrent);
  EXPECT_EQ(internal::ListLastSelect().steps, 2);
  EXPECT_EQ(Value(ListSelect(list, 6)), 6) << "selecting the current index again";
  EXPECT_EQ(internal::ListLastSelect().steps, 0);
}

TEST_F(ListSelectTest, AscendingAndDescendingCostOneStepPerCall) {
  LinkedList* list = Make(1000);
  ListSelect(list, -1);
  for (int64_t i = 0; i < 1000; ++i) {
    ASSERT_EQ(Value(ListSelect(list, i)), i);
    EXPECT_LE(internal::ListLastSelect().steps, 1) << "index " << i;
    EXPECT_EQ(holder_.current, list->current);
  }
  for (int64_t i = 999; i >= 0; --i) {
    ASSERT_EQ(Value(ListSelect(list, i)), i);
    EXPECT_LE(internal::ListLastSelect().steps, 1) << "index " << i;
  }
}

TEST_F(ListSelectTest, OutOfRangeClearsTheCurrentElement) {
  LinkedList* list = Make(4);
  for (int64_t bad : {int64_t{-1}, int64_t{4}, INT64_MIN, INT64_MAX}) {
    ListSelect(list, 1);
    EXPECT_EQ(ListSelect(list, bad), nullptr) << "index " << bad;
    EXPECT_EQ(holder_.current, nullptr);
    EXPECT_EQ(list->current, nullptr);
    EXPECT_EQ(list->index_invalid, 1);
  }
  EXPECT_EQ(ListSelect(nullptr, 0), nullptr);
  LinkedList* empty = ListCreate(8, nullptr, nullptr, 0);  // a holder of its own
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(empty->owns_holder, 1);
  EXPECT_EQ(ListSelect(empty, 0), nullptr);
  ListFree(empty);
}

TEST_F(ListCopyTest, TagsMustMatchAndCopiesFollowTheCurrentElement) {
  LinkedList* destination = Make(2);  // 0 1, current = 1
  ListHolder other{nullptr, nullptr};
  LinkedList* source = ListCreate(sizeof(int64_t), &other, nullptr, 0);
  for (int64_t v : {7, 8, 9}) {
    *static_cast<int64_t*>(ListAdd(source)) = v;
  }
  EXPECT_EQ(ListCopy(source, 1, destination, 2, 0), 0) << "different tags";
  EXPECT_EQ(Values(destination), (std::vector<int64_t>{0, 1}));
  EXPECT_EQ(ListCopy(nullptr, 0, destination, 0, 0), 0);
  EXPECT_EQ(ListCopy(source, 0, nullptr, 0, 0), 0);
  ListSelect(destination, 0);
  EXPECT_EQ(ListCopy(source, 5, destination, 5, 0), 1);
  EXPECT_EQ(Values(destination), (std::vector<int64_t>{0, 7, 8, 9, 1}));
  EXPECT_EQ(Value(internal::ElementValue(destination->current)), 9) << "the last copy is current";
  EXPECT_EQ(ListCopyCleared(source, 0, destination, 0), 1);
  EXPECT_EQ(Values(destination), (std::vector<int64_t>{7, 8, 9}));
  EXPECT_EQ(Values(source), (std::vector<int64_t>{7, 8, 9}));
  ListFree(source);
  EXPECT_EQ(other.list, nullptr);
}

TEST_F(ListCopyTest, OntoItselfAndMismatchedSizes) {
  LinkedList* list = Make(3);
  ListSelect(list, 1);
  EXPECT_EQ(ListCopy(list, 0, list, 0, 0), 1);
  EXPECT_EQ(Values(list), (std::vector<int64_t>{0, 1, 0, 1, 2, 2}));
  EXPECT_EQ(ListCopy(list, 0, list, 0, 1), 1);
  EXPECT_EQ(ListCount(list), 6) << "a list copied onto itself after clearing stays as it was";
  ListSelect(list, -1);
  ListClear(list);
  for (int64_t v : {4, 5}) {
    *static_cast<int64_t*>(ListAdd(list)) = v;
  }
  ListSelect(list, -1);
  EXPECT_EQ(ListCopy(list, 0, list, 0, 0), 1);  // no current element: copies go to the front
  EXPECT_EQ(Values(list), (std::vector<int64_t>{4, 5, 4, 5}));
  LinkedList* wide = ListCreate(32, nullptr, nullptr, 0);
  EXPECT_EQ(ListCopy(wide, 0, list, 0, 0), 0) << "values of another size";
  EXPECT_EQ(ListCopy(list, 0, wide, 0, 0), 0);
  ListFree(wide);
}

TEST_F(ListFreeTest, EmptiesTheHolderAndHooksAreRegistered) {
  LinkedList* list = Make(5);
  ListFree(list);
  EXPECT_EQ(holder_.list, nullptr);
  EXPECT_EQ(holder_.current, nullptr);
  ListFree(nullptr);
  ListHooksRegister();
  EXPECT_EQ(Hooks.ListCreateHook, &ListCreate);
  EXPECT_EQ(Hooks.ListCopyHook, &ListCopy);
  EXPECT_EQ(Hooks.ListFreeHook, &ListFree);
  test::HeapFailAfter(0);
  EXPECT_EQ(ListCreate(8, &holder_, nullptr, 0), nullptr);
  test::HeapFailNever();
  EXPECT_EQ(ListCreate(UINT64_MAX - 4, &holder_, nullptr, 0), nullptr);
  EXPECT_EQ(holder_.list, nullptr);
}

}  // namespace
}  // namespace zn
