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

// The ports' service-mode flags, "1000" when only port 1 is in service mode.
std::string modes(const nicisim::State& s);

class Sim {
 public:
  Sim();
  // kivadapsim with the given words; fails the test when it does not exit 0.
  std::string sim(const std::vector<std::string>& words);
  ChildResult simRaw(const std::vector<std::string>& words);
  // The utility with the given arguments, called as argv0.
  ChildResult utility(const std::vector<std::string>& args, const std::string& argv0 = "kivservicemode");
  // Any program, with this simulator's state path in its environment.
  ChildResult program(const std::string& path, const std::vector<std::string>& argv);
  // The request log, a line each.
  std::vector<std::string> log();
  // The simulator's state, read and written in its own state file format,
  // for tests that stage many runs without a kivadapsim process each.
  nicisim::State state();
  void setState(const nicisim::State& s);
  const std::string& statePath() const { return state_; }
  const std::string& traceDir() const { return traceDir_; }

 private:
  TempDir tmp_;
  std::string state_;
  std::string traceDir_;
};

}  // namespace kivtest

#endif
