// Runs the utility's body in a child against the fake library.
#ifndef KIV_TESTS_SERVICEMODE_SMTEST_H
#define KIV_TESTS_SERVICEMODE_SMTEST_H

#include <cstdlib>
#include <string>
#include <vector>

#include "kivtestsupport.h"

namespace smtest {

// The answer of one scripted request: the application result and, for a
// loop-map request, whether the service-mode bit is set.
struct Answer {
  int app = 0;
  bool inServiceMode = false;
  int directive = 0;
};

struct Run {
  kivtest::ChildResult child;
  std::string requests;  // e.g. "Q1 Q2 C1 S1": query, clear, set and port
  std::string trace;     // the trace file's text ("" when it was deleted)
  int usingIntelligentTracing = 0;
  int finalReturnCode = 0;
};

// argv excludes the program name, which is argv0.
Run runUtility(const std::vector<std::string>& args, const std::vector<Answer>& answers,
               const std::vector<int>& openResults = {}, const std::string& argv0 = "kivservicemode");

}  // namespace smtest

#endif
