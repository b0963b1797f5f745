// Intelligent tracing: the lookups that decide a run's trace, and what the
// exit handler then does with the trace and the directory.
#include <cstring>

#include <gtest/gtest.h>

#include "debug/kivdebug.h"
#include "kivtestsupport.h"

TEST(Disposition, Lookups) {
  struct Row { const char* utility; int code; bool out; int result, disposition; };
  for (const Row& r : {Row{"kivservicemode", 0, true, 1, Trace_Delete}, {"kivservicemode", 47, true, 1, Trace_Keep},
                       {"kivdiag", 0, true, 1, Trace_Delete}, {"kivdiag", -8, true, 1, Trace_Keep},
                       {"kivservicemode.old", 0, true, 1, Trace_Keep}, {nullptr, 0, true, 0, -1},
                       {"kivdiag", 0, false, 0, -1}}) {
    int disposition = -1;
    EXPECT_EQ(LookUpDisposition(r.utility, r.code, r.out ? &disposition : nullptr), r.result) << r.code;
    EXPECT_EQ(disposition, r.disposition) << r.code;
  }
  int none = -1;  // a table that begins with its terminator matches nothing
  EXPECT_EQ(LookUpDispositionInTable(&IntelligentTraceTable[kIntelligentTraceRows - 1], "kivdiag", 0, &none), 0);
  EXPECT_EQ(std::string(DisplayDisposition(0)) + DisplayDisposition(1) + DisplayDisposition(2) + DisplayDisposition(3) +
                DisplayDisposition(-1), "Entry_InvalidTrace_KeepTrace_Delete??");
}

// The trace is deleted, and the directory left as it is, only when the run
// asked for it and the row of its code says so. Otherwise the trace stays and
// the directory is tidied: stale files are compressed.
TEST(Disposition, AtExit) {
  struct Row { int flag, code; const char* utility, *left; };  // code -99: left as it starts
  for (const Row& row : {Row{1, 0, "kivservicemode", " stale"}, {1, 47, "kivservicemode", " own.gz stale.gz"},
                         {0, 0, "kivservicemode", " own.gz stale.gz"}, {1, -99, "kivservicemode", " own.gz stale.gz"},
                         {1, 0, "kivservicemode.old", " own.gz stale.gz"}}) {
    const auto run = [&] {
      kivtest::writeFile(std::string(KIV_DebugDir) + "/stale", "an old trace\n");
      KIV_HouseKeepingNow = [] { return std::time_t{1} << 40; };  // every file is stale
      KIV_OpenTraceFile(row.utility);
      UsingIntelligentTracing = row.flag;
      if (row.code != -99) FinalReturnCode = row.code;
    };
    const auto left = [] {  // the names in the directory, this run's trace as "own"
      const std::string own = std::strrchr(DebugStreamName, '/') + 1;
      std::string s;
      for (std::string n : kivtest::listDir(KIV_DebugDir)) s += ' ' + (n.find(own) ? n : "own" + n.substr(own.size()));
      return s;
    };
    EXPECT_EQ(kivtest::runTraced(run, nullptr, left).report, row.left) << row.flag << " " << row.code;
  }
}
