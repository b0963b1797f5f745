// Every fault of the simulated library, for a query, an enable and a
// disable, hitting in turn the own query, the partner query, the clear test
// and the change. A fault either leaves the request's answer usable (a
// failed close, a reply status), keeps the request from the adapter (open,
// send, and by default send-answered, directive and network), or spoils the
// answer of a request the adapter carried out (those three with
// executed=yes).
#include <gtest/gtest.h>

#include <array>
#include <ostream>
#include <string>
#include <vector>

#include "e2e.h"

namespace {

enum Mode { kQ, kY, kN };
enum Target { kOwn, kPartner, kClear, kChange };
enum Effect { kHarmless, kUndelivered, kSpoilt, kEffects };

struct FaultKind {
  const char* name;
  std::vector<std::string> extra;
  Effect effect;
};
const FaultKind kFaults[] = {
    {"open", {}, kUndelivered},
    {"send", {"errno=16"}, kUndelivered},
    {"send-answered", {"errno=4"}, kUndelivered},
    {"send-answered", {"errno=4", "executed=yes"}, kSpoilt},
    {"close", {}, kHarmless},
    {"directive", {"value=244"}, kUndelivered},
    {"directive", {"value=244", "executed=yes"}, kSpoilt},
    {"network", {"value=7"}, kUndelivered},
    {"network", {"value=7", "executed=yes"}, kSpoilt},
    {"replystatus", {"value=3"}, kHarmless},
};

struct Expect {
  const char* err;
  int status;
  bool traceKept;
  bool portInServiceMode;  // port 1L once the run is over
};

const char* const kNotIn = "Port 1 is not in Service Mode\n";
const char* const kQueryFailed = "Query Service Mode failed, rc=FFFFFD4F\n";
const char* const kSetOk = "Service Mode 1 to port 1 success\n";
const char* const kSetFailed = "Service Mode 1 to port 1 failed, rc=FFFFFFFD\n";
const char* const kClearOk = "Service Mode 0 to port 1 success\n";
const char* const kClearFailed = "Service Mode 0 to port 1 failed, rc=FFFFFFFD\n";
const char* const kClearIllegal = "Service Mode 0 to port 1 failed, rc=FFFFFFF8\n";

// The outcome by effect: harmless, undelivered, spoilt. A disable starts
// with port 1L in service mode, the others with every port out of it; the
// clear-test rows make the own query answer AE_LoopDown.
struct Row {
  Mode mode;
  Target target;
  std::array<Expect, kEffects> expect;
};
const Row kRows[] = {
    // A failed own query is settled by the clear test, which finds the port
    // not in service mode; a failed partner query counts as flag 0.
    {kQ, kOwn, {{{kNotIn, 0, false, false}, {kNotIn, 0, false, false}, {kNotIn, 0, false, false}}}},
    {kQ, kPartner, {{{kNotIn, 0, false, false}, {kNotIn, 0, false, false}, {kNotIn, 0, false, false}}}},
    // A clear test that never reached the adapter settles nothing; a spoilt
    // one still carries the adapter's AE_IllegalRequest.
    {kQ, kClear, {{{kNotIn, 0, false, false}, {kQueryFailed, 47, true, false}, {kNotIn, 0, false, false}}}},
    {kY, kOwn, {{{kSetOk, 0, true, true}, {kSetOk, 0, true, true}, {kSetOk, 0, true, true}}}},
    {kY, kPartner, {{{kSetOk, 0, true, true}, {kSetOk, 0, true, true}, {kSetOk, 0, true, true}}}},
    {kY, kClear, {{{kSetOk, 0, true, true}, {kSetOk, 0, true, true}, {kSetOk, 0, true, true}}}},
    // A spoilt change was carried out, yet it is reported as failed: the
    // utility cannot know, and never claims a success it did not see.
    {kY, kChange, {{{kSetOk, 0, true, true}, {kSetFailed, 47, true, false}, {kSetFailed, 47, true, true}}}},
    {kN, kOwn, {{{kClearOk, 0, true, false}, {kClearOk, 0, true, false}, {kClearOk, 0, true, false}}}},
    {kN, kPartner, {{{kClearOk, 0, true, false}, {kClearOk, 0, true, false}, {kClearOk, 0, true, false}}}},
    // A spoilt clear test did clear the port, so the disable that follows
    // is refused.
    {kN, kClear, {{{kClearOk, 0, true, false}, {kClearOk, 0, true, false}, {kClearIllegal, 47, true, false}}}},
    {kN, kChange, {{{kClearOk, 0, true, false}, {kClearFailed, 47, true, true}, {kClearFailed, 47, true, false}}}},
};

struct MatrixCase {
  const FaultKind* fault;
  const Row* row;
};

void PrintTo(const MatrixCase& c, std::ostream* os) { *os << c.fault->name; }

std::vector<MatrixCase> allCases() {
  std::vector<MatrixCase> cases;
  for (const FaultKind& f : kFaults)
    for (const Row& r : kRows) cases.push_back({&f, &r});
  return cases;
}

std::string caseName(const MatrixCase& c) {
  static const char* const modes[] = {"Query", "Enable", "Disable"};
  static const char* const targets[] = {"OwnQuery", "PartnerQuery", "ClearTest", "Change"};
  std::string name;
  for (const char* p = c.fault->name; *p != '\0'; ++p)
    if (*p != '-') name += *p;
  if (c.fault->effect == kSpoilt) name += "Executed";
  return name + "_" + modes[c.row->mode] + "_" + targets[c.row->target];
}

class FaultMatrix : public ::testing::TestWithParam<MatrixCase> {};

TEST_P(FaultMatrix, OneLineHonestStatusTraceKeptStateReadable) {
  const FaultKind& f = *GetParam().fault;
  const Row& row = *GetParam().row;
  const Expect& expect = row.expect[f.effect];
  e2e::Bench bench;
  if (row.mode == kN) bench.sim({"port", "1L", "mode=on"});
  if (row.target == kClear) bench.sim({"port", "1L", "query=AE_LoopDown"});
  // Requests of a run: own query, partner query, then the clear test or the
  // change; after=K lets the first K pass.
  const int after = row.target == kOwn ? 0 : row.target == kPartner ? 1 : 2;
  std::vector<std::string> fault{"fault", f.name, "after=" + std::to_string(after)};
  fault.insert(fault.end(), f.extra.begin(), f.extra.end());
  bench.sim(fault);

  static const char* const flags[] = {"-q", "-y", "-n"};
  kivtest::ChildResult r = bench.utility({"-a", "A0", "-p", "1L", flags[row.mode]});
  EXPECT_EQ(r.err, expect.err);
  EXPECT_EQ(r.status, expect.status);
  EXPECT_TRUE(r.out.empty()) << r.out;

  std::vector<std::string> traces = bench.traces();
  if (expect.traceKept) {
    ASSERT_EQ(traces.size(), 1u);
    EXPECT_TRUE(traces[0].starts_with("kivservicemode.") && traces[0].ends_with(".gz")) << traces[0];
  } else {
    EXPECT_TRUE(traces.empty()) << traces.size();
  }

  kivtest::ChildResult show = bench.simRaw({"show"});
  ASSERT_EQ(show.status, 0) << show.err;
  const std::string port = std::string("port 1L (1): service mode ") + (expect.portInServiceMode ? "on" : "off");
  EXPECT_NE(show.out.find(port), std::string::npos) << show.out;
  // The fault fired: no run may pass a staged fault by unnoticed.
  EXPECT_NE(show.out.find(std::string("fault ") + f.name + ": off"), std::string::npos) << show.out;
}

INSTANTIATE_TEST_SUITE_P(Matrix, FaultMatrix, ::testing::ValuesIn(allCases()),
                         [](const auto& info) { return caseName(info.param); });

}  // namespace
