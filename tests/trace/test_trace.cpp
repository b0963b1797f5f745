// The trace file: its name, its lines under a pinned clock, its mode, and
// the runs that go untraced rather than write where they must not.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include <gtest/gtest.h>

#include "debug/kivdebug.h"
#include "kivtestsupport.h"

// Mode of what is at path ("0" for nothing), with its contents and links
// when asked.
static std::string stateOf(const std::string& path, bool whole = false) {
  struct stat st {};
  char mode[16];
  std::snprintf(mode, sizeof mode, "%o", stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0);
  return whole ? kivtest::readFile(path) + " " + mode + " " + std::to_string(st.st_nlink) : mode;
}

// Microseconds after the start second at each reading of the clock: the
// opening at x.9995 s, then one reading per trace line.
constexpr long kReadings[] = {999500, 999500, 999900, 1000400, 1004000, 2233000, 60999000};
static int g_reading = 0;
constexpr const char* kModules[] = {"kivservicemode", "kivadapci", "kivses", "kivdebug", "LL", "kivtest"};
static std::time_t g_start = 0;

// A time line whenever the millisecond changes, counted as the difference
// of two truncated stamps (x.9995 s to x+1.0004 s is 1 ms); a second open
// adds nothing, the exit handler acts once, and no stream is left after it.
TEST(TraceFile, NameLinesAndCompletion) {
  const auto t = kivtest::runTraced([] {
    std::atexit([] { KIV_TraceLine("late", 1, "after the exit handler\n"); });  // runs after the trace's own
    g_start = KIV_TimeNow();
    KIV_TimeOfDayNow = [](struct timeval* tv) {
      const long us = kReadings[std::min(g_reading++, 6)];
      *tv = {g_start + us / 1000000, us % 1000000};
    };
    KIV_OpenTraceFile("kivservicemode");
    std::printf("%d %d %ld", KIV_OpenTraceFile("kivservicemode"), getpid(), static_cast<long>(g_start));
    for (const char* module : kModules) KIV_TraceLine(module, 7, "event\n");
    KIV_TimeNow = [] { return g_start + 75; };
    std::printf(" %d", GetElapsedSeconds());
  }, nullptr, [] { return std::to_string(GetDebugFile() != nullptr); });
  long pid = 0, start = 0;
  ASSERT_EQ(std::sscanf(t.out.c_str(), "0 %ld %ld", &pid, &start), 2) << t.out;
  EXPECT_EQ(t.out + " " + t.report, "0 " + std::to_string(pid) + " " + std::to_string(start) + " 75 0");
  EXPECT_EQ(t.traceName, "kivservicemode.261204122540." + std::to_string(pid) + ".gz");
  const auto ctimeOf = [](std::time_t at) { char text[64]; return std::string(ctime_r(&at, text)); };
  EXPECT_EQ(t.trace, "Program kivservicemode started.\n" + ctimeOf(start) +
                         "\n0.000\nkivservicemode:7 event\nkivadapci:7 event\n0.001\nkivses:7 event\n0.005\n"
                         "kivdebug:7 event\n1.234\nLL:7 event\n60.000\nkivtest:7 event\n\nCompleted at " +
                         ctimeOf(start + 75) + "\n");
}

TEST(TraceFile, NameYearDigits) {
  std::tm start{};
  strptime("12-04 09:05:07", "%m-%d %H:%M:%S", &start);
  char name[64];
  for (const auto& [year, expected] : {std::pair{126, "/d/u.261204090507.77"}, {99, "/d/u.001204090507.77"},
                                       {200, "/d/u.1001204090507.77"}}) {
    start.tm_year = year;
    EXPECT_STREQ(KIV_FormatTraceFileName(name, sizeof name, "/d", "u", start, 77) ? name : "(no fit)", expected);
  }
}

// Where the trace goes, if anywhere. A missing directory is made 0755, and
// the file ends 0644, whatever the umask. A directory that cannot be made,
// a path too long for its buffer, or anything at the trace's name but a
// regular file of this user with no other name (which is emptied) leaves
// the run untraced and quiet, and what was there as it was: a link to a
// file outside, a FIFO, another user's file. Standard error closed at the
// start goes to /dev/null, not into the trace. Once open, the directory is
// the one opened: swapped for a link to another folder during the run, the
// trace is finished and compressed in the folder it was opened in, and
// nothing behind the link is touched, stale as it is; a file renamed in at
// the trace's name before exit is left as it is.
TEST(TraceFile, WrittenOnlyWhereItMay) {
  enum Setup { Made, Closed, Unusable, TooLong, Symlink, HardLink, Fifo, OtherOwner, OwnFile, Swapped, Replaced };
  // KIV_OpenTraceFile's result | modes of the directory and of the trace | contents, mode and links of the
  // file outside (or of the other user's file); " #" when the trace holds anything of the file it replaced
  // or of standard error.
  struct Row { Setup setup; const char* result; };
  for (const Row& row : {Row{Made, "0 | 755 644 | keep me 600 1"}, {Closed, "0 | 755 644 | keep me 600 1"},
                         {Unusable, "0 | 0 0 | keep me 600 1"}, {TooLong, "1 | 755 0 | keep me 600 1"},
                         {Symlink, "1 | 700 0 | keep me 600 1"}, {HardLink, "1 | 700 0 | keep me 600 2"},
                         {Fifo, "1 | 700 0 | keep me 600 1"}, {OtherOwner, "1 | 700 0 | keep me 600 1"},
                         {OwnFile, "0 | 700 644 | keep me 600 1"}, {Swapped, "0 | 755 644 | keep me 600 1"},
                         {Replaced, "0 | 755 0 | keep me 600 1"}}) {
    if (row.setup == OtherOwner && geteuid() != 0) continue;  // needs chown
    std::string dir, victim, own, opened;
    const std::string utility(row.setup == TooLong ? 4096 : 14, 'k');
    const auto run = [&] {
      umask(077);
      KIV_HouseKeepingNow = [] { return std::time_t{1000000}; };  // every file is young: only the trace is compressed
      if (row.setup == Swapped) KIV_HouseKeepingNow = [] { return std::time_t{1} << 40; };  // every file is stale
      if (row.setup == Closed) close(STDERR_FILENO);
      kivtest::writeFile(victim = std::string(KIV_DebugDir) + "/victim", "keep me");
      KIV_DebugDir = (dir = KIV_DebugDir + std::string(row.setup == Unusable ? "/victim/sub" : "/made")).c_str();
      if (row.setup >= Symlink && row.setup <= OwnFile) mkdir(dir.c_str(), 0755);
      const char* name = (own = dir + "/" + utility + ".261204122540." + std::to_string(getpid())).c_str();
      if (row.setup == Symlink) symlink(victim.c_str(), name);
      if (row.setup == HardLink) link(victim.c_str(), name);
      if (row.setup == Fifo) mkfifo(name, 0600);
      if (row.setup == OtherOwner && (rename(victim.c_str(), name) != 0 || chown(name, 65534, 65534) != 0)) return;
      if (row.setup == OwnFile) kivtest::writeFile(name, std::string(999, '#'));
      opened = std::to_string(KIV_OpenTraceFile(utility.c_str()));
      KIV_TraceLine("kivtest", 1, "traced\n");
      const std::string moved = dir + ".moved", parent = dir.substr(0, dir.rfind('/'));
      if (row.setup == Swapped && (rename(dir.c_str(), moved.c_str()) != 0 || symlink(parent.c_str(), dir.c_str()) != 0)) return;
      if (row.setup == Swapped) own = moved + own.substr(dir.size());
      if (row.setup == Replaced && rename(victim.c_str(), own.c_str()) != 0) return;
      std::fputs("#stray\n", stderr);
    };
    const auto left = [&] {
      return opened + " | " + stateOf(dir) + " " + stateOf(own + ".gz") + " | " +
             stateOf(row.setup == OtherOwner || row.setup == Replaced ? own : victim, true) +
             (kivtest::runProgram("/bin/gzip", {"gzip", "-dc", own + ".gz"}).out.find('#') != own.npos ? " #" : "");
    };
    EXPECT_EQ(kivtest::runTraced(run, nullptr, left).report, row.result) << row.setup;
  }
}
