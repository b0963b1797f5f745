#include "e2e.h"

#include <sys/stat.h>

#include <sstream>

#include <gtest/gtest.h>

namespace e2e {

// The simulator syncs its state file at every request.
Bench::Bench()
    : tmp_(kivtest::TempDir::InMemory), state_(tmp_.file("adapter.state")), traceDir_(tmp_.file("kivcfg")) {
  mkdir(traceDir_.c_str(), 0755);
  sim({"reset"});
}

kivtest::ChildResult Bench::simRaw(const std::vector<std::string>& words) {
  std::vector<std::string> argv{"kivadapsim"};
  argv.insert(argv.end(), words.begin(), words.end());
  return kivtest::runProgram(KIVADAPSIM_PATH, argv, {{"KIVADAPSIM_STATE", state_}});
}

std::string Bench::sim(const std::vector<std::string>& words) {
  kivtest::ChildResult r = simRaw(words);
  std::string line;
  for (const auto& w : words) line += w + " ";
  EXPECT_EQ(r.status, 0) << "kivadapsim " << line << ": " << r.err;
  return r.out;
}

kivtest::ChildResult Bench::utility(const std::vector<std::string>& args, const std::string& argv0) {
  std::vector<std::string> argv{argv0};
  argv.insert(argv.end(), args.begin(), args.end());
  return kivtest::runProgram(KIV_UTILITY_PATH, argv,
                             {{"KIVADAPSIM_STATE", state_}, {"KIV_TEST_TRACE_DIR", traceDir_}});
}

std::vector<std::string> Bench::log() {
  std::istringstream in(sim({"log"}));
  std::vector<std::string> lines;
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

nicisim::State Bench::state() {
  nicisim::State s;
  std::string why;
  EXPECT_TRUE(nicisim::parse(kivtest::readFile(state_), s, why)) << why;
  return s;
}

void Bench::setState(const nicisim::State& s) { kivtest::writeFile(state_, nicisim::serialize(s)); }

}  // namespace e2e
