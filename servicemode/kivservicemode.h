// kivservicemode: queries, enables or disables the service mode of one port
// of a storage adapter.
#ifndef KIV_SERVICEMODE_KIVSERVICEMODE_H
#define KIV_SERVICEMODE_KIVSERVICEMODE_H

#include <cstdint>
#include <string>
#include <vector>

// Exit statuses of the utility.
enum ServiceModeExitStatus : int {
  SM_ExitNotInServiceMode = 0,  // also: change done, or nothing to do
  SM_ExitInServiceMode = 1,
  SM_ExitBadCommandLine = 11,
  SM_ExitFailed = 47,
};

// Port numbers of the port names 1L, 1R, 2L and 2R; pairs 1/2 and 3/4.
constexpr std::int32_t kPortNotGiven = -1;

extern const char* szCmdName;
extern const char* adapterDeviceParam;
extern std::int32_t bServiceMode;
extern std::int32_t nAdapterPortNumber;
extern std::int32_t queryMode;

// Parses the command line into the globals above; 0 when it can be used,
// 11 (after the usage text) when it cannot. What was wrong is kept in
// ParseParamsProblems, one short text per fault, for the JSON report;
// standard error gets only the usage text and the leftover line.
std::int32_t ParseParams(int argc, char** argv);
extern std::vector<std::string> ParseParamsProblems;
// Puts the globals back to their initial values (for repeated parses in one
// process, as tests and fuzzers do).
void ResetParams();

std::int32_t PartnerPort(std::int32_t port);

// Reads whether a port is in service mode; *pSM is 1 when it is.
std::int32_t isServiceMode(std::int32_t port, std::int32_t* pSM);
// Sets (value 1) or clears (value 0) service mode on a port.
std::int32_t SetServiceMode(std::int32_t port, std::int32_t value);

// One port request as the utility sent it and judged its answer, kept in
// the order sent for the JSON report.
struct PortRequestRecord {
  static constexpr std::int32_t kRead = -1;  // value of a loop-map read
  std::uint16_t transaction;
  std::int32_t port;
  std::int32_t value;         // 0 clear, 1 set, kRead
  std::int32_t exchangeCode;  // SendAdapCIRequest's code
  std::int32_t result;        // the adapter's result as judged (AS_Warning kept as 1)
  // Whether the adapter may have carried the request out without its answer
  // saying so: false when the answer can be trusted or nothing was sent.
  bool outcomeUnknown;
};
// Recorded only with --json.
extern std::vector<PortRequestRecord> SentPortRequests;

// The whole utility; ends the process with exit() and never returns.
[[noreturn]] void KIV_ServiceModeMain(int argc, char** argv);

#endif
