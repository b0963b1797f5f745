// The intrusive list, driven by scripts of operations on five items ('0' to
// '4'), the head ('h'), an item outside the list ('f') and null ('n'):
//   Fx AddFirst  Lx AddLast  Axy AddAfter(x, y)  Bxy AddBefore(before x, y)
//   X DeleteFirst  Dx DeleteItem  Nx GetNext  E IsEmpty  Tx IsLastItem  I Init
// A script's result is what the queries answered (GetNext: its result and
// the item it yields, '-' for null), then the list in brackets as LL_GetFirst
// and LL_GetNext walk it, and LL_Count.
#include <sstream>

#include <gtest/gtest.h>

#include "ll/LL.h"

TEST(List, Operations) {
  struct Row { const char* script; const char* result; };
  for (const Row& row : {Row{"E Th Nf", "1 1 1- [] 0"}, {"L0 L1 L2 Th T0 T2", "0 0 1 [012] 3"}, {"F0 F1 F2", "[210] 3"},
                         {"L0 L1 Ah2 A03 A14", "[20314] 5"}, {"L0 L1 L2 B03 B24", "[30142] 5"},
                         {"L0 L1 Bf4 Bn4", "[01] 2"}, {"Bf4 Bn4", "[4] 1"}, {"L0 D0 D0", "1 0 [] 0"},
                         {"L0 L1 L2 Nh N1 N2 Nf N3", "10 12 1- 0- 0- [012] 3"}, {"L0 L1 L2 D0", "1 [12] 2"},
                         {"L0 L1 L2 D1 D2 Df D3", "1 1 0 0 [0] 1"}, {"X L0 L1 X", "[1] 1"}, {"L0 L1 I E", "1 [] 0"}}) {
    // Stale links, which the list must never follow.
    LL_Item outside{}, head{&outside}, item[5] = {{&outside}, {&outside}, {&outside}, {&outside}, {&outside}};
    LL_Init(&head);
    auto at = [&](char c) { return c == 'h' ? &head : c == 'f' ? &outside : c == 'n' ? nullptr : &item[c - '0']; };
    auto name = [&](const LL_Item* p) { return p == nullptr ? '-' : p == &outside ? 'f' : char('0' + (p - item)); };
    std::string result;
    std::istringstream in(row.script);
    for (std::string op; in >> op;) {
      LL_Item *x = at(op.size() > 1 ? op[1] : 'n'), *y = at(op.size() > 2 ? op[2] : 'n'), *next = &outside;
      if (op[0] == 'I') LL_Init(&head);
      if (op[0] == 'F') LL_AddFirst(&head, x);
      if (op[0] == 'L') LL_AddLast(&head, x);
      if (op[0] == 'A') LL_AddAfter(x, y);
      if (op[0] == 'B') LL_AddBefore(&head, x, y);
      if (op[0] == 'X') LL_DeleteFirst(&head);
      const int answer = op[0] == 'D' ? LL_DeleteItem(&head, x) : op[0] == 'N' ? LL_GetNext(&head, x, &next)
                         : op[0] == 'E' ? LL_IsEmpty(&head) : op[0] == 'T' ? LL_IsLastItem(x) : -1;
      if (answer >= 0) result += std::to_string(answer) + (op[0] == 'N' ? std::string(1, name(next)) : "") + " ";
    }
    LL_Item* p = nullptr;
    for (LL_GetFirst(&head, &p), result += '['; p != nullptr; LL_GetNext(&head, p, &p)) result += name(p);
    EXPECT_EQ(result + "] " + std::to_string(LL_Count(&head)), row.result) << row.script;
  }
}
