// The driver of the simulated adapter for tests.
#include "kivsim.h"

#include <sys/stat.h>

#include <sstream>

#include <gtest/gtest.h>

namespace kivtest {

Sim::Sim() : tmp_(TempDir::InMemory), state_(tmp_.file("adapter.state")), traceDir_(tmp_.file("kivcfg")) {
  mkdir(traceDir_.c_str(), 0755);
  sim({"reset"});
}

ChildResult Sim::program(const std::string& path, const std::vector<std::string>& argv) {
  return runProgram(path, argv, {{"KIVADAPSIM_STATE", state_}, {"KIV_TEST_TRACE_DIR", traceDir_}});
}

ChildResult Sim::simRaw(const std::vector<std::string>& words) {
  std::vector<std::string> argv{"kivadapsim"};
  argv.insert(argv.end(), words.begin(), words.end());
  return program(KIVADAPSIM_PATH, argv);
}

std::string Sim::sim(const std::vector<std::string>& words) {
  const ChildResult r = simRaw(words);
  std::string line;
  for (const std::string& w : words) line += w + " ";
  EXPECT_EQ(r.status, 0) << "kivadapsim " << line << ": " << r.err;
  return r.out;
}

ChildResult Sim::utility(const std::vector<std::string>& args, const std::string& argv0) {
  std::vector<std::string> argv{argv0};
  argv.insert(argv.end(), args.begin(), args.end());
  return program(KIV_UTILITY_PATH, argv);
}

std::vector<std::string> Sim::log() {
  std::istringstream in(sim({"log"}));
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

nicisim::State Sim::state() {
  nicisim::State s;
  std::string why;
  EXPECT_TRUE(nicisim::parse(readFile(state_), s, why)) << why;
  return s;
}

std::string modes(const nicisim::State& s) {
  std::string m;
  for (const nicisim::Port& p : s.ports) m += p.serviceMode ? '1' : '0';
  return m;
}

void Sim::setState(const nicisim::State& s) { writeFile(state_, nicisim::serialize(s)); }

}  // namespace kivtest
