// Many runs at once against one simulated adapter and one trace directory.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "e2e.h"

namespace {

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
  // Runs on ports 1L and 2L alternate between enabling and disabling, so
  // every run changes or reads state and keeps its trace.
  std::vector<kivtest::ChildResult> results(kRuns);
  std::vector<pid_t> pids;
  for (int i = 0; i < kRuns; ++i) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      const char* port = i % 2 == 0 ? "1L" : "2L";
      const char* action = (i / 2) % 2 == 0 ? "-y" : "-n";
      kivtest::ChildResult r = bench.utility({"-a", "A0", "-p", port, action});
      _exit(r.status);
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

  // Every run made its two queries, and each change it made is in the log.
  std::vector<std::string> log = bench.log();
  long queries = std::count_if(log.begin(), log.end(), [](const std::string& l) {
    return l.starts_with("FN_ADAP_GetFCLoopMap ");
  });
  EXPECT_EQ(queries, 2 * kRuns);
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
