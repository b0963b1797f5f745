// The utility against the simulated adapter, for what only it shows: runs
// in turn on one adapter (its rules, the trace directory, the state kept
// from one run to the next), every fault kind at every request position,
// and runs at the same time.
#include <fcntl.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <thread>

#include <nlohmann/json.hpp>

#include "kivsim.h"

namespace {

using namespace kivtest;

// The log lines of a loop-map query of port p and a service-mode request of p to v, each answered 0.
std::string Q(int p) { return "FN_ADAP_GetFCLoopMap port=" + std::to_string(p) + " rc=0"; }
std::string M(int p, int v) { return "FN_ADAP_ServiceMode port=" + std::to_string(p) + " value=" + std::to_string(v) + " rc=0"; }
// The names in a folder, each with its digits as N, after a blank.
std::string names(const std::string& dir) {
  std::string all;
  for (const std::string& name : listDir(dir)) all.append(" ").append(std::regex_replace(name, std::regex("[0-9]+"), "N"));
  return all;
}
// Files made long ago in the trace directory, the first the oldest.
void oldFiles(Sim& sim, const Words& names) {
  for (std::size_t i = 0; i < names.size(); ++i) {
    const timespec when[2] = {{static_cast<time_t>(1000 + i), 0}, {static_cast<time_t>(1000 + i), 0}};
    writeFile(sim.traceDir() + "/" + names[i], "old");
    ASSERT_EQ(utimensat(AT_FDCWD, (sim.traceDir() + "/" + names[i]).c_str(), when, 0), 0);
  }
}

// Runs in turn on one adapter, each after the staging it names: its line and
// status, the requests the adapter saw, and the trace directory after it. A
// query that finds both ports out deletes its trace and leaves an old file
// alone; a kept trace is compressed, and so is the old file.
TEST(EndToEnd, RunsInTurnOnOneAdapter) {
  Sim sim;
  oldFiles(sim, {"kivservicemode.old"});
  const std::string open = "niCIOpen fault=open", kept = " kivservicemode.N.N.gz";
  const struct { Words stage; std::string port, action, err; int status; Words log; std::string traces; } runs[] = {
      {{}, "1L", "-q", "Port 1 is not in Service Mode\n", 0, {Q(1), Q(2)}, ""},
      {{}, "1R", "-y", "Service Mode 1 to port 2 success\n", 0, {Q(2), Q(1), M(2, 1)}, kept},
      {{}, "1L", "-y", "Service Mode 1 to port 1 success\n", 0, {Q(1), Q(2), M(2, 0), M(1, 1)}, kept + kept},  // 2 cleared first
      {{}, "1L", "-q", "Port 1 is in Service Mode\n", 1, {Q(1), Q(2)}, kept + kept + kept},
      {{"fault", "open", "always"}, "2R", "-q", "Query Service Mode failed, rc=FFFFFFFD\n", 47, {open, open, open},
       kept + kept + kept + kept},
  };
  for (const auto& run : runs) {
    sim.sim({"log", "clear"});
    if (!run.stage.empty()) sim.sim(run.stage);
    const ChildResult r = sim.utility({"-a", "A0", "-p", run.port, run.action});
    EXPECT_EQ(r.err + std::to_string(r.status), run.err + std::to_string(run.status));
    EXPECT_EQ(sim.log(), run.log) << run.err;
    EXPECT_EQ(names(sim.traceDir()), run.traces + (run.traces.empty() ? " kivservicemode.old" : " kivservicemode.old.gz"));
  }
}

// This run's requests in the adapter's log, read here: one line each, a
// failed open standing for the request it kept from the adapter.
Words requestsLogged(int pid) {
  std::string why;
  Words lines;
  for (const nicisim::LogLine& l : nicisim::readLog(why))
    if (l.pid == std::to_string(pid) && (l.line.starts_with("FN_ADAP_") || l.line == "niCIOpen fault=open")) lines.push_back(l.line);
  return lines;
}

// The JSON report of a --json run: its line and status; every request the
// adapter saw, in order, with the adapter's result where nothing spoilt the
// answer; each port read as the adapter held it; and never "unchanged" when
// a port changed, exactly "changed" when no fault could hide the outcome.
void checkReport(const ChildResult& r, const nicisim::State& before, const nicisim::State& after, bool clean) {
  const nlohmann::json doc = nlohmann::json::parse(r.out, nullptr, false);
  ASSERT_TRUE(doc.is_object()) << r.out;
  EXPECT_EQ(doc["result_line"].get<std::string>() + "\n" + doc["exit_status"].dump(), r.err + std::to_string(r.status));
  const Words logged = requestsLogged(r.pid);
  ASSERT_EQ(doc["requests"].size(), logged.size()) << r.out;
  for (std::size_t i = 0; i < logged.size(); ++i) {
    const nlohmann::json& q = doc["requests"][i];
    std::string want = q["transaction"].get<std::string>() + " port=" + q["port"]["number"].dump();
    if (q.contains("value")) want += " value=" + q["value"].dump();
    if (q["exchange_code"] == 10) want = "niCIOpen fault=open";
    else if (logged[i].find(" fault=") == std::string::npos) want += " rc=" + q["result"].dump();
    EXPECT_TRUE(logged[i].starts_with(want)) << logged[i] << " is not " << want;
  }
  for (const auto& [key, port] : {std::pair{"port", 2}, std::pair{"partner", 3}}) {
    if (!doc["service_mode"][key].is_null()) {
      EXPECT_EQ(doc["service_mode"][key], before.ports[port].serviceMode) << key;
    }
  }
  const bool changed = modes(after) != modes(before);
  if (changed || clean) {
    EXPECT_EQ(doc["changed"], changed) << r.out;
  }
}

// The one line a run may end with, of its action, and that line's status; a
// claim of port 3's state must be the adapter's, and a query that reports
// no failure changes no port.
void checkRun(char action, const ChildResult& r, const nicisim::State& before, const nicisim::State& after, bool clean = false) {
  const bool in = after.ports[2].serviceMode;
  const std::string v = action == 'y' ? "1" : "0";
  const std::string failed = (action == 'q' ? std::string("Query Service Mode") : "Service Mode " + v + " to port 3") + " failed, rc=";
  checkReport(r, before, after, clean);
  if (r.err.starts_with(failed)) {
    EXPECT_TRUE(std::regex_match(r.err.substr(failed.size()), std::regex("[0-9A-F]{1,8}\n")) && r.status == 47) << r.err;
  } else if (action == 'q') {
    EXPECT_EQ(r.err + std::to_string(r.status), in ? "Port 3 is in Service Mode\n1" : "Port 3 is not in Service Mode\n0");
    EXPECT_EQ(modes(after), modes(before)) << r.err;
  } else {
    EXPECT_EQ(r.err + std::to_string(r.status), "Service Mode " + v + " to port 3 success\n0");
    EXPECT_EQ(in, action == 'y') << r.err;
  }
}

// Each fault kind of the simulator, carried out or not where it may be, at
// each request of a query (q), an enable (y) and a disable (n) of port 2L
// (3), from each state of its pair: the own port in or out of service mode,
// its partner in it, the loop up or down. A run without a fault counts the
// requests. Every run reports in JSON too.
const char* const kStarts[] = {"InLoopUp", "InLoopDown", "OutLoopUp", "OutLoopDown", "PartnerInLoopUp", "PartnerInLoopDown"};
class FaultMatrix : public ::testing::TestWithParam<std::tuple<char, int>> {};

TEST_P(FaultMatrix, EveryKindAtEveryRequestOneHonestLine) {
  const auto [action, start] = GetParam();
  Sim sim;
  nicisim::State before;
  before.ports[2].serviceMode = start < 2, before.ports[3].serviceMode = start >= 4, before.ports[2].loopUp = start % 2 == 0;
  sim.setState(before);
  const Words args{"-a", "A0", "-p", "2L", std::string("-") + action, "--json"};
  const ChildResult clean = sim.utility(args);
  checkRun(action, clean, before, sim.state(), true);
  const std::size_t requests = sim.log().size();
  for (std::size_t kind = 0; kind < nicisim::kFaultKinds; ++kind) {
    const nicisim::FaultKindInfo& info = nicisim::kFaultKindInfo[kind];
    for (bool executed : {false, true}) {
      // The adapter exchange does not read the reply status (the enclosure module does): an answer marked
      // invalid that was never carried out is not a fault the utility can see.
      const bool stages = info.takesExecuted ? kind != nicisim::kReplyStatus || executed : executed == info.executedByDefault;
      for (std::size_t k = 0; k < requests && stages; ++k) {
        SCOPED_TRACE(std::string(info.name) + (executed ? " executed" : "") + " at request " + std::to_string(k + 1));
        nicisim::State staged = before;
        staged.faults[kind] = {1, info.byDefault, static_cast<std::int64_t>(k), executed};
        sim.setState(staged);
        const ChildResult r = sim.utility(args);
        const nicisim::State after = sim.state();
        EXPECT_EQ(after.faults[kind].count, 0) << "the fault did not fire";
        checkRun(action, r, before, after);
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Generated, FaultMatrix, ::testing::Combine(::testing::Values('q', 'y', 'n'), ::testing::Range(0, 6)),
                         [](const auto& i) { return std::get<0>(i.param) + std::string("_") + kStarts[std::get<1>(i.param)]; });

// All four ports enabled at once, eight rounds: each run makes its two
// queries, the partner's clear when it read the partner in service mode,
// and its set, and its line agrees with the adapter's answer to the set;
// each pair ends with one port in service mode.
TEST(Concurrency, EnablesOfBothPortsOfAPair) {
  Sim sim;
  const char* const ports[] = {"1L", "1R", "2L", "2R"};
  for (int round = 0; round < 8; ++round) {
    sim.sim({"reset"});
    ChildResult runs[4];
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i) threads.emplace_back([&, i] { runs[i] = sim.utility({"-a", "A0", "-p", ports[i], "-y"}); });
    for (std::thread& t : threads) t.join();
    for (int own = 1; own <= 4; ++own) {
      const int partner = ((own - 1) ^ 1) + 1;
      const Words lines = sim.log(runs[own - 1].pid);  // this run's requests, in order
      ASSERT_GE(lines.size(), 3u) << sim.sim({"log", "pids"});
      const std::string rc = lines.back().substr(lines.back().rfind('=') + 1);
      Words want{Q(own), Q(partner), "FN_ADAP_ServiceMode port=" + std::to_string(own) + " value=1 rc=" + rc};
      if (lines.size() == 4) want.insert(want.begin() + 2, M(partner, 0));
      EXPECT_EQ(lines, want);
      EXPECT_EQ(runs[own - 1].err, "Service Mode 1 to port " + std::to_string(own) +
                                       (rc == "0" || rc == "1" ? " success\n" : " failed, rc=FFFFFFDE\n"));
    }
    const std::string m = modes(sim.state());
    EXPECT_TRUE((m[0] != m[1]) && (m[2] != m[3])) << m;
  }
}

// Fifty runs exit at once into a directory 20 files over its count limit:
// taking turns at the tidying, they delete exactly the excess, oldest first,
// and every run keeps its trace, compressed.
TEST(Concurrency, FiftyExitsDeleteOnlyTheExcess) {
  Sim sim;
  Words old, log, queries(50, Q(1));
  for (int i = 100; i < 180; ++i) old.push_back("kivservicemode.old" + std::to_string(i) + ".gz");
  oldFiles(sim, old);
  setenv("KIV_TEST_MAX_FILES", "60", 1);
  sim.sim({"port", "1L", "mode=on"});
  std::vector<ChildResult> runs(50);
  std::vector<std::thread> threads;
  for (ChildResult& r : runs) threads.emplace_back([&] { r = sim.utility({"-a", "A0", "-p", "1L", "-q"}); });
  for (std::thread& t : threads) t.join();
  for (const ChildResult& r : runs) EXPECT_EQ(r.err + std::to_string(r.status), "Port 1 is in Service Mode\n1");
  log = sim.log(), queries.resize(100, Q(2)), std::sort(log.begin(), log.end());
  EXPECT_EQ(log, queries);
  Words kept = listDir(sim.traceDir()), want(50, "kivservicemode.N.N.gz");
  for (std::string& t : kept) t = t.starts_with("kivservicemode.old") ? t : std::regex_replace(t, std::regex("[0-9]+"), "N");
  want.insert(want.end(), old.begin() + 70, old.end());
  EXPECT_EQ(kept, want);
}

}  // namespace
