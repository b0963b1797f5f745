// A simulated adapter and a trace directory of a test's own, and runs of
// the utility and of kivadapsim against them.
#ifndef KIV_TESTS_E2E_E2E_H
#define KIV_TESTS_E2E_E2E_H

#include <string>
#include <vector>

#include "kivtestsupport.h"
#include "nicisim/nicisim.h"

namespace e2e {

class Bench {
 public:
  Bench();
  // kivadapsim with the given words; fails the test when it does not exit 0.
  std::string sim(const std::vector<std::string>& words);
  kivtest::ChildResult simRaw(const std::vector<std::string>& words);
  // The utility, called as argv0 (default "kivservicemode").
  kivtest::ChildResult utility(const std::vector<std::string>& args, const std::string& argv0 = "kivservicemode");
  // The request log lines.
  std::vector<std::string> log();
  // The simulator's state, read and written through its own state file
  // format, for tests that stage many runs without a process each.
  nicisim::State state();
  void setState(const nicisim::State& s);
  const std::string& traceDir() const { return traceDir_; }
  const std::string& statePath() const { return state_; }
  std::vector<std::string> traces() const { return kivtest::listDir(traceDir_); }

 private:
  kivtest::TempDir tmp_;
  std::string state_;
  std::string traceDir_;
};

}  // namespace e2e

#endif
