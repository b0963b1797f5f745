// The driver of the simulated adapter for tests: a state file and a trace
// directory of the test's own, kivadapsim to stage and read the adapter,
// and runs of the utility (a test copy that traces into that directory)
// against it.
#ifndef KIV_TESTS_SUPPORT_KIVSIM_H
#define KIV_TESTS_SUPPORT_KIVSIM_H

#include <string>
#include <vector>

#include "kivtestsupport.h"
#include "nicisim/nicisim.h"

namespace kivtest {

using Words = std::vector<std::string>;

// The ports' service-mode flags, "1000" when only port 1 is in service mode.
std::string modes(const nicisim::State& s);

class Sim {
 public:
  // Also points this process's own library calls at the new state file.
  Sim();
  // kivadapsim with the given words; fails the test when it does not exit 0.
  std::string sim(const Words& words);
  ChildResult simRaw(const Words& words);
  // The utility with the given arguments.
  ChildResult utility(const Words& args);
  // Any program, called as argv0 with args, this simulator's state path in its environment.
  ChildResult program(const std::string& path, const std::string& argv0, const Words& args);
  // The request log, a line each; given a process ID, only that process's lines, without it.
  Words log(int pid = 0);
  // The simulator's state, read and written in its own state file format,
  // for tests that stage many runs without a kivadapsim process each.
  nicisim::State state();
  void setState(const nicisim::State& s);
  const std::string& statePath() const { return state_; }
  const std::string& traceDir() const { return traceDir_; }

 private:
  TempDir tmp_;
  std::string state_, traceDir_;
};

}  // namespace kivtest

#endif
