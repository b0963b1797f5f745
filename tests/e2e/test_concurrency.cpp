// Many runs at once against one simulated adapter and one trace directory.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "e2e.h"

namespace {

TEST(Concurrency, FiftyRunsAtOnceLoseNothing) {
  e2e::Bench bench;
  constexpr int kRuns = 50;
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
  EXPECT_EQ(failures, 0);

  // Every run made its two queries, and each change it made is in the log.
  std::vector<std::string> log = bench.log();
  long queries = std::count_if(log.begin(), log.end(), [](const std::string& l) {
    return l.starts_with("FN_ADAP_GetFCLoopMap ");
  });
  EXPECT_EQ(queries, 2 * kRuns);
  EXPECT_EQ(std::count_if(log.begin(), log.end(), [](const std::string& l) { return l.starts_with("malformed"); }), 0);
  EXPECT_EQ(bench.simRaw({"show"}).status, 0);

  // Every run kept its trace, compressed.
  std::vector<std::string> traces = bench.traces();
  EXPECT_EQ(traces.size(), static_cast<std::size_t>(kRuns));
  for (const auto& t : traces) EXPECT_TRUE(t.ends_with(".gz")) << t;
}

}  // namespace
