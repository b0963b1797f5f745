// Intelligent tracing: the lookups that decide a run's trace, and what the
// exit handler then does with the trace and the directory.
#include <fcntl.h>
#include <sys/stat.h>

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
  std::string names;
  for (int d : {0, 1, 2, 3, -1}) names += std::string(DisplayDisposition(d)) + " ";
  EXPECT_EQ(names, "Entry_Invalid Trace_Keep Trace_Delete ? ? ");
}

// The trace is deleted, and the directory left as it is, only when the run
// asked for it and the row of its code says so. Otherwise the trace stays and
// the directory is tidied: a stale file is compressed, and so is the trace,
// young as it is.
TEST(Disposition, AtExit) {
  struct Row { int flag, code; const char* utility, *left; };  // code -99: left as it starts
  for (const Row& row : {Row{1, 0, "kivservicemode", " stale"}, {1, 47, "kivservicemode", " own.gz stale.gz"},
                         {0, 0, "kivservicemode", " own.gz stale.gz"}, {1, -99, "kivservicemode", " own.gz stale.gz"},
                         {1, 0, "kivservicemode.old", " own.gz stale.gz"}}) {
    const auto run = [&] {
      const struct timespec epoch[2] = {};
      kivtest::writeFile(std::string(KIV_DebugDir) + "/stale", "an old trace\n");
      utimensat(AT_FDCWD, (std::string(KIV_DebugDir) + "/stale").c_str(), epoch, 0);
      KIV_HouseKeepingNow = [] { return std::time_t{1000000}; };  // every file written now is young to it
      KIV_OpenTraceFile(row.utility);
      UsingIntelligentTracing = row.flag;
      if (row.code != -99) FinalReturnCode = row.code;
    };
    const auto left = [] {
      std::string names, own = std::strrchr(DebugStreamName, '/') + 1;
      for (std::string n : kivtest::listDir(KIV_DebugDir)) {
        names += " " + (n.starts_with(own) ? "own" + n.substr(own.size()) : n);
      }
      return names;
    };
    EXPECT_EQ(kivtest::runTraced(run, nullptr, {}, left).report, row.left) << row.flag << " " << row.code;
  }
}
