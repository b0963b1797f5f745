// kivservicemode: queries, enables or disables the service mode of one port
// of a storage adapter.
#ifndef KIV_SERVICEMODE_KIVSERVICEMODE_H
#define KIV_SERVICEMODE_KIVSERVICEMODE_H

#include <cstdint>

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
// 11 (after the usage text) when it cannot.
std::int32_t ParseParams(int argc, char** argv);
// Puts the globals back to their initial values (for repeated parses in one
// process, as tests and fuzzers do).
void ResetParams();

std::int32_t PartnerPort(std::int32_t port);

// Reads whether a port is in service mode; *pSM is 1 when it is.
std::int32_t isServiceMode(std::int32_t port, std::int32_t* pSM);
// Sets (value 1) or clears (value 0) service mode on a port.
std::int32_t SetServiceMode(std::int32_t port, std::int32_t value);

// The whole utility; ends the process with exit() and never returns.
[[noreturn]] void KIV_ServiceModeMain(int argc, char** argv);

#endif
