// Every fault kind of the simulated library at every request position of a
// run, for a query, an enable and a disable, from every starting state of
// the own port (in or out of service mode, its partner in it, loop up or
// down). The matrix is generated, not listed: a run without a fault gives
// the number of requests, and each kind is then staged at each of them.
// Whatever happens, the run must end with one line and its status, and
// must never claim a state the adapter is not in.
#include <gtest/gtest.h>

#include <array>
#include <cctype>
#include <optional>
#include <ostream>
#include <set>
#include <sstream>
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
    {"close", {}},
    {"directive", {"value=244"}},
    {"network", {"value=7"}},
    {"replystatus", {"value=3"}},
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

// The service-mode flags of ports 1 to 4 and the faults still armed, as
// kivadapsim shows them.
struct Shown {
  std::array<bool, 4> inServiceMode{};
  std::set<std::string> armedFaults;
  std::set<std::string> faultKinds;
};

Shown show(e2e::Bench& bench) {
  Shown s;
  std::istringstream in(bench.sim({"show"}));
  std::string line;
  while (std::getline(in, line)) {
    if (line.starts_with("port ") && line.size() > 10 && line[8] == '(') {
      s.inServiceMode[static_cast<std::size_t>(line[9] - '1')] = line.find("service mode on") != std::string::npos;
    } else if (line.starts_with("fault ")) {
      const std::string kind = line.substr(6, line.find(':') - 6);
      s.faultKinds.insert(kind);
      if (!line.starts_with("fault " + kind + ": off")) s.armedFaults.insert(kind);
    }
  }
  return s;
}

void stage(e2e::Bench& bench, const Start& start) {
  bench.sim({"reset"});
  bench.sim({"port", "2L", start.ownIn ? "mode=on" : "mode=off", start.loopUp ? "loop=up" : "loop=down"});
  if (start.partnerIn) bench.sim({"port", "2R", "mode=on"});
}

bool isFailureLine(const std::string& line, const std::string& prefix) {
  if (!line.starts_with(prefix) || line.size() < prefix.size() + 2 || !line.ends_with("\n")) return false;
  for (std::size_t i = prefix.size(); i + 1 < line.size(); ++i)
    if (!std::isxdigit(static_cast<unsigned char>(line[i])) || std::islower(static_cast<unsigned char>(line[i])))
      return false;
  return true;
}

// The one run and what it may claim: its status by its line, and the own
// port's state that the line asserts (none for a failure).
void checkRun(const MatrixCase& c, const kivtest::ChildResult& r, const Shown& before, const Shown& after) {
  const std::string own = std::to_string(kOwn);
  const std::string value = c.action == kEnable ? "1" : "0";
  int status = -1;
  std::optional<bool> claimsInServiceMode;
  if (c.action == kQuery) {
    if (r.err == "Port " + own + " is in Service Mode\n") {
      status = 1;
      claimsInServiceMode = true;
    } else if (r.err == "Port " + own + " is not in Service Mode\n") {
      status = 0;
      claimsInServiceMode = false;
    } else if (isFailureLine(r.err, "Query Service Mode failed, rc=")) {
      status = 47;
    }
  } else if (r.err == "Service Mode " + value + " to port " + own + " success\n") {
    status = 0;
    claimsInServiceMode = c.action == kEnable;
  } else if (isFailureLine(r.err, "Service Mode " + value + " to port " + own + " failed, rc=")) {
    status = 47;
  }
  ASSERT_NE(status, -1) << "not one line of this action: " << r.err;
  EXPECT_EQ(r.status, status) << r.err;
  EXPECT_EQ(r.out, "");
  if (claimsInServiceMode) {
    EXPECT_EQ(after.inServiceMode[kOwn - 1], *claimsInServiceMode) << r.err;
  }
  if (c.action == kQuery && status != 47) {
    EXPECT_EQ(after.inServiceMode, before.inServiceMode) << "a query that reports no failure changed a port";
  }
}

class FaultMatrix : public ::testing::TestWithParam<MatrixCase> {};

TEST_P(FaultMatrix, EveryKindAtEveryRequestOneHonestLine) {
  const MatrixCase& c = GetParam();
  const Words args{"-a", "A0", "-p", "2L", kActionFlags[c.action]};
  e2e::Bench bench;

  stage(bench, *c.start);
  const Shown before = show(bench);
  std::set<std::string> tabled;
  for (const FaultKind& f : kFaultKinds) tabled.insert(f.name);
  EXPECT_EQ(tabled, before.faultKinds) << "every fault kind of the simulator has one row";
  {
    SCOPED_TRACE("no fault");
    const kivtest::ChildResult r = bench.utility(args);
    checkRun(c, r, before, show(bench));
  }
  const std::size_t requests = bench.log().size();
  ASSERT_GE(requests, 2u);

  for (const FaultKind& f : kFaultKinds) {
    for (std::size_t k = 0; k < requests; ++k) {
      SCOPED_TRACE(std::string(f.name) + " at request " + std::to_string(k + 1));
      stage(bench, *c.start);
      Words fault{"fault", f.name, "after=" + std::to_string(k)};
      fault.insert(fault.end(), f.words.begin(), f.words.end());
      bench.sim(fault);
      const kivtest::ChildResult r = bench.utility(args);
      const Shown after = show(bench);
      EXPECT_TRUE(after.armedFaults.empty()) << "the fault did not fire";
      checkRun(c, r, before, after);
    }
  }
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
