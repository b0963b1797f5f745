// Runs enclosure operations in a child with the trace open in a temporary
// folder and every wait recorded instead of slept.
#ifndef KIV_TESTS_SES_SESTEST_H
#define KIV_TESTS_SES_SESTEST_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace sestest {

struct Run {
  int status = -1;
  std::string out;                  // what the body printed
  std::vector<std::string> events;  // trace lines, "module:text"
};

// The waits the body made, as "s10" for sleep(10) and "u25000" for
// usleep(25000), and the download progress calls, as "p503/1006", in order.
const std::vector<std::string>& waits();
std::string waitList();

Run run(const std::function<void()>& body);

}  // namespace sestest

#endif
