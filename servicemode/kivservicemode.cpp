// The service-mode utility: command line, port requests and the decision of
// what to ask the adapter and what to report.
#include "servicemode/kivservicemode.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "adapci/kivadapci.h"
#include "debug/kivdebug.h"
#include "servicemode/kivportrequests.h"
#include "servicemode/kivservicemodejson.h"

#define KIV_TRACE_MODULE "kivservicemode"

const char* szCmdName = nullptr;
const char* adapterDeviceParam = nullptr;
std::int32_t bServiceMode = -1;
std::int32_t nAdapterPortNumber = kPortNotGiven;
std::int32_t queryMode = 0;
std::vector<std::string> ParseParamsProblems;
std::vector<PortRequestRecord> SentPortRequests;

namespace {

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
  const std::int32_t number = PortRequest::portNumber(arg);
  return number != 0 ? number : kPortNotGiven;
}

namespace ARB = AdapterRequestBlock;

// What the run found and did, for the JSON report.
ServiceModeReport g_report;

void fillHeader(kiv::wire::Bytes block, std::uint16_t transaction, const kiv::wire::Areas& areas,
                std::int32_t port, std::uint8_t value) {
  using namespace kiv::wire;
  put16be(block, ARB::kBlockKind, ARB::kKindAdapter);
  put32be(block, ARB::kBlockSize, static_cast<std::uint32_t>(block.size()));
  put32be(block, ARB::kService, ARB::kServiceAdapter);
  put8(block, ARB::kFixed56, ARB::kFixed56Value);
  put16be(block, ARB::kTransaction, transaction);
  putAreas(block, ARB::kAreas, areas);
  put8(block, PortRequest::kPort, static_cast<std::uint8_t>(port));
  put8(block, PortRequest::kValue, value);
}

// The adapter's result of an answered port request, as both port requests
// judge it: AS_Warning counts as success, the two errors the flow acts on
// are traced by name, and an exchange whose answer cannot be trusted must
// not read as success (the block would still hold the zero result it was
// sent with). Recorded for the JSON report, the warning kept as such.
std::int32_t judgeAnswer(const char* function, std::uint16_t transaction, std::int32_t port, std::int32_t value,
                         std::int32_t exchangeCode, kiv::wire::ConstBytes block) {
  const auto applicationResult = static_cast<std::int16_t>(kiv::wire::get16be(block, ARB::kApplicationResult));
  std::int32_t result = applicationResult;
  switch (result) {
    case AS_Warning:
      KIV_TRACE("%s: AS_Warning\n", function);
      break;
    case AE_LoopDown:
      KIV_TRACE("%s: AE_LoopDown\n", function);
      break;
    case AE_IllegalRequest:
      KIV_TRACE("%s: AE_IllegalRequest\n", function);
      break;
    default:
      break;
  }
  // Besides the transport failures, the first byte of the result word has
  // no meaning the utility knows, so a nonzero one cannot be trusted either.
  const bool exchangeFailed = exchangeCode == ADAPCI_OpenFailed || exchangeCode == ADAPCI_SendFailed ||
                              exchangeCode == ADAPCI_AnswerIncomplete ||
                              kiv::wire::get8(block, ARB::kDirectiveStatus) != 0 ||
                              kiv::wire::get8(block, ARB::kResultWordFirstByte) != 0 ||
                              kiv::wire::get8(block, ARB::kNetworkResult) != 0;
  if (exchangeFailed) {
    result = applicationResult < 0 ? std::int32_t{applicationResult} : std::int32_t{AE_Failure};
    KIV_TRACE("%s: exchange failed, SendAdapCIRequest rc: %d, rc: %X\n", function, exchangeCode,
              static_cast<unsigned>(result));
  }
  // A failed open sent nothing; any other failed exchange may have reached
  // the adapter and been carried out. Only --json keeps the requests.
  if (g_report.json) {
    SentPortRequests.push_back(
        {transaction, port, value, exchangeCode, result, exchangeFailed && exchangeCode != ADAPCI_OpenFailed});
  }
  return result == AS_Warning ? std::int32_t{AS_Success} : result;
}

// Where getopt would read an option, --json, --help and --version are
// taken out of the command line, so that the rest parses, traces and fails
// exactly as it would without them; an argument of -a or -p, an operand and
// whatever follows "--" or an operand stay as they are.
struct LongOptions {
  bool json = false;
  const char* first = nullptr;  // "--help" or "--version", whichever came first
};
std::vector<char*> takeLongOptions(int argc, char** argv, LongOptions& found) {
  std::vector<char*> rest(argv, argv + (argc > 0 ? 1 : 0));
  int i = 1;
  for (; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--" || arg.size() < 2 || arg[0] != '-') break;
    if (arg == "--json" || arg == "--help" || arg == "--version") {
      if (arg == "--json") found.json = true;
      else if (found.first == nullptr) found.first = argv[i];
      continue;
    }
    rest.push_back(argv[i]);
    for (std::size_t k = 1; k < arg.size(); ++k) {
      const char* entry = std::strchr(kOptionString + 1, arg[k]);
      if (arg[k] == ':' || entry == nullptr || entry[1] != ':') continue;
      if (k + 1 == arg.size() && i + 1 < argc) rest.push_back(argv[++i]);  // the argument is the next word
      break;
    }
  }
  rest.insert(rest.end(), argv + std::min(i, argc), argv + argc);
  rest.push_back(nullptr);
  return rest;
}

// The lines --help adds below the usage text.
constexpr const char* kLongOptionsText =
    "               --json = also one JSON object on standard output \n"
    "               --help = this text \n"
    "               --version = the version \n";

// The one result line: to standard error, and kept for the JSON report.
void resultLine(const char* format, ...) __attribute__((format(printf, 1, 2)));
void resultLine(const char* format, ...) {
  char line[128];  // the longest line takes 48 bytes
  std::va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  std::fputs(line, stderr);
  g_report.resultLine.assign(line, std::strcspn(line, "\n"));
}

[[noreturn]] void finish(int status) {
  if (g_report.json) PrintServiceModeDocument(g_report, status);
  std::exit(status);
}

void problem(std::string text) {
  if (std::find(ParseParamsProblems.begin(), ParseParamsProblems.end(), text) == ParseParamsProblems.end())
    ParseParamsProblems.push_back(std::move(text));
}

}  // namespace

void ResetParams() {
  adapterDeviceParam = nullptr;
  bServiceMode = -1;
  nAdapterPortNumber = kPortNotGiven;
  queryMode = 0;
  ParseParamsProblems.clear();
}

std::int32_t PartnerPort(std::int32_t port) {
  return port >= PortRequest::kFirstPort && port <= PortRequest::kLastPort ? PortRequest::partnerOf(port)
                                                                           : kPortNotGiven;
}

std::int32_t ParseParams(int argc, char** argv) {
  std::int32_t result = 0;
  int errors = 0;
  bool actionSeen = false;
  bool portSeen = false;
  ParseParamsProblems.clear();

  KIV_TRACE("ParseParams: entry %d %s \n", argc, argc > 1 && argv[1] != nullptr ? argv[1] : kNoFirstArgument);

  opterr = 0;
  optind = 0;  // a fresh parse, also when called again in one process
  for (;;) {
    // The word getopt reads from: a cluster of letters keeps optind until
    // its last letter.
    const int at = std::max(optind, 1);
    const int c = getopt(argc, argv, kOptionString);
    if (c == -1) break;
    switch (c) {
      case 'a':
        if (adapterDeviceParam != nullptr) {
          ++errors;
          problem("option -a given more than once");
        }
        adapterDeviceParam = optarg;
        KIV_TRACE("ParseParams: Adapter: %s \n", adapterDeviceParam);
        break;
      case 'p': {
        if (portSeen) {
          ++errors;
          problem("option -p given more than once");
        }
        portSeen = true;
        std::int32_t port = portNumberOf(optarg);
        if (port == kPortNotGiven) {
          ++errors;
          problem("-p " + std::string(optarg) + ": not a port name (1L, 1R, 2L or 2R)");
        } else {
          nAdapterPortNumber = port;
        }
        KIV_TRACE("ParseParams: Adapter Port Number: %u \n", static_cast<unsigned>(nAdapterPortNumber));
        break;
      }
      case 'y':
      case 'n':
      case 'q':
        if (actionSeen) {
          ++errors;
          problem("more than one action option: give one of -y, -n and -q");
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
        if (optopt == 'a' || optopt == 'p') problem(std::string("option -") + static_cast<char>(optopt) + " needs an argument");
        else if (std::string_view(argv[at]).starts_with("--")) problem("unknown option " + std::string(argv[at]));
        else problem(std::string("unknown option -") + static_cast<char>(optopt));
        break;
    }
  }

  if (optind < argc) {
    std::fprintf(stderr, "%s: Unprocessed parameters at end of command line: ", szCmdName);
    for (int i = optind; i < argc; ++i) std::fprintf(stderr, "%s ", argv[i]);
    std::fprintf(stderr, "\n");
    std::string leftovers = "unprocessed parameters at end of command line:";
    for (int i = optind; i < argc; ++i) leftovers.append(" ").append(argv[i]);
    problem(leftovers);
    ++errors;
    result = SM_ExitBadCommandLine;
  }

  if (!actionSeen) problem("no action option: give one of -y, -n and -q");
  if (adapterDeviceParam == nullptr) problem("no adapter: -a is required");
  if (!portSeen) problem("no port: -p is required");
  if (errors > 0 || !actionSeen || adapterDeviceParam == nullptr || nAdapterPortNumber == kPortNotGiven) {
    std::fprintf(stderr, kUsageText, szCmdName);
    result = SM_ExitBadCommandLine;
  }

  KIV_TRACE("ParseParams: exiting function rc: %d\n", result);
  return result;
}

std::int32_t isServiceMode(std::int32_t port, std::int32_t* pSM) {
  KIV_TRACE("isServiceMode: Entry, port=%d.\n", port);
  *pSM = 0;

  std::array<std::uint8_t, LoopMapRequest::kBlockSize> block{};
  fillHeader(block, FN_ADAP_GetFCLoopMap, LoopMapRequest::kAreas, port, LoopMapRequest::kValue);

  std::int32_t exchangeCode = SendAdapCIRequest(LoopMapRequest::kBlockSize, 0, block.data());
  KIV_TRACE("isServiceMode: SendAdapCIRequest rc: %d\n", exchangeCode);

  const std::int32_t result =
      judgeAnswer("isServiceMode", FN_ADAP_GetFCLoopMap, port, PortRequestRecord::kRead, exchangeCode, block);
  if (result == AS_Success) {
    const std::uint32_t word = kiv::wire::get32le(block, LoopMapRequest::kServiceModeWord);
    *pSM = (word & LoopMapRequest::kServiceModeBit) != 0 ? 1 : 0;
  }

  KIV_TRACE("isServiceMode: exit port(%d) *pSM(%X) rc: %X\n", port, static_cast<unsigned>(*pSM),
            static_cast<unsigned>(result));
  return result;
}

std::int32_t SetServiceMode(std::int32_t port, std::int32_t value) {
  KIV_TRACE("SetServiceMode: Entry, port=%d bServiceMode=%d.\n", port, value);

  std::array<std::uint8_t, ServiceModeRequest::kBlockSize> block{};
  fillHeader(block, FN_ADAP_ServiceMode, ServiceModeRequest::kAreas, port, static_cast<std::uint8_t>(value));

  std::int32_t exchangeCode = SendAdapCIRequest(ServiceModeRequest::kBlockSize, 0, block.data());
  KIV_TRACE("SetServiceMode: SendAdapCIRequest, rc: %d\n", exchangeCode);

  const std::int32_t result = judgeAnswer("SetServiceMode", FN_ADAP_ServiceMode, port, value, exchangeCode, block);
  KIV_TRACE("SetServiceMode: exiting function rc: %X\n", static_cast<unsigned>(result));
  return result;
}

void KIV_ServiceModeMain(int argc, char** argv) {
  const char* argv0 = argc > 0 && argv[0] != nullptr ? argv[0] : "kivservicemode";
  const char* slash = std::strrchr(argv0, '/');
  szCmdName = slash != nullptr ? slash + 1 : argv0;

  LongOptions found;
  std::vector<char*> args = takeLongOptions(argc, argv, found);
  // Help and the version are answered before anything is traced or sent.
  if (found.first != nullptr) {
    if (std::string_view(found.first) == "--version") {
      std::printf("kivservicemode %s\n", std::string(kiv::cli::projectVersion()).c_str());
    } else {
      std::printf(kUsageText, szCmdName);
      std::fputs(kLongOptionsText, stdout);
    }
    std::exit(SM_ExitNotInServiceMode);
  }
  g_report.json = found.json;
  g_report.argc = argc;
  g_report.argv = argv;

  KIV_OpenTraceFile(szCmdName);

  if (ParseParams(static_cast<int>(args.size()) - 1, args.data()) != 0) finish(SM_ExitBadCommandLine);
  g_report.commandLineGood = true;

  const std::int32_t ownPort = nAdapterPortNumber;
  const std::int32_t partnerPort = PartnerPort(ownPort);
  std::int32_t ownFlag = 0;
  std::int32_t partnerFlag = 0;

  // Query phase: both ports are always read, the own port first.
  std::int32_t ownResult = isServiceMode(ownPort, &ownFlag);
  const std::int32_t partnerResult = isServiceMode(partnerPort, &partnerFlag);
  g_report.ownRead = {ownResult, ownFlag};
  g_report.partnerRead = {partnerResult, partnerFlag};

  // Decision phase: settle an unread own port.
  if (ownResult != 0) {
    if (partnerResult == 0 && partnerFlag == 1) {
      KIV_TRACE("main: other port test, port %d is not in servicemode\n", ownPort);
    } else {
      std::int32_t clearResult = SetServiceMode(ownPort, 0);
      if (clearResult == 0) {
        // The clear took the port out of service mode; only a re-set that
        // worked puts it back, so only then is the port in service mode.
        const std::int32_t resetResult = SetServiceMode(ownPort, 1);
        if (resetResult == 0) {
          KIV_TRACE("main: clear test, port %d is in servicemode\n", ownPort);
          ownFlag = 1;
          ownResult = 0;
        } else {
          KIV_TRACE("main: clear test, port %d not set again, rc: %X\n", ownPort,
                    static_cast<unsigned>(resetResult));
          ownResult = resetResult;
        }
      } else if (clearResult == AE_IllegalRequest) {
        KIV_TRACE("main: illegal clear, port %d is NOT in servicemode\n", ownPort);
        ownResult = 0;
      }
    }
  }

  if (queryMode == 1) {
    if (ownResult != 0) {
      resultLine("Query Service Mode failed, rc=%X\n", static_cast<unsigned>(ownResult));
      KIV_TRACE("Query Service Mode failed\n");
      g_report.failure = ownResult;
      finish(SM_ExitFailed);
    }
    if (ownFlag == 1) {
      KIV_TRACE("main: Port %d is in Service Mode\n", ownPort);
      resultLine("Port %d is in Service Mode\n", ownPort);
      finish(SM_ExitInServiceMode);
    }
    KIV_TRACE("main: Port %d is not in Service Mode\n", ownPort);
    resultLine("Port %d is not in Service Mode\n", ownPort);
    if (partnerFlag == 0) {
      FinalReturnCode = ownResult;
      UsingIntelligentTracing = 1;
    }
    finish(SM_ExitNotInServiceMode);
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
    resultLine("Service Mode %d to port %d success\n", bServiceMode, ownPort);
    finish(SM_ExitNotInServiceMode);
  }
  KIV_TRACE("main: Service Mode %d to port %d failed\n", bServiceMode, ownPort);
  resultLine("Service Mode %d to port %d failed, rc=%X\n", bServiceMode, ownPort, static_cast<unsigned>(outcome));
  g_report.failure = outcome;
  finish(SM_ExitFailed);
}
