// The linked list driven by arbitrary operation sequences over a pool of
// records, checked after every operation against a model: the order of the
// items, their count, every answer, and the pNext of every record, the
// stale pNext of removed records included. Each record is an allocation of
// its own, so a stray write through a link is caught by the sanitizers.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "ll/LL.h"
#include "fuzzinput.h"

namespace {

constexpr int kPool = 12;
constexpr int kNone = -1;  // a null pNext in the model

using kivfuzz::Reader;

struct Record {
  LL_Item link;  // first, as the list requires
  int id;
};

struct Harness {
  LL_Item head{};
  std::vector<std::unique_ptr<Record>> pool;
  std::vector<int> list;      // ids in list order
  std::vector<int> stale;     // per id: the pNext a record out of the list keeps
  std::vector<bool> linked;   // per id: in the list

  Harness() : stale(kPool, kNone), linked(kPool, false) {
    for (int i = 0; i < kPool; ++i) pool.push_back(std::make_unique<Record>(Record{{nullptr}, i}));
    LL_Init(&head);
  }

  LL_Item* item(int id) { return id == kNone ? nullptr : &pool[static_cast<std::size_t>(id)]->link; }
  int idOf(const LL_Item* p) const {
    if (p == nullptr) return kNone;
    for (int i = 0; i < kPool; ++i)
      if (&pool[static_cast<std::size_t>(i)]->link == p) return i;
    std::abort();  // a link to something that is not a record
  }
  int successor(int id) const {
    for (std::size_t i = 0; i < list.size(); ++i)
      if (list[i] == id) return i + 1 < list.size() ? list[i + 1] : kNone;
    std::abort();
  }
  // What the model says an item's pNext holds.
  int nextOf(int id) const { return linked[static_cast<std::size_t>(id)] ? successor(id) : stale[static_cast<std::size_t>(id)]; }

  // Takes an item out of the model; it keeps its successor as stale link.
  void unlink(int id) {
    stale[static_cast<std::size_t>(id)] = successor(id);
    linked[static_cast<std::size_t>(id)] = false;
    for (std::size_t i = 0; i < list.size(); ++i)
      if (list[i] == id) {
        list.erase(list.begin() + static_cast<long>(i));
        return;
      }
  }
  void insertAt(std::size_t at, int id) {
    list.insert(list.begin() + static_cast<long>(at), id);
    linked[static_cast<std::size_t>(id)] = true;
  }
  std::size_t indexOf(int id) const {
    for (std::size_t i = 0; i < list.size(); ++i)
      if (list[i] == id) return i;
    std::abort();
  }

  void check() const {
    if (idOf(head.pNext) != (list.empty() ? kNone : list.front())) std::abort();
    for (int i = 0; i < kPool; ++i)
      if (idOf(pool[static_cast<std::size_t>(i)]->link.pNext) != nextOf(i)) std::abort();
    if (LL_Count(&head) != static_cast<std::int32_t>(list.size())) std::abort();
    if (LL_IsEmpty(&head) != (list.empty() ? 1 : 0)) std::abort();
    std::size_t n = 0;
    for (const LL_Item* p = head.pNext; p != nullptr; p = p->pNext) {
      if (n >= list.size() || idOf(p) != list[n]) std::abort();
      ++n;
    }
    if (n != list.size()) std::abort();
  }

  // A free record for an insertion, or kNone when all are linked.
  int pickFree(std::uint8_t b) const {
    for (int k = 0; k < kPool; ++k) {
      int id = (b + k) % kPool;
      if (!linked[static_cast<std::size_t>(id)]) return id;
    }
    return kNone;
  }
  // A linked record, or kNone on an empty list.
  int pickLinked(std::uint8_t b) const { return list.empty() ? kNone : list[b % list.size()]; }
  // Any record, linked or not.
  static int pickAny(std::uint8_t b) { return b % kPool; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Reader in{data, size};
  Harness h;
  h.check();
  for (int step = 0; step < 4096 && !in.empty(); ++step) {
    const std::uint8_t op = in.byte();
    const std::uint8_t a = in.byte();
    const std::uint8_t b = in.byte();
    switch (op % 12) {
      case 0: {  // LL_Init: the records keep whatever links they had
        for (int id : h.list) h.stale[static_cast<std::size_t>(id)] = h.successor(id);
        for (int id : h.list) h.linked[static_cast<std::size_t>(id)] = false;
        h.list.clear();
        LL_Init(&h.head);
        break;
      }
      case 1: {
        int id = h.pickFree(a);
        if (id == kNone) break;
        LL_AddFirst(&h.head, h.item(id));
        h.insertAt(0, id);
        break;
      }
      case 2: {
        int id = h.pickFree(a);
        if (id == kNone) break;
        LL_AddLast(&h.head, h.item(id));
        h.insertAt(h.list.size(), id);
        break;
      }
      case 3: {  // after the head or after a linked record
        int id = h.pickFree(a);
        if (id == kNone) break;
        int after = (b & 0x80) != 0 ? kNone : h.pickLinked(b);
        LL_AddAfter(after == kNone ? &h.head : h.item(after), h.item(id));
        h.insertAt(after == kNone ? 0 : h.indexOf(after) + 1, id);
        break;
      }
      case 4: {  // before a linked record, a free one, or null
        int id = h.pickFree(a);
        if (id == kNone) break;
        int before = (b & 0xC0) == 0x80 ? kNone : (b & 0xC0) == 0x40 ? Harness::pickAny(b) : h.pickLinked(b);
        if (before == id) break;  // the item is not in the list yet, so it cannot be the anchor
        const bool inList = before != kNone && h.linked[static_cast<std::size_t>(before)];
        LL_AddBefore(&h.head, h.item(before), h.item(id));
        if (inList) {
          h.insertAt(h.indexOf(before), id);
        } else if (before == kNone && h.list.empty()) {
          h.insertAt(0, id);
        }
        break;
      }
      case 5: {
        LL_Item unset{};  // not a record: an out left alone fails the check
        LL_Item* out = &unset;
        LL_GetFirst(&h.head, &out);
        if (h.idOf(out) != (h.list.empty() ? kNone : h.list.front())) std::abort();
        break;
      }
      case 6: {  // LL_GetNext of the head, a linked record or a free one
        const bool ofHead = (b & 0x80) != 0;
        int id = ofHead ? kNone : Harness::pickAny(a);
        LL_Item unset{};
        LL_Item* out = &unset;
        std::int32_t rc = LL_GetNext(&h.head, ofHead ? &h.head : h.item(id), &out);
        std::int32_t wantRc = 1;
        int want = kNone;
        if (!h.list.empty()) {
          if (ofHead) {
            want = h.list.front();
          } else if (h.linked[static_cast<std::size_t>(id)]) {
            want = h.successor(id);
          } else {
            wantRc = 0;
          }
        }
        if (rc != wantRc || h.idOf(out) != want) std::abort();
        break;
      }
      case 7:
        LL_DeleteFirst(&h.head);
        if (!h.list.empty()) h.unlink(h.list.front());
        break;
      case 8: {
        int id = (b & 1) != 0 ? h.pickLinked(a) : Harness::pickAny(a);
        if (id == kNone) id = Harness::pickAny(a);
        const bool inList = h.linked[static_cast<std::size_t>(id)];
        if (LL_DeleteItem(&h.head, h.item(id)) != (inList ? 1 : 0)) std::abort();
        if (inList) h.unlink(id);
        break;
      }
      case 9: {  // LL_IsLastItem of the head or of any record
        if ((b & 1) != 0) {
          if (LL_IsLastItem(&h.head) != (h.list.empty() ? 1 : 0)) std::abort();
        } else {
          int id = Harness::pickAny(a);
          if (LL_IsLastItem(h.item(id)) != (h.nextOf(id) == kNone ? 1 : 0)) std::abort();
        }
        break;
      }
      case 10:
        if (LL_Count(&h.head) != static_cast<std::int32_t>(h.list.size())) std::abort();
        break;
      default:
        if (LL_IsEmpty(&h.head) != (h.list.empty() ? 1 : 0)) std::abort();
        break;
    }
    h.check();
  }
  return 0;
}
