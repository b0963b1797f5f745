// Intrusive singly linked list of caller-owned records.
//
// A record is linked through an LL_Item placed as its first field. The list
// head is an LL_Item of its own, so wherever an operation works "after" an
// item, the head may stand in: adding after the head adds first, the
// successor of the head is the first item, and counting starts at the head.
// The list never allocates, copies or frees anything; it only rewires pNext.
// There is no tail pointer and no count, so LL_AddLast, LL_AddBefore,
// LL_GetNext, LL_DeleteItem and LL_Count walk the list.
//
// Every pointer argument (list, item, after, out) must be non-null; the only
// exception is `before` of LL_AddBefore. A null where one is required is a
// programming error and is caught by assert() in builds without NDEBUG; in
// builds with NDEBUG it is not checked. An item can be in one list at a time,
// and the list does not check this. A removed item keeps its stale pNext.
//
// Results are 32-bit integers: 1 for true or found, 0 for false or not
// found, or a count. The header can be included from C as well.
#ifndef KIV_LL_LL_H
#define KIV_LL_LL_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct LL_Item {
  struct LL_Item* pNext;  // next item, or null on the last item
} LL_Item;

// Empties the list.
void LL_Init(LL_Item* list);
// The item becomes the first item.
void LL_AddFirst(LL_Item* list, LL_Item* item);
// The item becomes the last item; its pNext is set to null.
void LL_AddLast(LL_Item* list, LL_Item* item);
// Links the item right behind `after`, an item of the list or the head.
void LL_AddAfter(LL_Item* after, LL_Item* item);
// Links the item right in front of `before`. If the first item is `before`
// (so also a null `before` on an empty list), the item becomes first. A
// `before` that is not in the list, null included, changes nothing.
void LL_AddBefore(LL_Item* list, LL_Item* before, LL_Item* item);
// Stores the first item, or null, in *out.
void LL_GetFirst(const LL_Item* list, LL_Item** out);
// Stores the successor of the item in *out and returns 1 when the item is
// the head or one of the items (null for the last one). An empty list yields
// null and 1 whatever item is given. An item not in a non-empty list yields
// null and 0.
int32_t LL_GetNext(const LL_Item* list, const LL_Item* item, LL_Item** out);
// Unlinks the first item, if there is one.
void LL_DeleteFirst(LL_Item* list);
// Unlinks the item: 1 if it was in the list, 0 (list unchanged) if not.
int32_t LL_DeleteItem(LL_Item* list, const LL_Item* item);
int32_t LL_IsEmpty(const LL_Item* list);
// 1 if the item has no successor; for the head the same as LL_IsEmpty.
int32_t LL_IsLastItem(const LL_Item* item);
// Number of items.
int32_t LL_Count(const LL_Item* list);

#ifdef __cplusplus
}
#endif

#endif
