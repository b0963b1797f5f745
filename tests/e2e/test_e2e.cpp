// The utility against the simulated adapter, where its flow meets the
// adapter's own rules (the flow itself is tested against the fake library
// in tests/servicemode): staged through kivadapsim, checked by standard
// error, exit status, the adapter's request log and what is left in the
// trace directory.
#include <fcntl.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "e2e.h"

namespace {

std::string Q(int port, int rc) {
  return "FN_ADAP_GetFCLoopMap port=" + std::to_string(port) + " rc=" + std::to_string(rc);
}
std::string M(int port, int value, int rc) {
  return "FN_ADAP_ServiceMode port=" + std::to_string(port) + " value=" + std::to_string(value) +
         " rc=" + std::to_string(rc);
}

using Words = std::vector<std::string>;

struct OutcomeCase {
  const char* name;
  std::vector<Words> stage;  // kivadapsim commands before the run
  Words args;
  std::vector<std::string> log;
  std::string err;
  int status;
  bool traceKept;
};

// Test lists show the case's name, not its bytes.
void PrintTo(const OutcomeCase& c, std::ostream* os) { *os << c.name; }

class Outcome : public ::testing::TestWithParam<OutcomeCase> {};

TEST_P(Outcome, StagedThroughTheSimulator) {
  const OutcomeCase& c = GetParam();
  e2e::Bench bench;
  for (const Words& w : c.stage) bench.sim(w);
  kivtest::ChildResult r = bench.utility(c.args);
  EXPECT_EQ(r.err, c.err);
  EXPECT_EQ(r.status, c.status);
  EXPECT_EQ(bench.log(), c.log);
  std::vector<std::string> traces = bench.traces();
  if (c.traceKept) {
    ASSERT_EQ(traces.size(), 1u);
    EXPECT_TRUE(traces[0].starts_with("kivservicemode.")) << traces[0];
    EXPECT_TRUE(traces[0].ends_with(".gz")) << traces[0];
  } else {
    EXPECT_TRUE(traces.empty()) << traces.size();
  }
}

const Words kQuery{"-a", "A0", "-p", "1L", "-q"};
const Words kEnable{"-a", "A0", "-p", "1L", "-y"};

INSTANTIATE_TEST_SUITE_P(
    Table, Outcome,
    ::testing::Values(
        OutcomeCase{"QueryBothOutLeavesNoTrace", {}, kQuery, {Q(1, 0), Q(2, 0)}, "Port 1 is not in Service Mode\n", 0,
                    false},
        OutcomeCase{"QueryClearTestFindsServiceMode", {{"port", "1L", "mode=on", "query=AE_LoopDown"}}, kQuery,
                    {Q(1, -689), Q(2, 0), M(1, 0, 0), M(1, 1, 0)}, "Port 1 is in Service Mode\n", 1, true},
        OutcomeCase{"QueryIllegalClear", {{"port", "1L", "query=-689"}}, kQuery, {Q(1, -689), Q(2, 0), M(1, 0, -8)},
                    "Port 1 is not in Service Mode\n", 0, false},
        // The re-set of the clear test never reaches the adapter: the port
        // is left out of service mode, and no run may say otherwise.
        OutcomeCase{"QueryClearTestResetFails",
                    {{"port", "2L", "mode=on", "loop=down"}, {"fault", "send", "after=3"}},
                    {"-a", "A0", "-p", "2L", "-q"},
                    {Q(3, -689), Q(4, 0), M(3, 0, 0), "FN_ADAP_ServiceMode port=3 value=1 executed=no fault=send"},
                    "Query Service Mode failed, rc=FFFFFFFD\n", 47, true},
        OutcomeCase{"EnableClearTestResetFails",
                    {{"port", "2L", "mode=on", "loop=down"}, {"fault", "send", "after=3"}},
                    {"-a", "A0", "-p", "2L", "-y"},
                    {Q(3, -689), Q(4, 0), M(3, 0, 0), "FN_ADAP_ServiceMode port=3 value=1 executed=no fault=send",
                     M(3, 1, 0)},
                    "Service Mode 1 to port 3 success\n", 0, true},
        OutcomeCase{"EnableClearsPartnerFirst", {{"port", "2R", "mode=on"}}, {"-a", "A0", "-p", "2L", "-y"},
                    {Q(3, 0), Q(4, 0), M(4, 0, 0), M(3, 1, 0)}, "Service Mode 1 to port 3 success\n", 0, true},
        OutcomeCase{"LibraryCannotOpen", {{"fault", "open", "always"}}, kQuery,
                    {"niCIOpen fault=open", "niCIOpen fault=open", "niCIOpen fault=open"},
                    "Query Service Mode failed, rc=FFFFFFFD\n", 47, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(EndToEnd, StateIsKeptFromOneRunToTheNext) {
  e2e::Bench bench;
  EXPECT_EQ(bench.utility(kEnable).status, 0);
  kivtest::ChildResult r = bench.utility(kQuery);
  EXPECT_EQ(r.err, "Port 1 is in Service Mode\n");
  EXPECT_EQ(r.status, 1);
  r = bench.utility({"-a", "A0", "-p", "1R", "-y"});
  EXPECT_EQ(r.err, "Service Mode 1 to port 2 success\n");
  r = bench.utility(kQuery);
  EXPECT_EQ(r.err, "Port 1 is not in Service Mode\n");
}

TEST(EndToEnd, DeletedQueryTraceLeavesStaleFilesUntouched) {
  e2e::Bench bench;
  const std::string stale = bench.traceDir() + "/kivservicemode.stale";
  kivtest::writeFile(stale, "old trace");
  struct timespec times[2] = {{1000000000, 0}, {1000000000, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, stale.c_str(), times, 0), 0);
  bench.utility(kQuery);
  EXPECT_EQ(bench.traces(), std::vector<std::string>{"kivservicemode.stale"});
  // A kept trace tidies the directory: the stale file is compressed too.
  bench.sim({"port", "1L", "mode=on"});
  bench.utility(kQuery);
  std::vector<std::string> traces = bench.traces();
  ASSERT_EQ(traces.size(), 2u);
  EXPECT_EQ(traces[1], "kivservicemode.stale.gz");
}

}  // namespace
