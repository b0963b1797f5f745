// The intrusive singly linked list.
#include "ll/LL.h"

#include <cassert>

void LL_Init(LL_Item* list) {
  assert(list != nullptr);
  list->pNext = nullptr;
}

void LL_AddFirst(LL_Item* list, LL_Item* item) { LL_AddAfter(list, item); }

void LL_AddLast(LL_Item* list, LL_Item* item) {
  assert(list != nullptr && item != nullptr);
  item->pNext = nullptr;
  if (list->pNext == nullptr) {
    list->pNext = item;
    return;
  }
  LL_Item* last = list->pNext;
  while (last->pNext != nullptr) last = last->pNext;
  last->pNext = item;
}

void LL_AddAfter(LL_Item* after, LL_Item* item) {
  assert(after != nullptr && item != nullptr);
  item->pNext = after->pNext;
  after->pNext = item;
}

void LL_AddBefore(LL_Item* list, LL_Item* before, LL_Item* item) {
  assert(list != nullptr && item != nullptr);
  // Address comparison first: this also places an item into an empty list
  // when before is null.
  if (list->pNext == before) {
    LL_AddFirst(list, item);
    return;
  }
  if (list->pNext == nullptr) return;
  // The walk stops at the last item without looking at its null pNext, so
  // a null before does not turn into an append.
  for (LL_Item* cur = list->pNext; cur->pNext != nullptr; cur = cur->pNext) {
    if (cur->pNext == before) {
      LL_AddAfter(cur, item);
      return;
    }
  }
}

void LL_GetFirst(const LL_Item* list, LL_Item** out) {
  assert(list != nullptr && out != nullptr);
  *out = list->pNext;
}

int32_t LL_GetNext(const LL_Item* list, const LL_Item* item, LL_Item** out) {
  assert(list != nullptr && out != nullptr);
  *out = nullptr;
  if (list->pNext == nullptr) return 1;
  // The search starts at the head itself, so the head's successor is the
  // first item.
  for (const LL_Item* cur = list; cur != nullptr; cur = cur->pNext) {
    if (cur == item) {
      *out = cur->pNext;
      return 1;
    }
  }
  return 0;
}

void LL_DeleteFirst(LL_Item* list) {
  assert(list != nullptr);
  if (list->pNext != nullptr) list->pNext = list->pNext->pNext;
}

int32_t LL_DeleteItem(LL_Item* list, const LL_Item* item) {
  assert(list != nullptr && item != nullptr);
  for (LL_Item* prev = list; prev->pNext != nullptr; prev = prev->pNext) {
    if (prev->pNext == item) {
      prev->pNext = item->pNext;
      return 1;
    }
  }
  return 0;
}

int32_t LL_IsEmpty(const LL_Item* list) {
  assert(list != nullptr);
  return list->pNext == nullptr ? 1 : 0;
}

int32_t LL_IsLastItem(const LL_Item* item) {
  assert(item != nullptr);
  return item->pNext == nullptr ? 1 : 0;
}

int32_t LL_Count(const LL_Item* list) {
  assert(list != nullptr);
  int32_t count = 0;
  for (const LL_Item* cur = list; LL_IsLastItem(cur) == 0; cur = cur->pNext) ++count;
  return count;
}
