// Code-to-name tables: the lookups, the table shapes, the failure trace line
// and the cut of an over-long joined result.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "debug/kivdebug.h"
#include "kivtestsupport.h"

namespace {

using kivtest::ChildResult;
using kivtest::TempDir;

struct LookupCase {
  const char* what;
  std::function<const char*()> lookup;
  std::string expected;
};

TEST(TablesLookup, KnownPairsAndFailures) {
  const std::vector<LookupCase> cases = {
      {"-689 in 1", [] { return GetDebugErrorString(-689, 1); }, "AE_LoopDown"},
      {"-8 in 1", [] { return GetDebugErrorString(AE_IllegalRequest, 1); }, "AE_IllegalRequest"},
      {"-32768 in 1", [] { return GetDebugErrorString(-32768, 1); }, "AE_Incomplete"},
      {"-61 in 1, the last row", [] { return GetDebugErrorString(-61, 1); }, "AE_IllegalReqPartitionOpen"},
      {"1 in any", [] { return GetDebugErrorString(1, 0); }, "AS_Warning?DS_Warning?FC_IACLVersion"},
      {"0 in any", [] { return GetDebugErrorString(0, 0); }, "AS_Success?DS_Success"},
      {"43 in any", [] { return GetDebugErrorString(43, 0); }, "FC_CoupleResrcCandCount?FN_ISALMgr_AssignManualResrcID"},
      {"1 in 3", [] { return GetDebugErrorString(1, 3); }, "FC_IACLVersion"},
      {"255 in 2", [] { return GetDebugErrorString(255, 2); }, "DP_Pending"},
      {"-1 in 2 (byte not sign-extended)", [] { return GetDebugErrorString(-1, 2); }, ""},
      {"200 in 4", [] { return GetDebugErrorString(200, 4); }, "FN_ADAP_Unslander"},
      {"255 + 2^32 pattern", [] { return GetDebugErrorString(0x100FF, 2); }, ""},
      {"terminator in 5", [] { return GetDebugErrorString(65535, 5); }, ""},
      {"terminator in any", [] { return GetDebugErrorString(65535, 0); }, ""},
      {"adapter 96", [] { return GetAdapterTransactionName(7, 96); }, "FN_ADAP_ServiceMode"},
      {"adapter 82", [] { return GetAdapterTransactionName(7, FN_ADAP_GetFCLoopMap); }, "FN_ADAP_GetFCLoopMap"},
      {"arguments swapped", [] { return GetAdapterTransactionName(96, 7); }, ""},
      {"any service", [] { return GetAdapterTransactionName(0, 200); }, "FN_ADAP_Unslander"},
      {"IACL service", [] { return GetAdapterTransactionName(6, 108); }, "FN_IACL_ChangeVersion"},
      {"RALS not in table", [] { return GetAdapterTransactionName(7, 160); }, ""},
      {"RALS in any service", [] { return GetAdapterTransactionName(0, 160); }, ""},
      {"service terminator", [] { return GetAdapterTransactionName(5, 65535); }, ""},
      {"IACL 62", [] { return GetIaclTransactionName(62); }, "FC_RebuildParity"},
      {"IACL 1", [] { return GetIaclTransactionName(1); }, "FC_IACLVersion"},
      {"IACL 101", [] { return GetIaclTransactionName(101); }, ""},
      {"IACL terminator", [] { return GetIaclTransactionName(65535); }, ""},
  };
  for (const LookupCase& c : cases) {
    const char* got = c.lookup();
    ASSERT_NE(got, nullptr) << c.what;
    EXPECT_EQ(got, c.expected) << c.what;
  }
  EXPECT_EQ(std::strlen(GetDebugErrorString(43, 0)), 54u);
}

TEST(TablesLookup, AllLookupsShareOneBuffer) {
  const char* first = GetDebugErrorString(AE_LoopDown, 1);
  const char* second = GetIaclTransactionName(62);
  EXPECT_EQ(first, second);
  EXPECT_STREQ(first, "FC_RebuildParity");
  EXPECT_STREQ(second, "FC_RebuildParity");
  // A failed lookup empties the same buffer.
  EXPECT_EQ(GetAdapterTransactionName(96, 7), first);
  EXPECT_STREQ(first, "");
}

std::map<std::int32_t, std::size_t> rowsPerInput2(std::span<const TwoInputStringRow> t) {
  std::map<std::int32_t, std::size_t> n;
  for (std::size_t i = 0; i + 1 < t.size(); ++i) ++n[t[i].Input2];
  return n;
}

TEST(TablesShape, RowCountsAndTerminators) {
  auto values = KIV_ValueToStringTable();
  auto services = KIV_AdapterServiceTransactionTable();
  auto iacl = KIV_IaclTransactionTable();
  EXPECT_EQ(values.size(), 428u);
  EXPECT_EQ(services.size(), 115u);
  EXPECT_EQ(iacl.size(), 63u);
  EXPECT_EQ(rowsPerInput2(values), (std::map<std::int32_t, std::size_t>{{1, 186}, {2, 54}, {3, 70}, {4, 117}}));
  EXPECT_EQ(rowsPerInput2(services),
            (std::map<std::int32_t, std::size_t>{{1, 27}, {6, 8}, {7, 33}, {8, 5}, {9, 6}, {16, 34}, {17, 1}}));
  EXPECT_EQ(rowsPerInput2(iacl), (std::map<std::int32_t, std::size_t>{{1, 62}}));
  for (auto t : {values, services, iacl}) {
    EXPECT_EQ(t.back().Input1, 65535);
    EXPECT_EQ(t.back().Input2, 5);
    EXPECT_STREQ(t.back().Name, "endoftable");
  }
  // Service groups in table order, consecutive rows of one service merged.
  std::vector<std::int32_t> order;
  for (std::size_t i = 0; i + 1 < services.size(); ++i) {
    if (order.empty() || order.back() != services[i].Input2) order.push_back(services[i].Input2);
  }
  EXPECT_EQ(order, (std::vector<std::int32_t>{6, 17, 1, 7, 8, 9, 7, 16}));
}

TEST(TablesShape, EveryRowReadsBackThroughItsLookup) {
  for (const auto& [table, lookup] :
       std::vector<std::pair<std::span<const TwoInputStringRow>, std::function<const char*(const TwoInputStringRow&)>>>{
           {KIV_ValueToStringTable(), [](const TwoInputStringRow& r) { return GetDebugErrorString(r.Input1, r.Input2); }},
           {KIV_AdapterServiceTransactionTable(),
            [](const TwoInputStringRow& r) { return GetAdapterTransactionName(r.Input2, r.Input1); }},
           {KIV_IaclTransactionTable(), [](const TwoInputStringRow& r) { return GetIaclTransactionName(r.Input1); }},
       }) {
    for (std::size_t i = 0; i + 1 < table.size(); ++i) {
      EXPECT_STREQ(lookup(table[i]), table[i].Name) << i;
    }
  }
}

TEST(TablesFindByName, ExactNameInCategory) {
  for (std::size_t i = 0; i + 1 < KIV_ValueToStringTable().size(); ++i) {
    const TwoInputStringRow& r = KIV_ValueToStringTable()[i];
    std::int32_t v = 12345;
    ASSERT_TRUE(KIV_FindCodeByName(r.Name, r.Input2, &v)) << r.Name;
    EXPECT_EQ(v, r.Input1) << r.Name;
  }
  struct Case {
    const char* name;
    std::int32_t category;
    bool found;
    std::int32_t value;
  } cases[] = {
      {"AE_LoopDown", 0, true, -689},    {"DP_Pending", 0, true, 255},  {"FN_IACL_Command", 3, true, 101},
      {"AE_LoopDown", 2, false, 7},      {"ae_loopdown", 0, false, 7},  {"AE_LoopDow", 1, false, 7},
      {"AE_LoopDownX", 1, false, 7},     {"", 0, false, 7},             {"endoftable", 0, false, 7},
      {"endoftable", 5, false, 7},       {"AS_Success", 5, false, 7},
  };
  for (const Case& c : cases) {
    std::int32_t v = 7;
    EXPECT_EQ(KIV_FindCodeByName(c.name, c.category, &v), c.found) << c.name << " " << c.category;
    EXPECT_EQ(v, c.value) << c.name << " " << c.category;
  }
  std::int32_t v = 7;
  EXPECT_FALSE(KIV_FindCodeByName(nullptr, 0, &v));
  EXPECT_FALSE(KIV_FindCodeByName("AS_Success", 0, nullptr));
  EXPECT_EQ(v, 7);
}

// Runs body in a child with the trace file open in a fresh folder and
// returns the trace text; the child exits without the exit handler, so the
// file is left as written.
std::string traceOf(const TempDir& tmp, const std::function<void()>& body) {
  const std::string dir = tmp.path();
  ChildResult r = kivtest::runInChild([&] {
    KIV_DebugDir = dir.c_str();
    if (KIV_OpenTraceFile("kivtables") != 0) std::_Exit(3);
    body();
    std::fflush(GetDebugFile());
    std::fputs(kivtest::readFile(DebugStreamName).c_str(), stdout);
    std::fflush(stdout);
    std::_Exit(0);
  });
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  return r.out;
}

TEST(TablesTrace, OnlyFailedLookupsTraceOneLine) {
  TempDir tmp;
  std::string text = traceOf(tmp, [] {
    GetDebugErrorString(1, 0);
    GetDebugErrorString(0, 0);
    GetDebugErrorString(-1, 2);
    GetDebugErrorString(255, 2);
    GetAdapterTransactionName(96, 7);
    GetIaclTransactionName(62);
    GetDebugErrorString(65535, 0);
  });
  EXPECT_EQ(kivtest::traceEvents(text),
            (std::vector<std::string>{"kivdebug:TwoInputStringLookup: Failed to match Input1 0xffffffff Input2 0x2",
                                      "kivdebug:TwoInputStringLookup: Failed to match Input1 0x7 Input2 0x60",
                                      "kivdebug:TwoInputStringLookup: Failed to match Input1 0xffff Input2 0x0"}));
  // The whole line: module, source line, one blank, the message.
  std::size_t at = text.find("kivdebug:");
  ASSERT_NE(at, std::string::npos);
  std::size_t end = text.find('\n', at);
  std::string line = text.substr(at, end + 1 - at);
  std::size_t blank = line.find(' ');
  ASSERT_NE(blank, std::string::npos);
  std::string number = line.substr(std::strlen("kivdebug:"), blank - std::strlen("kivdebug:"));
  EXPECT_FALSE(number.empty());
  EXPECT_EQ(number.find_first_not_of("0123456789"), std::string::npos) << line;
  EXPECT_EQ(line.substr(blank + 1), "TwoInputStringLookup: Failed to match Input1 0xffffffff Input2 0x2\n");
}

TEST(TablesTrace, ClosedTraceWritesNothing) {
  TempDir tmp;
  const std::string dir = tmp.path();
  ChildResult r = kivtest::runInChild([&] {
    KIV_DebugDir = dir.c_str();
    if (GetDebugFile() != nullptr) std::_Exit(3);
    if (std::strcmp(GetDebugErrorString(-1, 2), "") != 0) std::_Exit(4);
    if (std::strcmp(GetAdapterTransactionName(7, 160), "") != 0) std::_Exit(5);
  });
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(kivtest::listDir(dir).empty());
}

// ---- The walk and the cut, on private tables ----

constexpr TwoInputStringRow kStopsEarly[] = {
    {1, 1, "one"}, {2, 5, "stop"}, {3, 1, "three"}, {65535, 5, "endoftable"},
};
constexpr TwoInputStringRow kOnlyTerminator[] = {{0, 5, "endoftable"}};

TEST(TablesWalk, StopsAtFirstInput2Of5) {
  EXPECT_STREQ(TwoInputStringLookup(1, 1, kStopsEarly), "one");
  EXPECT_STREQ(TwoInputStringLookup(2, 5, kStopsEarly), "");
  EXPECT_STREQ(TwoInputStringLookup(2, 0, kStopsEarly), "");
  EXPECT_STREQ(TwoInputStringLookup(3, 1, kStopsEarly), "");
  EXPECT_STREQ(TwoInputStringLookup(0, 5, kOnlyTerminator), "");
  EXPECT_STREQ(TwoInputStringLookup(0, 0, kOnlyTerminator), "");
  EXPECT_STREQ(TwoInputStringLookup(0, 0, nullptr), "");
}

TEST(TablesWalk, NamedCategoryTakesFirstMatchAnyCategoryJoinsAll) {
  constexpr TwoInputStringRow t[] = {
      {9, 2, "b"}, {9, 1, "a"}, {9, 2, "b2"}, {8, 1, "x"}, {9, 3, "c"}, {65535, 5, "endoftable"},
  };
  EXPECT_STREQ(TwoInputStringLookup(9, 2, t), "b");
  EXPECT_STREQ(TwoInputStringLookup(9, 0, t), "b?a?b2?c");
}

struct CutCase {
  const char* what;
  std::vector<std::string> names;  // all with Input1 1, Input2 101, 102, ...
  std::string expected;
};

TEST(TablesWalk, JoinedResultIsCutAtAWholeName) {
  const std::string a127(127, 'A');
  const std::string b40(40, 'B');
  std::vector<std::string> tenOf30;
  for (char c = 'a'; c < 'a' + 10; ++c) tenOf30.emplace_back(30, c);
  std::string eightOf30;
  for (int i = 0; i < 8; ++i) eightOf30 += (i ? "?" : "") + tenOf30[i];
  const std::vector<CutCase> cases = {
      {"exactly 255", {a127, std::string(127, 'B')}, a127 + "?" + std::string(127, 'B')},
      {"256 drops the last name", {a127, std::string(128, 'B')}, a127},
      {"later short name not added after a cut", {a127, std::string(128, 'B'), "C"}, a127},
      {"ten names of 30", tenOf30, eightOf30},
      {"single name of 255", {std::string(255, 'Z')}, std::string(255, 'Z')},
      {"single name of 256", {std::string(256, 'Z'), b40}, ""},
      {"name of 300 after a short one", {b40, std::string(300, 'Z')}, b40},
  };
  for (const CutCase& c : cases) {
    std::vector<TwoInputStringRow> t;
    for (std::size_t i = 0; i < c.names.size(); ++i) {
      t.push_back({1, static_cast<std::int32_t>(101 + i), c.names[i].c_str()});
    }
    t.push_back({65535, 5, "endoftable"});
    const char* got = TwoInputStringLookup(1, 0, t.data());
    EXPECT_EQ(got, c.expected) << c.what;
    EXPECT_LE(std::strlen(got), 255u) << c.what;
  }
}

TEST(TablesTrace, CutResultCountsAsMatch) {
  TempDir tmp;
  std::string text = traceOf(tmp, [] {
    const std::string big(300, 'Z');
    const TwoInputStringRow t[] = {{1, 1, big.c_str()}, {65535, 5, "endoftable"}};
    if (std::strcmp(TwoInputStringLookup(1, 0, t), "") != 0) std::_Exit(4);
    TwoInputStringLookup(0, 0, kOnlyTerminator);
  });
  EXPECT_EQ(kivtest::traceEvents(text),
            (std::vector<std::string>{"kivdebug:TwoInputStringLookup: Failed to match Input1 0x0 Input2 0x0"}));
}

}  // namespace
