// The intrusive list: order after each kind of insertion, the head standing
// in for an item, and the operations on items that are not in the list.
#include <initializer_list>
#include <vector>

#include <gtest/gtest.h>

#include "ll/LL.h"

namespace {

struct Record {
  LL_Item link;  // must stay the first field
  int id;
};

class ListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    LL_Init(&head);
    for (int i = 0; i < 5; ++i) {
      rec[i].id = i;
      // A stale pNext must never be trusted by the list.
      rec[i].link.pNext = &foreign.link;
    }
  }
  LL_Item* item(int i) { return &rec[i].link; }
  void append(std::initializer_list<int> ids) {
    for (int i : ids) LL_AddLast(&head, item(i));
  }
  // Ids in list order, walked through LL_GetFirst and LL_GetNext.
  std::vector<int> order() {
    std::vector<int> ids;
    LL_Item* cur = nullptr;
    LL_GetFirst(&head, &cur);
    while (cur != nullptr && ids.size() < 10) {
      ids.push_back(reinterpret_cast<Record*>(cur)->id);
      LL_Item* next = nullptr;
      EXPECT_EQ(LL_GetNext(&head, cur, &next), 1);
      cur = next;
    }
    return ids;
  }

  LL_Item head{};
  Record rec[5]{};
  Record foreign{{nullptr}, 99};
};

using Ids = std::vector<int>;

TEST_F(ListTest, FreshListIsEmpty) {
  head.pNext = item(0);
  LL_Init(&head);
  EXPECT_EQ(LL_IsEmpty(&head), 1);
  EXPECT_EQ(LL_Count(&head), 0);
  LL_Item* first = item(0);
  LL_GetFirst(&head, &first);
  EXPECT_EQ(first, nullptr);
}

TEST_F(ListTest, AddLastKeepsOrderAddFirstReversesIt) {
  append({0, 1, 2});
  EXPECT_EQ(order(), (Ids{0, 1, 2}));
  EXPECT_EQ(LL_Count(&head), 3);
  EXPECT_EQ(rec[2].link.pNext, nullptr);

  LL_Init(&head);
  for (int i : {0, 1, 2}) LL_AddFirst(&head, item(i));
  EXPECT_EQ(order(), (Ids{2, 1, 0}));
  EXPECT_EQ(LL_Count(&head), 3);
}

TEST_F(ListTest, AddAfterHeadAddsFirstAndAfterItemInserts) {
  append({0, 1});
  LL_AddAfter(&head, item(2));
  EXPECT_EQ(order(), (Ids{2, 0, 1}));
  LL_AddAfter(item(0), item(3));
  EXPECT_EQ(order(), (Ids{2, 0, 3, 1}));
  LL_AddAfter(item(1), item(4));
  EXPECT_EQ(order(), (Ids{2, 0, 3, 1, 4}));
}

TEST_F(ListTest, AddBefore) {
  struct Case {
    const char* name;
    Ids initial;
    int before;  // index into rec, -1 null, -2 the foreign record
    Ids expected;
  };
  const Case cases[] = {
      {"before first", {0, 1, 2}, 0, {4, 0, 1, 2}},
      {"before middle", {0, 1, 2}, 1, {0, 4, 1, 2}},
      {"before last", {0, 1, 2}, 2, {0, 1, 4, 2}},
      {"absent before", {0, 1, 2}, -2, {0, 1, 2}},
      {"absent before, one item", {0}, -2, {0}},
      {"null before, non-empty list", {0, 1}, -1, {0, 1}},
      {"null before, one item", {0}, -1, {0}},
      {"null before, empty list", {}, -1, {4}},
      {"absent before, empty list", {}, -2, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LL_Init(&head);
    for (int i : c.initial) LL_AddLast(&head, item(i));
    LL_Item* before = c.before == -1 ? nullptr : c.before == -2 ? &foreign.link : item(c.before);
    LL_AddBefore(&head, before, item(4));
    EXPECT_EQ(order(), c.expected);
    EXPECT_EQ(LL_Count(&head), static_cast<int32_t>(c.expected.size()));
  }
}

TEST_F(ListTest, GetNext) {
  LL_Item* out = item(0);
  // Empty list: found, whatever item is asked for.
  EXPECT_EQ(LL_GetNext(&head, &foreign.link, &out), 1);
  EXPECT_EQ(out, nullptr);

  append({0, 1, 2});
  out = nullptr;
  EXPECT_EQ(LL_GetNext(&head, &head, &out), 1);
  EXPECT_EQ(out, item(0));
  EXPECT_EQ(LL_GetNext(&head, item(1), &out), 1);
  EXPECT_EQ(out, item(2));
  EXPECT_EQ(LL_GetNext(&head, item(2), &out), 1);
  EXPECT_EQ(out, nullptr);
  // foreign.link.pNext is null, and item 3 points at foreign: neither may
  // be followed.
  out = item(0);
  EXPECT_EQ(LL_GetNext(&head, &foreign.link, &out), 0);
  EXPECT_EQ(out, nullptr);
  out = item(0);
  EXPECT_EQ(LL_GetNext(&head, item(3), &out), 0);
  EXPECT_EQ(out, nullptr);
}

TEST_F(ListTest, DeleteItem) {
  struct Case {
    const char* name;
    Ids initial;
    int victim;  // index into rec, -2 the foreign record
    int32_t result;
    Ids expected;
  };
  const Case cases[] = {
      {"first", {0, 1, 2}, 0, 1, {1, 2}},
      {"middle", {0, 1, 2}, 1, 1, {0, 2}},
      {"last", {0, 1, 2}, 2, 1, {0, 1}},
      {"only", {0}, 0, 1, {}},
      {"absent", {0, 1, 2}, 3, 0, {0, 1, 2}},
      {"foreign", {0, 1, 2}, -2, 0, {0, 1, 2}},
      {"empty list", {}, 0, 0, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LL_Init(&head);
    for (int i : c.initial) LL_AddLast(&head, item(i));
    rec[3].link.pNext = &foreign.link;
    LL_Item* victim = c.victim == -2 ? &foreign.link : item(c.victim);
    EXPECT_EQ(LL_DeleteItem(&head, victim), c.result);
    EXPECT_EQ(order(), c.expected);
  }
}

TEST_F(ListTest, DeleteFirst) {
  LL_DeleteFirst(&head);
  EXPECT_EQ(LL_IsEmpty(&head), 1);
  append({0, 1});
  LL_DeleteFirst(&head);
  EXPECT_EQ(order(), (Ids{1}));
  LL_DeleteFirst(&head);
  EXPECT_EQ(LL_IsEmpty(&head), 1);
}

TEST_F(ListTest, IsLastItemOfHeadMatchesIsEmpty) {
  EXPECT_EQ(LL_IsLastItem(&head), 1);
  EXPECT_EQ(LL_IsLastItem(&head), LL_IsEmpty(&head));
  append({0, 1});
  EXPECT_EQ(LL_IsLastItem(&head), 0);
  EXPECT_EQ(LL_IsLastItem(&head), LL_IsEmpty(&head));
  EXPECT_EQ(LL_IsLastItem(item(0)), 0);
  EXPECT_EQ(LL_IsLastItem(item(1)), 1);
}

#ifndef NDEBUG
TEST(ListDeathTest, NullArgumentsAreCaught) {
  LL_Item head{};
  EXPECT_DEATH(LL_Init(nullptr), "");
  EXPECT_DEATH(LL_AddLast(&head, nullptr), "");
  EXPECT_DEATH(LL_AddAfter(nullptr, &head), "");
  EXPECT_DEATH(LL_DeleteItem(&head, nullptr), "");
  EXPECT_DEATH(LL_GetNext(&head, &head, nullptr), "");
  EXPECT_DEATH(LL_Count(nullptr), "");
}
#endif

}  // namespace
