// Every fault kind of the simulated library at every request position of a
// run, for a query, an enable and a disable, from every starting state of
// the own port (in or out of service mode, its partner in it, loop up or
// down). The matrix is generated, not listed: a run without a fault gives
// the number of requests, and each kind is then staged at each of them.
// Whatever happens, the run must end with one line and its status, and
// must never claim a state the adapter is not in.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <ostream>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "e2e.h"

namespace {

using Words = std::vector<std::string>;

// One row per fault kind: its name and the words that stage it besides
// after=K. A kind the simulator gains needs a row here and nothing else.
struct FaultKind {
  const char* name;
  Words words;
};
const FaultKind kFaultKinds[] = {
    {"open", {}},
    {"send", {"errno=16"}},
    {"send-answered", {"errno=4"}},
    {"send-answered", {"errno=4", "executed=yes"}},
    {"close", {}},
    {"directive", {"value=244"}},
    {"directive", {"value=244", "executed=yes"}},
    {"network", {"value=7"}},
    {"network", {"value=7", "executed=yes"}},
    {"replystatus", {"value=3"}},
    {"resultbyte", {"value=9"}},
    {"resultbyte", {"value=9", "executed=yes"}},
    {"short", {"value=200"}},
    {"short", {"value=8"}},
    {"noanswer", {}},
};

enum Action { kQuery, kEnable, kDisable };
const char* const kActionFlags[] = {"-q", "-y", "-n"};
const char* const kActionNames[] = {"Query", "Enable", "Disable"};

// The own port is 2L (3), its partner 2R (4); both pairs start as given.
constexpr int kOwn = 3;
struct Start {
  const char* name;
  bool ownIn;
  bool partnerIn;
  bool loopUp;
};
const Start kStarts[] = {
    {"OwnInLoopUp", true, false, true},      {"OwnInLoopDown", true, false, false},
    {"BothOutLoopUp", false, false, true},   {"BothOutLoopDown", false, false, false},
    {"PartnerInLoopUp", false, true, true},  {"PartnerInLoopDown", false, true, false},
};

struct MatrixCase {
  Action action;
  const Start* start;
};

void PrintTo(const MatrixCase& c, std::ostream* os) { *os << kActionNames[c.action] << "_" << c.start->name; }

void stage(e2e::Bench& bench, const Start& start) {
  bench.sim({"reset"});
  bench.sim({"port", "2L", start.ownIn ? "mode=on" : "mode=off", start.loopUp ? "loop=up" : "loop=down"});
  if (start.partnerIn) bench.sim({"port", "2R", "mode=on"});
}

std::array<bool, nicisim::kPorts> serviceModes(const nicisim::State& s) {
  std::array<bool, nicisim::kPorts> modes{};
  for (std::size_t i = 0; i < modes.size(); ++i) modes[i] = s.ports[i].serviceMode;
  return modes;
}

// The lines a run may end with, the status each carries, and the state of
// the own port (3) each claims: 1 in service mode, 0 not, -1 nothing.
struct Line {
  std::regex text;
  int status;
  int claims;
};
std::vector<Line> linesOf(Action a) {
  if (a == kQuery) {
    return {{std::regex("Port 3 is in Service Mode\n"), 1, 1},
            {std::regex("Port 3 is not in Service Mode\n"), 0, 0},
            {std::regex("Query Service Mode failed, rc=[0-9A-F]{1,8}\n"), 47, -1}};
  }
  const std::string v = a == kEnable ? "1" : "0";
  return {{std::regex("Service Mode " + v + " to port 3 success\n"), 0, a == kEnable ? 1 : 0},
          {std::regex("Service Mode " + v + " to port 3 failed, rc=[0-9A-F]{1,8}\n"), 47, -1}};
}

void checkRun(Action a, const kivtest::ChildResult& r, const nicisim::State& before, const nicisim::State& after) {
  const std::vector<Line> lines = linesOf(a);
  const auto line = std::find_if(lines.begin(), lines.end(), [&](const Line& l) { return std::regex_match(r.err, l.text); });
  ASSERT_NE(line, lines.end()) << "not one line of this action: " << r.err;
  EXPECT_EQ(r.status, line->status) << r.err;
  EXPECT_EQ(r.out, "");
  if (line->claims != -1) {
    EXPECT_EQ(after.ports[kOwn - 1].serviceMode, line->claims == 1) << r.err;
  }
  if (a == kQuery && line->status != 47) {
    EXPECT_EQ(serviceModes(after), serviceModes(before)) << "a query that reports no failure changed a port";
  }
}

class FaultMatrix : public ::testing::TestWithParam<MatrixCase> {};

// The starting state is staged once through kivadapsim, each kind once at
// the first request; the request it hits is then moved in the state itself,
// so that each case costs one run of the utility.
TEST_P(FaultMatrix, EveryKindAtEveryRequestOneHonestLine) {
  const MatrixCase& c = GetParam();
  const Words args{"-a", "A0", "-p", "2L", kActionFlags[c.action]};
  e2e::Bench bench;
  stage(bench, *c.start);
  const nicisim::State before = bench.state();
  const std::size_t logged = bench.log().size();
  const kivtest::ChildResult clean = bench.utility(args);
  const nicisim::State after = bench.state();
  checkRun(c.action, clean, before, after);
  const std::size_t requests = bench.log().size() - logged;
  ASSERT_GE(requests, 2u);

  std::set<std::string> tabled;
  for (const FaultKind& f : kFaultKinds) {
    tabled.insert(f.name);
    const auto kind = static_cast<std::size_t>(
        std::find_if(nicisim::kFaultKindInfo.begin(), nicisim::kFaultKindInfo.end(),
                     [&](const nicisim::FaultKindInfo& k) { return std::string(k.name) == f.name; }) -
        nicisim::kFaultKindInfo.begin());
    ASSERT_LT(kind, nicisim::kFaultKindInfo.size()) << f.name;
    bench.setState(before);
    Words fault{"fault", f.name, "after=0"};
    fault.insert(fault.end(), f.words.begin(), f.words.end());
    bench.sim(fault);
    nicisim::State staged = bench.state();
    for (std::size_t k = 0; k < requests; ++k) {
      SCOPED_TRACE(std::string(f.name) + " at request " + std::to_string(k + 1));
      staged.faults[kind].after = static_cast<std::int64_t>(k);
      bench.setState(staged);
      const kivtest::ChildResult r = bench.utility(args);
      const nicisim::State faulted = bench.state();
      EXPECT_EQ(faulted.faults[kind].count, 0) << "the fault did not fire";
      checkRun(c.action, r, before, faulted);
    }
  }
  for (const nicisim::FaultKindInfo& k : nicisim::kFaultKindInfo) EXPECT_EQ(tabled.count(k.name), 1u) << k.name << " has no row";
}

std::vector<MatrixCase> allCases() {
  std::vector<MatrixCase> cases;
  for (Action a : {kQuery, kEnable, kDisable})
    for (const Start& s : kStarts) cases.push_back({a, &s});
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Generated, FaultMatrix, ::testing::ValuesIn(allCases()), [](const auto& info) {
  return std::string(kActionNames[info.param.action]) + "_" + info.param.start->name;
});

}  // namespace
