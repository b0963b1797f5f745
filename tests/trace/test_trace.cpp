// The trace file: its name, its lines under a pinned clock, its mode, and
// the runs that go untraced rather than write where they must not.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include <gtest/gtest.h>

#include "debug/kivdebug.h"
#include "kivtestsupport.h"

namespace {

// Mode of what is at path ("0" for nothing), with its contents and links
// when asked.
std::string stateOf(const std::string& path, bool whole = false) {
  struct stat st {};
  char mode[16];
  std::snprintf(mode, sizeof mode, "%o", stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0);
  return whole ? kivtest::readFile(path) + " " + mode + " " + std::to_string(st.st_nlink) : mode;
}

// Microseconds after the start second at each reading of the clock: the
// opening at x.9995 s, then one reading per trace line.
constexpr long kReadings[] = {999500, 999500, 999900, 1000400, 1004000, 2233000, 60999000};
int g_reading = 0;
std::time_t g_start = 0;

// A time line whenever the millisecond changes, counted as the difference
// of two truncated stamps (x.9995 s to x+1.0004 s is 1 ms); a second open
// adds nothing, the exit handler acts once, and no stream is left after it.
TEST(TraceFile, NameLinesAndCompletion) {
  const auto run = [] {
    std::atexit([] { KIV_TraceLine("late", 1, "after the exit handler\n"); });  // runs after the trace's own
    g_start = KIV_TimeNow();
    KIV_TimeOfDayNow = [](struct timeval* tv) {
      const long us = kReadings[std::min(g_reading++, 6)];
      *tv = {g_start + us / 1000000, us % 1000000};
    };
    KIV_OpenTraceFile("kivservicemode");
    std::printf("%d %d %ld", KIV_OpenTraceFile("kivservicemode"), getpid(), static_cast<long>(g_start));
    for (const char* module : {"kivservicemode", "kivadapci", "kivses", "kivdebug", "LL", "kivtest"}) {
      KIV_TraceLine(module, 7, "event\n");
    }
    KIV_TimeNow = [] { return g_start + 75; };
    std::printf(" %d", GetElapsedSeconds());
  };
  const auto streamLeft = [] { return std::to_string(GetDebugFile() != nullptr); };
  const kivtest::Traced t = kivtest::runTraced(run, nullptr, {}, streamLeft);
  long pid = 0, start = 0;
  ASSERT_EQ(std::sscanf(t.out.c_str(), "0 %ld %ld", &pid, &start), 2) << t.out;
  EXPECT_EQ(t.out + " " + t.report, "0 " + std::to_string(pid) + " " + std::to_string(start) + " 75 0");
  EXPECT_EQ(t.traceName, "kivservicemode.261204122540." + std::to_string(pid) + ".gz");
  const std::time_t opened = start, exited = start + 75;
  char text[2][64];
  EXPECT_EQ(t.trace, "Program kivservicemode started.\n" + std::string(ctime_r(&opened, text[0])) +
                         "\n0.000\nkivservicemode:7 event\nkivadapci:7 event\n0.001\nkivses:7 event\n0.005\n"
                         "kivdebug:7 event\n1.234\nLL:7 event\n60.000\nkivtest:7 event\n\nCompleted at " +
                         ctime_r(&exited, text[1]) + "\n");
}

TEST(TraceFile, NameYearDigits) {
  std::tm start{};
  strptime("12-04 09:05:07", "%m-%d %H:%M:%S", &start);
  char name[64];
  for (const auto& [year, expected] : {std::pair{126, "/d/u.261204090507.77"}, {99, "/d/u.001204090507.77"},
                                       {200, "/d/u.1001204090507.77"}}) {
    start.tm_year = year;
    EXPECT_TRUE(KIV_FormatTraceFileName(name, sizeof name, "/d", "u", start, 77)) << year;
    EXPECT_STREQ(name, expected);
  }
}

// Where the trace goes, if anywhere. A missing directory is made 0755, and
// the file ends 0666, whatever the umask. A directory that cannot be made,
// a path too long for its buffer, or anything at the trace's name but a
// regular file of this user with no other name (which is emptied) leaves
// the run untraced and quiet, and what was there as it was: a link to a
// file outside, a FIFO, another user's file. Standard output and error
// closed at the start go to /dev/null, not into the trace.
TEST(TraceFile, WrittenOnlyWhereItMay) {
  enum Setup { Made, Closed, Unusable, TooLong, Symlink, HardLink, Fifo, OtherOwner, OwnFile };
  // Opened, traced | modes of the directory and the trace | the file outside: contents, mode, links.
  struct Row { Setup setup; const char* result; };
  for (const Row& row : {Row{Made, "0 1 | 755 666 | keep me 600 1"}, {Closed, "0 1 | 755 666 | keep me 600 1"},
                         {Unusable, "0 0 | 0 0 | keep me 600 1"}, {TooLong, "1 0 | 755 0 | keep me 600 1"},
                         {Symlink, "1 0 | 700 0 | keep me 600 1"}, {HardLink, "1 0 | 700 0 | keep me 600 2"},
                         {Fifo, "1 0 | 700 0 | keep me 600 1"}, {OtherOwner, "1 0 | 700 0 | keep me 600 1"},
                         {OwnFile, "0 1 | 700 666 | keep me 600 1"}}) {
    if (row.setup == OtherOwner && geteuid() != 0) continue;  // needs chown
    std::string dir, victim, own, opened;
    const std::string utility(row.setup == TooLong ? 4096 : 14, 'k');
    const auto run = [&] {
      umask(077);
      if (row.setup == Closed) for (int fd : {STDOUT_FILENO, STDERR_FILENO}) close(fd);
      kivtest::writeFile(victim = std::string(KIV_DebugDir) + "/victim", "keep me");
      KIV_DebugDir = (dir = KIV_DebugDir + std::string(row.setup == Unusable ? "/victim/sub" : "/made")).c_str();
      if (row.setup >= Symlink) mkdir(dir.c_str(), 0755);
      std::tm start{};
      const std::time_t now = KIV_TimeNow();
      char name[kDebugStreamNameSize];
      KIV_FormatTraceFileName(name, sizeof name, dir.c_str(), utility.c_str(), *localtime_r(&now, &start), getpid());
      own = name;
      if (row.setup == Symlink) symlink(victim.c_str(), name);
      if (row.setup == HardLink) link(victim.c_str(), name);
      if (row.setup == Fifo) mkfifo(name, 0600);
      if (row.setup == OtherOwner && (rename(victim.c_str(), name) != 0 || chown(name, 65534, 65534) != 0)) return;
      if (row.setup == OwnFile) kivtest::writeFile(name, "stale stale stale stale stale stale stale stale stale");
      const struct timespec young[2] = {{now, 0}, {now, 0}};  // not due for compression
      utimensat(AT_FDCWD, name, young, 0);
      opened = std::to_string(KIV_OpenTraceFile(utility.c_str()));
      KIV_TraceLine("kivtest", 1, "traced\n");
      opened += GetDebugFile() != nullptr ? " 1" : " 0";
      std::fputs("stray\n", stdout);
      std::fputs("stray\n", stderr);
      std::fflush(nullptr);
    };
    const auto left = [&] {
      const std::string trace = kivtest::runProgram("/bin/gzip", {"gzip", "-dc", own + ".gz"}).out;
      return opened + " | " + stateOf(dir) + " " + stateOf(own + ".gz") + " | " +
             stateOf(row.setup == OtherOwner ? own : victim, true) +
             (trace.find("stale") != trace.npos ? " stale" : "") + (trace.find("stray") != trace.npos ? " stray" : "");
    };
    EXPECT_EQ(kivtest::runTraced(run, nullptr, {}, left).report, row.result) << row.setup;
  }
}

}  // namespace
