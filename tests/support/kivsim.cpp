// The driver of the simulated adapter for tests.
#include "kivsim.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>

#include <gtest/gtest.h>

namespace kivtest {

Sim::Sim() : tmp_(TempDir::InMemory), state_(tmp_.file("adapter.state")), traceDir_(tmp_.file("kivcfg")) {
  mkdir(traceDir_.c_str(), 0755);
  setenv("KIVADAPSIM_STATE", state_.c_str(), 1);
  sim({"reset"});
}

ChildResult Sim::program(const std::string& path, const std::string& argv0, const Words& args) {
  Words argv{argv0};
  argv.insert(argv.end(), args.begin(), args.end());
  return runProgram(path, argv, {{"KIVADAPSIM_STATE", state_}, {"KIV_TEST_TRACE_DIR", traceDir_}});
}

ChildResult Sim::simRaw(const Words& words) { return program(KIVADAPSIM_PATH, "kivadapsim", words); }

ChildResult Sim::utility(const Words& args) { return program(KIV_UTILITY_PATH, "kivservicemode", args); }

std::string Sim::sim(const Words& words) {
  const ChildResult r = simRaw(words);
  EXPECT_EQ(r.status, 0) << "kivadapsim " << ::testing::PrintToString(words) << ": " << r.err;
  return r.out;
}

Words Sim::log(int pid) {
  std::istringstream in(sim(pid == 0 ? Words{"log"} : Words{"log", "pids"}));
  const std::string own = std::to_string(pid) + " ";
  Words lines;
  for (std::string line; std::getline(in, line);) {
    if (pid == 0 || line.starts_with(own)) lines.push_back(pid == 0 ? line : line.substr(own.size()));
  }
  return lines;
}

nicisim::State Sim::state() {
  nicisim::State s;
  std::string why;
  EXPECT_TRUE(nicisim::readState(s, why)) << why;
  return s;
}

std::string modes(const nicisim::State& s) {
  std::string m;
  for (const nicisim::Port& p : s.ports) m += p.serviceMode ? '1' : '0';
  return m;
}

// The one copy there is: no older or newer one beside it.
void Sim::setState(const nicisim::State& s) {
  unlink((state_ + ".alt").c_str());
  writeFile(state_, nicisim::serialize(s));
}

}  // namespace kivtest
