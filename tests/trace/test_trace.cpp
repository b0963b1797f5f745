// The trace file: its name, its contents, its mode, and the runs where it
// cannot be made.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "debug/kivdebug.h"
#include "kivtestsupport.h"

namespace {

using kivtest::ChildResult;
using kivtest::TempDir;

// 4 December 2026, 09:05:07 UTC.
constexpr std::time_t kStart = 1796375107;

std::time_t fixedNow() { return kStart; }

// Scripted sub-second clock: each call returns the next offset in
// microseconds from kStart.
long g_offsetsUs[16];
int g_nextOffset = 0;
void scriptedTimeOfDay(struct timeval* tv) {
  long us = g_offsetsUs[g_nextOffset < 15 ? g_nextOffset++ : 15];
  tv->tv_sec = kStart + us / 1000000;
  tv->tv_usec = us % 1000000;
}

class TraceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TZ", "UTC", 1);
    tzset();
  }
  TempDir tmp;
};

std::string expectedCtime(std::time_t t) {
  char buf[64];
  ctime_r(&t, buf);
  return buf;
}

TEST_F(TraceTest, RunWritesNamedFileWithOpeningTraceAndCompletionLines) {
  const std::string dir = tmp.path();
  ChildResult r = kivtest::runInChild([&] {
    KIV_DebugDir = dir.c_str();
    KIV_TimeNow = fixedNow;
    // open, then lines at 0.0004 s, 0.0009 s (same ms), 0.005 s, 1.234 s, 60 s.
    long offsets[] = {0, 400, 900, 5000, 1234000, 60000000};
    std::copy(std::begin(offsets), std::end(offsets), g_offsetsUs);
    KIV_TimeOfDayNow = scriptedTimeOfDay;
    if (KIV_OpenTraceFile("kivservicemode") != 0) std::_Exit(3);
    KIV_TraceLine("kivservicemode", 101, "first %d\n", 1);
    KIV_TraceLine("kivadapci", 202, "second\n");
    KIV_TraceLine("kivses", 303, "third\n");
    KIV_TraceLine("kivdebug", 404, "fourth\n");
    KIV_TraceLine("LL", 505, "fifth\n");
    std::printf("%ld", static_cast<long>(getpid()));
    std::exit(0);
  });
  ASSERT_EQ(r.status, 0);
  std::string name;
  std::string text = kivtest::readOnlyTrace(dir, &name);
  std::string base = name.substr(0, name.size() - (name.size() > 3 && name.ends_with(".gz") ? 3 : 0));
  EXPECT_EQ(base, "kivservicemode.261204090507." + r.out);
  EXPECT_EQ(text, "Program kivservicemode started.\n" + expectedCtime(kStart) + "\n" +
                      "0.000\nkivservicemode:101 first 1\n"
                      "kivadapci:202 second\n"
                      "0.005\nkivses:303 third\n"
                      "1.234\nkivdebug:404 fourth\n"
                      "60.000\nLL:505 fifth\n"
                      "\nCompleted at " + expectedCtime(kStart) + "\n");
}

TEST_F(TraceTest, FileModeIs0666AndCreatedDirectory0755UnderRestrictiveUmask) {
  const std::string dir = tmp.file("made");
  ChildResult r = kivtest::runInChild([&] {
    umask(077);
    KIV_DebugDir = dir.c_str();
    KIV_OpenTraceFile("kivservicemode");
    std::exit(0);
  });
  ASSERT_EQ(r.status, 0);
  struct stat st {};
  ASSERT_EQ(stat(dir.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0755u);
  std::string name;
  kivtest::readOnlyTrace(dir, &name);
  ASSERT_FALSE(name.empty());
  ASSERT_EQ(stat((dir + "/" + name).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0666u);
}

TEST_F(TraceTest, UncreatableDirectoryRunsUntracedAndQuietly) {
  kivtest::writeFile(tmp.file("plain"), "x");
  const std::string dir = tmp.file("plain") + "/kivcfg";
  ChildResult r = kivtest::runInChild([&] {
    KIV_DebugDir = dir.c_str();
    int rc = KIV_OpenTraceFile("kivservicemode");
    KIV_TraceLine("kivservicemode", 1, "nothing\n");
    std::printf("%d %d", rc, GetDebugFile() == nullptr);
    std::exit(0);
  });
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "0 1");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(kivtest::readFile(tmp.file("plain")), "x");
}

TEST_F(TraceTest, PathTooLongForItsBufferOpensNothing) {
  const std::string dir = tmp.path();
  const std::string longName(kDebugStreamNameSize, 'n');
  ChildResult r = kivtest::runInChild([&] {
    KIV_DebugDir = dir.c_str();
    int rc = KIV_OpenTraceFile(longName.c_str());
    std::printf("%d %d", rc, GetDebugFile() == nullptr);
    std::exit(0);
  });
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "1 1");
  EXPECT_TRUE(kivtest::listDir(dir).empty());
}

// The trace name of a run of pid in dir at kStart.
std::string traceNameFor(const std::string& dir, const char* utility) {
  std::tm start {};
  std::time_t t = kStart;
  localtime_r(&t, &start);
  char buf[kDebugStreamNameSize];
  KIV_FormatTraceFileName(buf, sizeof buf, dir.c_str(), utility, start, static_cast<long>(getpid()));
  return buf;
}

// What may sit at the name this run's trace takes. None of it is this
// run's file: it is neither written, emptied, compressed nor deleted, no
// copy of what it leads to appears in the directory, and the run goes
// untraced.
TEST_F(TraceTest, EntryPlantedAtTheTraceNameIsLeftAsItIs) {
  enum Plant { kSymbolicLink, kHardLink, kFifo, kForeignOwner };
  for (Plant plant : {kSymbolicLink, kHardLink, kFifo, kForeignOwner}) {
    if (plant == kForeignOwner && geteuid() != 0) continue;  // needs chown
    SCOPED_TRACE(plant);
    const std::string dir = tmp.file("traces" + std::to_string(plant));
    const std::string victim = tmp.file("victim" + std::to_string(plant));
    ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
    kivtest::writeFile(victim, "keep me");
    ASSERT_EQ(chmod(victim.c_str(), 0600), 0);
    struct timespec old[2] = {{kStart - 100000, 0}, {kStart - 100000, 0}};  // stale: due for gzip
    struct timespec young[2] = {{kStart, 0}, {kStart, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, victim.c_str(), old, 0), 0);
    ChildResult r = kivtest::runInChild([&] {
      KIV_DebugDir = dir.c_str();
      KIV_TimeNow = fixedNow;
      KIV_HouseKeepingNow = fixedNow;
      const std::string own = traceNameFor(dir, "kivservicemode");
      int rc = plant == kSymbolicLink ? symlink(victim.c_str(), own.c_str())
               : plant == kHardLink   ? link(victim.c_str(), own.c_str())
               : plant == kFifo       ? mkfifo(own.c_str(), 0600)
                                      : rename(victim.c_str(), own.c_str()) || chown(own.c_str(), 65534, 65534) ||
                                            utimensat(AT_FDCWD, own.c_str(), young, 0);  // not due for gzip
      if (rc != 0) std::_Exit(3);
      std::printf("%d %s", KIV_OpenTraceFile("kivservicemode"), own.substr(dir.size() + 1).c_str());
      KIV_TraceLine("kivservicemode", 1, "must not land\n");
      std::exit(0);
    });
    ASSERT_EQ(r.status, 0);
    ASSERT_TRUE(r.out.starts_with("1 ")) << r.out;
    const std::string name = r.out.substr(2);
    EXPECT_EQ(kivtest::listDir(dir), std::vector<std::string>{name});
    const std::string kept = plant == kForeignOwner ? dir + "/" + name : victim;
    if (plant != kFifo) {
      struct stat st {};
      ASSERT_EQ(stat(kept.c_str(), &st), 0);
      EXPECT_EQ(kivtest::readFile(kept), "keep me");
      EXPECT_EQ(st.st_mode & 07777, 0600u);
      EXPECT_EQ(st.st_nlink, plant == kHardLink ? 2u : 1u);
    }
  }
}

// A run started with standard input, output or error closed: the numbers
// are taken by /dev/null, not by the trace file, so nothing meant for them
// lands in the trace.
TEST_F(TraceTest, ClosedStandardDescriptorsGoToDevNull) {
  const std::vector<std::vector<int>> closedSets{{0}, {1}, {2}, {0, 1, 2}};
  for (const std::vector<int>& closed : closedSets) {
    kivtest::TempDir dir;
    ChildResult r = kivtest::runInChild([&] {
      for (int fd : closed) close(fd);
      KIV_DebugDir = dir.path().c_str();
      KIV_OpenTraceFile("kivservicemode");
      std::fprintf(stderr, "Port 1 is in Service Mode\n");
      std::printf("on standard output\n");
      std::fflush(nullptr);
      struct stat null {}, st {};
      stat("/dev/null", &null);
      for (int fd : closed) {
        if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode) || st.st_rdev != null.st_rdev) std::exit(10 + fd);
      }
      std::exit(0);
    });
    SCOPED_TRACE(closed.size() == 1 ? closed[0] : -1);
    EXPECT_EQ(r.status, 0);
    const std::string text = kivtest::readOnlyTrace(dir.path());
    EXPECT_TRUE(text.starts_with("Program kivservicemode started.\n")) << text;
    EXPECT_EQ(text.find("Service Mode"), std::string::npos) << text;
    EXPECT_EQ(text.find("standard output"), std::string::npos) << text;
  }
}

TEST_F(TraceTest, ExistingRegularFileOfTheSameNameIsTruncated) {
  const std::string dir = tmp.path();
  ChildResult r = kivtest::runInChild([&] {
    KIV_DebugDir = dir.c_str();
    KIV_TimeNow = fixedNow;
    kivtest::writeFile(traceNameFor(dir, "kivservicemode"), std::string(10000, 'o'));
    KIV_OpenTraceFile("kivservicemode");
    std::exit(0);
  });
  EXPECT_EQ(r.status, 0);
  std::string text = kivtest::readOnlyTrace(dir);
  EXPECT_TRUE(text.starts_with("Program kivservicemode started.\n")) << text;
  EXPECT_EQ(text.find('o' + std::string("oo")), std::string::npos);
}

TEST_F(TraceTest, SecondOpenAddsNoFileAndTheHandlerActsOnce) {
  const std::string dir = tmp.path();
  ChildResult r = kivtest::runInChild([&] {
    KIV_DebugDir = dir.c_str();
    KIV_OpenTraceFile("kivservicemode");
    std::printf("%d", KIV_OpenTraceFile("kivservicemode"));
    std::exit(0);
  });
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "0");
  std::string text = kivtest::readOnlyTrace(dir);
  EXPECT_EQ(text.find("Completed at"), text.rfind("Completed at"));
  EXPECT_NE(text.find("Completed at"), std::string::npos);
}

TEST_F(TraceTest, AfterTheExitHandlerNothingMoreIsTraced) {
  const std::string dir = tmp.path();
  ChildResult r = kivtest::runInChild([&] {
    KIV_DebugDir = dir.c_str();
    KIV_OpenTraceFile("kivservicemode");
    KIV_DebugExitHandler();
    KIV_TraceLine("kivservicemode", 1, "late\n");
    std::printf("%d", GetDebugFile() == nullptr);
    std::exit(0);
  });
  EXPECT_EQ(r.out, "1");
  EXPECT_EQ(kivtest::readOnlyTrace(dir).find("late"), std::string::npos);
}

TEST(TraceFileName, YearDigitsFollowTheCenturyRule) {
  char buf[256];
  std::tm t {};
  t.tm_mon = 11;
  t.tm_mday = 4;
  t.tm_hour = 12;
  t.tm_min = 25;
  t.tm_sec = 40;
  struct Case {
    int tmYear;
    const char* expected;
  } cases[] = {
      {126, "/d/kivservicemode.261204122540.77"},
      {99, "/d/kivservicemode.001204122540.77"},
      {200, "/d/kivservicemode.1001204122540.77"},
  };
  for (const Case& c : cases) {
    t.tm_year = c.tmYear;
    ASSERT_TRUE(KIV_FormatTraceFileName(buf, sizeof buf, "/d", "kivservicemode", t, 77));
    EXPECT_STREQ(buf, c.expected);
  }
  EXPECT_FALSE(KIV_FormatTraceFileName(buf, 20, "/d", "kivservicemode", t, 77));
  EXPECT_STREQ(buf, "");
}

// Elapsed text, from a start at kStart + startUs, for calls at the given
// offsets; the first call always gives a text.
TEST(ElapsedTime, TextIsTheDifferenceOfTruncatedStamps) {
  ChildResult r = kivtest::runInChild([] {
    long offsets[] = {999500, 999500, 1000400, 1000900, 1005000};
    std::copy(std::begin(offsets), std::end(offsets), g_offsetsUs);
    KIV_TimeOfDayNow = scriptedTimeOfDay;
    KIV_TimeOfDayNow(&KIV_TraceStartTime);  // start at x.9995
    std::string all;
    for (int i = 0; i < 4; ++i) all += std::string("[") + GetElapsedMilliSeconds() + "]";
    std::fputs(all.c_str(), stdout);
    std::exit(0);
  });
  // 0 ms (first call), 1 ms (x.9995 -> +0.9 ms), same ms, then 6 ms.
  EXPECT_EQ(r.out, "[0.000\n][0.001\n][][0.006\n]");
}

}  // namespace
