// Many runs at once against one simulated adapter and one trace directory:
// the adapter serialises their requests, so they interleave as they would
// on a real one, and runs that exit together tidy the directory in turn.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "e2e.h"

namespace {

// The log lines of each process, in order.
std::map<std::string, std::vector<std::string>> linesByPid(const std::string& log) {
  std::map<std::string, std::vector<std::string>> byPid;
  std::istringstream in(log);
  std::string pid, line;
  while (in >> pid && std::getline(in, line)) byPid[pid].push_back(line.substr(1));
  return byPid;
}

TEST(Concurrency, EnablesOfBothPortsOfAPairAgreeWithTheAdapter) {
  e2e::Bench bench;
  constexpr int kRounds = 8;
  const char* const names[] = {"1L", "1R", "2L", "2R"};
  for (int round = 0; round < kRounds; ++round) {
    // All four ports at once: two pairs, each enabling both of its ports.
    bench.sim({"reset"});
    kivtest::ChildResult runs[4];
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i) threads.emplace_back([&, i] { runs[i] = bench.utility({"-a", "A0", "-p", names[i], "-y"}); });
    for (std::thread& t : threads) t.join();

    auto byPid = linesByPid(bench.sim({"log", "pids"}));
    ASSERT_EQ(byPid.size(), 4u) << "round " << round;
    for (int i = 0; i < 4; ++i) {
      const std::string own = std::to_string(i + 1), partner = std::to_string((i ^ 1) + 1);
      const std::vector<std::string>& lines = byPid[std::to_string(runs[i].pid)];
      // Its two queries, the partner's clear when the partner read as in
      // service mode, and its own set: nothing lost, nothing else.
      ASSERT_TRUE(lines.size() == 3 || lines.size() == 4) << "round " << round;
      EXPECT_EQ(lines[0], "FN_ADAP_GetFCLoopMap port=" + own + " rc=0");
      EXPECT_EQ(lines[1], "FN_ADAP_GetFCLoopMap port=" + partner + " rc=0");
      EXPECT_TRUE(lines.size() == 3 || lines[2].starts_with("FN_ADAP_ServiceMode port=" + partner + " value=0 rc="));
      const std::string set = "FN_ADAP_ServiceMode port=" + own + " value=1 rc=";
      ASSERT_TRUE(lines.back().starts_with(set)) << lines.back();
      const int rc = std::stoi(lines.back().substr(set.size()));
      char failed[16];
      std::snprintf(failed, sizeof failed, "%X", static_cast<unsigned>(rc));
      const bool ok = rc == 0 || rc == 1;
      EXPECT_EQ(runs[i].err, "Service Mode 1 to port " + own + (ok ? " success\n" : " failed, rc=" + std::string(failed) + "\n"));
      EXPECT_EQ(runs[i].status, ok ? 0 : 47) << "round " << round;
    }
    const std::string show = bench.sim({"show"});
    for (const char* pair : {"port 1L (1): service mode on, loop up, query=auto set=auto clear=auto\nport 1R (2): service mode on",
                             "port 2L (3): service mode on, loop up, query=auto set=auto clear=auto\nport 2R (4): service mode on"}) {
      EXPECT_EQ(show.find(pair), std::string::npos) << show;
    }
  }
  // Every run kept its trace, compressed.
  std::vector<std::string> traces = bench.traces();
  EXPECT_EQ(traces.size(), static_cast<std::size_t>(4 * kRounds));
  for (const auto& t : traces) EXPECT_TRUE(t.ends_with(".gz")) << t;
}

// Fifty runs exit at once into a directory 20 files over its count limit:
// taking turns at the tidying, they delete exactly the excess, oldest first,
// and every run keeps its trace.
TEST(Concurrency, FiftyRunsAtOnceLoseNothingAndDeleteOnlyTheExcess) {
  e2e::Bench bench;
  constexpr int kRuns = 50;
  constexpr int kLimit = 60;
  for (int i = 0; i < kLimit + 20; ++i) {
    const std::string old = bench.traceDir() + "/kivservicemode.old" + std::to_string(100 + i) + ".gz";
    kivtest::writeFile(old, "x");
    struct timespec times[2] = {{1000 + i, 0}, {1000 + i, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, old.c_str(), times, 0), 0);
  }
  setenv("KIV_TEST_MAX_FILES", std::to_string(kLimit).c_str(), 1);
  // Every run queries a port that is in service mode, so every run keeps
  // its trace and tidies the directory; the adapter's state stays as it is.
  bench.sim({"port", "1L", "mode=on"});
  bench.sim({"port", "2L", "mode=on"});
  std::vector<kivtest::ChildResult> results(kRuns);
  std::vector<pid_t> pids;
  for (int i = 0; i < kRuns; ++i) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      kivtest::ChildResult r = bench.utility({"-a", "A0", "-p", i % 2 == 0 ? "1L" : "2L", "-q"});
      _exit(r.status == 1 && r.err == (i % 2 == 0 ? "Port 1 is in Service Mode\n" : "Port 3 is in Service Mode\n") ? 0 : 1);
    }
    pids.push_back(pid);
  }
  int failures = 0;
  for (pid_t pid : pids) {
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) ++failures;
  }
  unsetenv("KIV_TEST_MAX_FILES");
  EXPECT_EQ(failures, 0);

  // Every run made its two queries, and nothing else.
  std::vector<std::string> log = bench.log();
  long queries = std::count_if(log.begin(), log.end(), [](const std::string& l) {
    return l.starts_with("FN_ADAP_GetFCLoopMap ");
  });
  EXPECT_EQ(queries, 2 * kRuns);
  EXPECT_EQ(log.size(), static_cast<std::size_t>(2 * kRuns));
  EXPECT_EQ(std::count_if(log.begin(), log.end(), [](const std::string& l) { return l.starts_with("malformed"); }), 0);
  EXPECT_EQ(bench.simRaw({"show"}).status, 0);

  // Left: the ten youngest of the old files and every run's trace,
  // compressed.
  std::vector<std::string> traces = bench.traces();
  EXPECT_EQ(traces.size(), static_cast<std::size_t>(kLimit));
  const auto firstOld = std::partition(traces.begin(), traces.end(), [](const std::string& t) {
    return !t.starts_with("kivservicemode.old");
  });
  std::vector<std::string> expectedOld;
  for (int i = 20 + kRuns; i < kLimit + 20; ++i) expectedOld.push_back("kivservicemode.old" + std::to_string(100 + i) + ".gz");
  EXPECT_EQ(std::vector<std::string>(firstOld, traces.end()), expectedOld);
  EXPECT_EQ(firstOld - traces.begin(), kRuns);
  for (auto t = traces.begin(); t != firstOld; ++t) EXPECT_TRUE(t->ends_with(".gz")) << *t;
}

}  // namespace
