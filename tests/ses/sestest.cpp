#include "sestest.h"

#include <cstdio>
#include <cstdlib>

#include "debug/kivdebug.h"
#include "kivtestsupport.h"
#include "ses/kivses.h"

namespace sestest {
namespace {
std::vector<std::string> g_waits;
// Appended, not "s" + std::string, which GCC 12 misreads under -O3.
void recordSeconds(unsigned s) { g_waits.push_back(std::string("s").append(std::to_string(s))); }
void recordMicroseconds(std::uint64_t u) { g_waits.push_back(std::string("u").append(std::to_string(u))); }
void recordProgress(std::uint32_t sent, std::uint32_t total) {
  g_waits.push_back(std::string("p").append(std::to_string(sent)).append("/").append(std::to_string(total)));
}
}  // namespace

const std::vector<std::string>& waits() { return g_waits; }

std::string waitList() {
  std::string text;
  for (const std::string& w : g_waits) text += (text.empty() ? "" : " ") + w;
  return text;
}

Run run(const std::function<void()>& body) {
  kivtest::TempDir tmp;
  const std::string dir = tmp.path();
  kivtest::ChildResult r = kivtest::runInChild([&] {
    KIV_DebugDir = dir.c_str();
    KIV_OpenTraceFile("sestest");
    SES_SleepSeconds = recordSeconds;
    SES_SleepMicroseconds = recordMicroseconds;
    SES_DownloadProgress = recordProgress;
    body();
    std::fflush(stdout);
    std::exit(0);
  });
  return Run{r.status, r.out, kivtest::traceEvents(kivtest::readOnlyTrace(dir))};
}

}  // namespace sestest
