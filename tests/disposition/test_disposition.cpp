#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "debug/kivdisposition.h"

namespace {

TEST(IntelligentTraceTable, RowsInOrder) {
  const char* const utilities[] = {
      "kivxlate",           "kivadap",           "kivdiag",
      "kivhealthcheck",     "kivprogress",       "kivservicemode",
      "kivses_encvpd",      "kivses_getdevicedata", "kivses_getdiskcount",
      "kivses_getencserial", "kivses_getenctemp", "kivses_healthcheck",
      "kivses_porterrorcount", "kivses_resetswapbit"};
  int row = 0;
  for (const char* name : utilities) {
    const IntelligentTraceEntry& del = IntelligentTraceTable[row++];
    const IntelligentTraceEntry& keep = IntelligentTraceTable[row++];
    EXPECT_STREQ(del.utilityName, name);
    EXPECT_STREQ(del.returnCodePattern, "0");
    EXPECT_EQ(del.disposition, Trace_Delete);
    EXPECT_STREQ(keep.utilityName, name);
    EXPECT_STREQ(keep.returnCodePattern, "*");
    EXPECT_EQ(keep.disposition, Trace_Keep);
  }
  EXPECT_EQ(row, 28);
  EXPECT_STREQ(IntelligentTraceTable[28].utilityName, "*");
  EXPECT_STREQ(IntelligentTraceTable[28].returnCodePattern, "*");
  EXPECT_EQ(IntelligentTraceTable[28].disposition, Trace_Keep);
  EXPECT_EQ(IntelligentTraceTable[29].utilityName, nullptr);
  EXPECT_EQ(IntelligentTraceTable[29].returnCodePattern, nullptr);
  EXPECT_EQ(IntelligentTraceTable[29].disposition, Entry_Invalid);
}

TEST(IntelligentTracing, InitialValues) {
  EXPECT_EQ(UsingIntelligentTracing, 0);
  EXPECT_EQ(FinalReturnCode, -99);
}

struct LookupCase {
  const char* name;
  int code;
  int result;
  int disposition;  // expected when result is 1
};

TEST(LookUpDisposition, Cases) {
  const LookupCase cases[] = {
      {"kivdiag", 0, 1, Trace_Delete},
      {"kivdiag", -8, 1, Trace_Keep},
      {"kivservicemode", 0, 1, Trace_Delete},
      {"kivservicemode", 47, 1, Trace_Keep},
      {"kivservicemode", -99, 1, Trace_Keep},
      {"kivses_resetswapbit", 0, 1, Trace_Delete},
      {"kivses_resetswapbit", 1, 1, Trace_Keep},
      {"kivxlate", 0, 1, Trace_Delete},
      {"unknownutility", 0, 1, Trace_Keep},  // row 29
      {"KIVDIAG", 0, 1, Trace_Keep},         // case matters: falls to row 29
      {"kivdia", 0, 1, Trace_Keep},
      {"", 0, 1, Trace_Keep},
      {nullptr, 0, 0, 0},
  };
  for (const LookupCase& c : cases) {
    SCOPED_TRACE(std::string(c.name ? c.name : "(null)") + " " + std::to_string(c.code));
    int disposition = 1234;
    EXPECT_EQ(LookUpDisposition(c.name, c.code, &disposition), c.result);
    EXPECT_EQ(disposition, c.result ? c.disposition : 1234);
  }
}

TEST(LookUpDisposition, NullOutPointer) {
  EXPECT_EQ(LookUpDisposition("kivdiag", 0, nullptr), 0);
}

struct PatternCase {
  const char* pattern;
  int code;
  bool matches;
};

// Patterns read as strtol reads base 10.
TEST(LookUpDispositionInTable, PatternReading) {
  const PatternCase cases[] = {
      {" +0", 0, true},   {"-0", 0, true},     {"abc", 0, true},    {"", 0, true},
      {"47", 47, true},   {"  47", 47, true},  {"47abc", 47, true}, {"+47", 47, true},
      {"-8", -8, true},   {"\t-8", -8, true},  {"- 8", 0, true},    {"47", 4, false},
      {"abc", 1, false},  {"0x10", 0, true},   {"0x10", 16, false}, {"-0", 1, false},
      {"99999999999", -1, false},
  };
  for (const PatternCase& c : cases) {
    SCOPED_TRACE(std::string("pattern '") + c.pattern + "' code " + std::to_string(c.code));
    const IntelligentTraceEntry table[] = {{"u", c.pattern, Trace_Delete}, {nullptr, nullptr, Entry_Invalid}};
    int d = 0;
    EXPECT_EQ(LookUpDispositionInTable(table, "u", c.code, &d), c.matches ? 1 : 0);
    EXPECT_EQ(d, c.matches ? Trace_Delete : 0);
  }
}

TEST(LookUpDispositionInTable, FirstMatchingRowWinsAndTerminatorStops) {
  const IntelligentTraceEntry table[] = {{"u", "5", Trace_Delete},
                                         {"*", "5", Trace_Keep},
                                         {"u", "*", Trace_Keep},
                                         {nullptr, nullptr, Entry_Invalid},
                                         {"*", "*", Trace_Delete}};
  int d = 0;
  EXPECT_EQ(LookUpDispositionInTable(table, "u", 5, &d), 1);
  EXPECT_EQ(d, Trace_Delete);
  EXPECT_EQ(LookUpDispositionInTable(table, "v", 5, &d), 1);
  EXPECT_EQ(d, Trace_Keep);
  d = 0;
  EXPECT_EQ(LookUpDispositionInTable(table, "v", 6, &d), 0);  // the row after the terminator is never read
  EXPECT_EQ(d, 0);

  const IntelligentTraceEntry empty[] = {{nullptr, nullptr, Entry_Invalid}};
  EXPECT_EQ(LookUpDispositionInTable(empty, "u", 0, &d), 0);
  EXPECT_EQ(LookUpDispositionInTable(nullptr, "u", 0, &d), 0);
}

TEST(DisplayDisposition, Names) {
  EXPECT_STREQ(DisplayDisposition(0), "Entry_Invalid");
  EXPECT_STREQ(DisplayDisposition(1), "Trace_Keep");
  EXPECT_STREQ(DisplayDisposition(2), "Trace_Delete");
  EXPECT_STREQ(DisplayDisposition(3), "?");
  EXPECT_STREQ(DisplayDisposition(-1), "?");
  EXPECT_STREQ(DisplayDisposition(1 << 30), "?");
}

}  // namespace
