// One run of kivses: what its command line asked for, what it has learned,
// and the helpers every verb reports through. Shared by the verbs.
#ifndef KIV_SESCLI_KIVSESRUN_H
#define KIV_SESCLI_KIVSESRUN_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "ses/kivses.h"

namespace kivsescli {

constexpr const char* kName = "kivses";

struct Run {
  // The command line.
  std::string verb;
  std::string serial;
  std::uint8_t page = 0;
  std::uint32_t length = 4096;        // --length
  std::vector<std::uint8_t> data;     // --data
  std::uint32_t delayMilliseconds = 100;
  int device = 0;
  std::string imagePath;
  std::vector<std::uint8_t> image;
  bool noWait = false, dryRun = false, verbose = false, json = false;
  bool hexDump = false, hexPairs = false, raw = false;
  const char* traceDir = nullptr;

  // The outcome: the JSON document, and the last request of the operation
  // that ran last.
  nlohmann::ordered_json doc;
  std::optional<SesRequestResult> lastRequest;
  bool progressInPlace = false;  // standard error is a terminal
  bool progressShown = false;    // a progress line waits for its line end
  std::uint32_t pagesSent = 0, bytesSent = 0;
};

// The run of this process, which the module's hooks (each request, each
// wait, the download's progress) report into.
extern Run* g_run;

// Text for people: on standard output unless --json holds it.
void say(const Run& run, const char* format, ...) __attribute__((format(printf, 2, 3)));
// Progress and outcome lines on standard error, ending a progress line
// shown in place first.
void tell(Run& run, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Runs one operation of the module: forgets the last request, calls it,
// and notes its result (ses_result) in the document.
template <typename Operation>
std::int32_t runOperation(Run& run, Operation&& operation) {
  run.lastRequest.reset();
  const std::int32_t rc = operation();
  nlohmann::ordered_json& result = run.doc["ses_result"];
  result["code"] = rc;
  result["name"] = SES_ResultName(rc);
  return rc;
}

// The failure line of an operation on standard error and in the messages:
// serial number, operation, result code and name, the adapter's result
// when its answer carried one, and more; returns the exit status (26 for a
// busy enclosure, else 47).
int failed(Run& run, const std::string& operation, std::int32_t rc, const std::string& more = "");

// Reads and shows the short enclosure status: 0 good, 1 not good, or the
// exit status of a failure.
int readShortStatus(Run& run);

int fwload(Run& run);

}  // namespace kivsescli

#endif
