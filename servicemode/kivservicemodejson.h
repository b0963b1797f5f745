// The JSON report of kivservicemode (--json): what the run was asked, what
// the two reads found, every request sent with its result, and whether the
// run changed the adapter, beside the envelope all programs share.
#ifndef KIV_SERVICEMODE_KIVSERVICEMODEJSON_H
#define KIV_SERVICEMODE_KIVSERVICEMODEJSON_H

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "cli/kivjson.h"
#include "servicemode/kivservicemode.h"

// Raised as the manual page's JSON OUTPUT section says: a new field the
// minor number, a renamed or removed field the major.
constexpr int kServiceModeJsonMajor = 1;
constexpr int kServiceModeJsonMinor = 0;

struct PortRead {
  std::int32_t result = 0;
  std::int32_t flag = 0;
};

struct ServiceModeReport {
  bool json = false;
  int argc = 0;
  char** argv = nullptr;        // as invoked, --json included
  bool commandLineGood = false;
  std::optional<PortRead> ownRead, partnerRead;  // set once both reads are made
  std::string resultLine;       // the standard-error line without its newline; "" for the usage text
  std::int32_t failure = 0;     // the result a failed run reports
};

// True when the requests may have left a port of the pair in another
// service mode than the reads found it: a change the adapter confirmed, or
// one whose outcome the answer cannot tell. A clear that works on a port
// that could not be read finds it in service mode, and an illegal clear
// finds it out of it, as the clear test reasons.
bool ServiceModeChanged(const std::optional<PortRead>& own, const std::optional<PortRead>& partner,
                        std::int32_t ownPort, std::span<const PortRequestRecord> requests);

// The whole document, for the globals of the parse and SentPortRequests.
nlohmann::ordered_json ServiceModeDocument(const ServiceModeReport& report, int exitStatus);
// Prints it on standard output.
void PrintServiceModeDocument(const ServiceModeReport& report, int exitStatus);

#endif
