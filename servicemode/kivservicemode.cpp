// The service-mode utility: command line, port requests and the decision of
// what to ask the adapter and what to report.
#include "servicemode/kivservicemode.h"

#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "adapci/kivadapci.h"
#include "debug/kivdebug.h"

#define KIV_TRACE_MODULE "kivservicemode"

const char* szCmdName = nullptr;
const char* adapterDeviceParam = nullptr;
std::int32_t bServiceMode = -1;
std::int32_t nAdapterPortNumber = kPortNotGiven;
std::int32_t queryMode = 0;

namespace {

struct PortName {
  const char* name;
  std::int32_t number;
};
constexpr std::array<PortName, 8> kPortNames{{
    {"1L", 1}, {"1l", 1}, {"1R", 2}, {"1r", 2}, {"2L", 3}, {"2l", 3}, {"2R", 4}, {"2r", 4},
}};

constexpr const char* kUsageText =
    "Usage: \n <1%s> -a adapter -p port {-y|-n|-q} \n"
    "               -a = kiv adapter name \n"
    "               -p = the adapter port (1L, 1R, 2L, 2R) \n"
    "               -y = enable \n"
    "               -n = disable \n"
    "               -q = query \n";

// What the entry trace shows when no argument follows the command name.
constexpr const char* kNoFirstArgument = "(none)";

// "+" keeps the parse POSIX: it stops at the first operand instead of
// moving operands to the end, so leftovers are reported as typed.
constexpr const char* kOptionString = "+a:p:ynq";

std::int32_t portNumberOf(const char* arg) {
  for (const PortName& p : kPortNames) {
    if (std::strcmp(arg, p.name) == 0) return p.number;
  }
  return kPortNotGiven;
}

namespace ARB = AdapterRequestBlock;

constexpr std::size_t kLoopMapBlockSize = 3216;
constexpr std::size_t kServiceModeBlockSize = 192;
constexpr std::size_t kParamPort = ARB::kData + 0;
constexpr std::size_t kParamValue = ARB::kData + 1;
constexpr std::uint32_t kParameterAreaLength = 4;
constexpr std::uint32_t kLoopMapAreaOffset = 4;
constexpr std::uint32_t kLoopMapAreaLength = 3008;
constexpr std::uint32_t kTrailingAreaOffset = 3012;
constexpr std::uint32_t kTrailingAreaLength = 20;
// The service-mode word: byte 8 of the trailing area, little-endian.
constexpr std::size_t kServiceModeWord = ARB::kData + kTrailingAreaOffset + 8;
constexpr std::uint32_t kServiceModeBit = 0x40;
static_assert(kServiceModeWord == 3204);
static_assert(ARB::kData + kTrailingAreaOffset + kTrailingAreaLength == kLoopMapBlockSize);

void fillHeader(kiv::wire::Bytes block, std::uint16_t transaction) {
  using namespace kiv::wire;
  put16be(block, ARB::kBlockKind, ARB::kKindAdapter);
  put32be(block, ARB::kBlockSize, static_cast<std::uint32_t>(block.size()));
  put32be(block, ARB::kService, ARB::kServiceAdapter);
  put8(block, ARB::kFixed56, ARB::kFixed56Value);
  put16be(block, ARB::kTransaction, transaction);
}

// An exchange whose answer cannot be trusted must not read as success: the
// block would still hold the zero result it was sent with.
bool exchangeFailed(std::int32_t exchangeCode, kiv::wire::ConstBytes block) {
  return exchangeCode == ADAPCI_OpenFailed || exchangeCode == ADAPCI_SendFailed ||
         kiv::wire::get8(block, ARB::kDirectiveStatus) != 0 ||
         kiv::wire::get8(block, ARB::kNetworkResult) != 0;
}

std::int32_t failedExchangeResult(std::int32_t applicationResult) {
  return applicationResult < 0 ? applicationResult : AE_Failure;
}

[[noreturn]] void usageExit() { std::exit(SM_ExitBadCommandLine); }

}  // namespace

void ResetParams() {
  adapterDeviceParam = nullptr;
  bServiceMode = -1;
  nAdapterPortNumber = kPortNotGiven;
  queryMode = 0;
}

std::int32_t PartnerPort(std::int32_t port) {
  switch (port) {
    case 1: return 2;
    case 2: return 1;
    case 3: return 4;
    case 4: return 3;
    default: return kPortNotGiven;
  }
}

std::int32_t ParseParams(int argc, char** argv) {
  std::int32_t result = 0;
  int errors = 0;
  bool actionSeen = false;
  bool portSeen = false;

  KIV_TRACE("ParseParams: entry %d %s \n", argc, argc > 1 && argv[1] != nullptr ? argv[1] : kNoFirstArgument);

  opterr = 0;
  optind = 0;  // a fresh parse, also when called again in one process
  int c;
  while ((c = getopt(argc, argv, kOptionString)) != -1) {
    switch (c) {
      case 'a':
        if (adapterDeviceParam != nullptr) ++errors;
        adapterDeviceParam = optarg;
        KIV_TRACE("ParseParams: Adapter: %s \n", adapterDeviceParam);
        break;
      case 'p': {
        if (portSeen) ++errors;
        portSeen = true;
        std::int32_t port = portNumberOf(optarg);
        if (port == kPortNotGiven) ++errors;
        else nAdapterPortNumber = port;
        KIV_TRACE("ParseParams: Adapter Port Number: %u \n", static_cast<unsigned>(nAdapterPortNumber));
        break;
      }
      case 'y':
      case 'n':
      case 'q':
        if (actionSeen) {
          ++errors;
          break;
        }
        actionSeen = true;
        if (c == 'q') {
          queryMode = 1;
          KIV_TRACE("ParseParams: Query\n");
        } else {
          bServiceMode = c == 'y' ? 1 : 0;
          KIV_TRACE("ParseParams: Enable: %u \n", static_cast<unsigned>(bServiceMode));
        }
        break;
      default:
        ++errors;
        break;
    }
  }

  if (optind < argc) {
    std::fprintf(stderr, "%s: Unprocessed parameters at end of command line: ", szCmdName);
    for (int i = optind; i < argc; ++i) std::fprintf(stderr, "%s ", argv[i]);
    std::fprintf(stderr, "\n");
    ++errors;
    result = SM_ExitBadCommandLine;
  }

  if (errors > 0 || !actionSeen || adapterDeviceParam == nullptr || nAdapterPortNumber == kPortNotGiven) {
    std::fprintf(stderr, kUsageText, szCmdName);
    result = SM_ExitBadCommandLine;
  }

  KIV_TRACE("ParseParams: exiting function rc: %d\n", result);
  return result;
}

std::int32_t isServiceMode(std::int32_t port, std::int32_t* pSM) {
  using namespace kiv::wire;
  KIV_TRACE("isServiceMode: Entry, port=%d.\n", port);
  *pSM = 0;

  std::array<std::uint8_t, kLoopMapBlockSize> storage {};
  Bytes block(storage);
  fillHeader(block, FN_ADAP_GetFCLoopMap);
  putArea(block, ARB::area(0), presentArea(0, kParameterAreaLength));
  putArea(block, ARB::area(1), noArea());
  putArea(block, ARB::area(2), presentArea(kLoopMapAreaOffset, kLoopMapAreaLength));
  putArea(block, ARB::area(3), presentArea(kTrailingAreaOffset, kTrailingAreaLength));
  put8(block, kParamPort, static_cast<std::uint8_t>(port));
  put8(block, kParamValue, 1);

  std::int32_t exchangeCode = SendAdapCIRequest(kLoopMapBlockSize, 0, storage.data());
  KIV_TRACE("isServiceMode: SendAdapCIRequest rc: %d\n", exchangeCode);

  const auto applicationResult = static_cast<std::int16_t>(get16be(block, ARB::kApplicationResult));
  std::int32_t result = applicationResult;
  switch (result) {
    case AS_Warning:
      KIV_TRACE("isServiceMode: AS_Warning\n");
      result = AS_Success;
      break;
    case AE_LoopDown:
      KIV_TRACE("isServiceMode: AE_LoopDown\n");
      break;
    case AE_IllegalRequest:
      KIV_TRACE("isServiceMode: AE_IllegalRequest\n");
      break;
    default:
      break;
  }
  if (exchangeFailed(exchangeCode, block)) {
    result = failedExchangeResult(applicationResult);
    KIV_TRACE("isServiceMode: exchange failed, SendAdapCIRequest rc: %d, rc: %X\n", exchangeCode,
              static_cast<unsigned>(result));
  }

  if (result == AS_Success) *pSM = (get8(block, kServiceModeWord) & kServiceModeBit) != 0 ? 1 : 0;

  KIV_TRACE("isServiceMode: exit port(%d) *pSM(%X) rc: %X\n", port, static_cast<unsigned>(*pSM),
            static_cast<unsigned>(result));
  return result;
}

std::int32_t SetServiceMode(std::int32_t port, std::int32_t value) {
  using namespace kiv::wire;
  KIV_TRACE("SetServiceMode: Entry, port=%d bServiceMode=%d.\n", port, value);

  std::array<std::uint8_t, kServiceModeBlockSize> storage {};
  Bytes block(storage);
  fillHeader(block, FN_ADAP_ServiceMode);
  putArea(block, ARB::area(0), presentArea(0, kParameterAreaLength));
  putArea(block, ARB::area(1), noArea());
  putArea(block, ARB::area(2), noArea());
  putArea(block, ARB::area(3), noArea());
  put8(block, kParamPort, static_cast<std::uint8_t>(port));
  put8(block, kParamValue, static_cast<std::uint8_t>(value));

  std::int32_t exchangeCode = SendAdapCIRequest(kServiceModeBlockSize, 0, storage.data());
  KIV_TRACE("SetServiceMode: SendAdapCIRequest, rc: %d\n", exchangeCode);

  const auto applicationResult = static_cast<std::int16_t>(get16be(block, ARB::kApplicationResult));
  std::int32_t result = applicationResult;
  switch (result) {
    case AS_Warning:
      KIV_TRACE("SetServiceMode: AS_Warning\n");
      result = AS_Success;
      break;
    case AE_LoopDown:
      KIV_TRACE("SetServiceMode: AE_LoopDown\n");
      break;
    case AE_IllegalRequest:
      KIV_TRACE("SetServiceMode: AE_IllegalRequest\n");
      break;
    default:
      break;
  }
  if (exchangeFailed(exchangeCode, block)) {
    result = failedExchangeResult(applicationResult);
    KIV_TRACE("SetServiceMode: exchange failed, SendAdapCIRequest rc: %d, rc: %X\n", exchangeCode,
              static_cast<unsigned>(result));
  }

  KIV_TRACE("SetServiceMode: exiting function rc: %X\n", static_cast<unsigned>(result));
  return result;
}

void KIV_ServiceModeMain(int argc, char** argv) {
  const char* argv0 = argc > 0 && argv[0] != nullptr ? argv[0] : "kivservicemode";
  const char* slash = std::strrchr(argv0, '/');
  szCmdName = slash != nullptr ? slash + 1 : argv0;

  KIV_OpenTraceFile(szCmdName);

  if (ParseParams(argc, argv) != 0) usageExit();

  const std::int32_t ownPort = nAdapterPortNumber;
  const std::int32_t partnerPort = PartnerPort(ownPort);
  std::int32_t ownFlag = 0;
  std::int32_t partnerFlag = 0;

  // Query phase: both ports are always read, the own port first.
  std::int32_t ownResult = isServiceMode(ownPort, &ownFlag);
  const std::int32_t partnerResult = isServiceMode(partnerPort, &partnerFlag);

  // Decision phase: settle an unread own port.
  if (ownResult != 0) {
    if (partnerResult == 0 && partnerFlag == 1) {
      KIV_TRACE("main: other port test, port %d is not in servicemode\n", ownPort);
    } else {
      std::int32_t clearResult = SetServiceMode(ownPort, 0);
      if (clearResult == 0) {
        SetServiceMode(ownPort, 1);
        KIV_TRACE("main: clear test, port %d is in servicemode\n", ownPort);
        ownFlag = 1;
        ownResult = 0;
      } else if (clearResult == AE_IllegalRequest) {
        KIV_TRACE("main: illegal clear, port %d is NOT in servicemode\n", ownPort);
        ownResult = 0;
      }
    }
  }

  if (queryMode == 1) {
    if (ownResult != 0) {
      std::fprintf(stderr, "Query Service Mode failed, rc=%X\n", static_cast<unsigned>(ownResult));
      KIV_TRACE("Query Service Mode failed\n");
      std::exit(SM_ExitFailed);
    }
    if (ownFlag == 1) {
      KIV_TRACE("main: Port %d is in Service Mode\n", ownPort);
      std::fprintf(stderr, "Port %d is in Service Mode\n", ownPort);
      std::exit(SM_ExitInServiceMode);
    }
    KIV_TRACE("main: Port %d is not in Service Mode\n", ownPort);
    std::fprintf(stderr, "Port %d is not in Service Mode\n", ownPort);
    if (partnerFlag == 0) {
      FinalReturnCode = ownResult;
      UsingIntelligentTracing = 1;
    }
    std::exit(SM_ExitNotInServiceMode);
  }

  std::int32_t outcome;
  const bool enabling = bServiceMode == 1;
  if (ownResult == 0 && ((enabling && ownFlag == 1) || (!enabling && ownFlag == 0))) {
    KIV_TRACE("main: no work to do\n");
    outcome = 0;
  } else if (!enabling) {
    outcome = SetServiceMode(ownPort, 0);
  } else {
    // A partner that holds service mode, or may, would refuse ours.
    if (partnerResult != 0 || partnerFlag == 1) SetServiceMode(partnerPort, 0);
    outcome = SetServiceMode(ownPort, 1);
  }

  if (outcome == 0) {
    KIV_TRACE("main: Service Mode %d to port %d success\n", bServiceMode, ownPort);
    std::fprintf(stderr, "Service Mode %d to port %d success\n", bServiceMode, ownPort);
    std::exit(SM_ExitNotInServiceMode);
  }
  KIV_TRACE("main: Service Mode %d to port %d failed\n", bServiceMode, ownPort);
  std::fprintf(stderr, "Service Mode %d to port %d failed, rc=%X\n", bServiceMode, ownPort,
               static_cast<unsigned>(outcome));
  std::exit(SM_ExitFailed);
}
