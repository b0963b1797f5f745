// kivses: the command line, the checks made before anything is sent, and
// the verbs list, status, read, write and string (fwload is in
// kivsesfwload.cpp).
#include "sescli/kivsescli.h"

#include <getopt.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "cli/kivjson.h"
#include "debug/kivdebug.h"
#include "sescli/kivsesinput.h"
#include "sescli/kivsesrun.h"

namespace kivsescli {

namespace {

namespace SRB = SesRequestBlock;
namespace SES = ShortEnclosureStatusPage;
namespace SUP = SupportedPagesPage;

constexpr int kFormatMajor = 1, kFormatMinor = 0;
// Bytes up to and including a page's length field.
constexpr std::uint32_t kPageHeader = 4;
constexpr std::size_t kPageLengthField = 2;

constexpr const char* kUsage =
    "usage: kivses list SERIAL\n"
    "       kivses status SERIAL\n"
    "       kivses read SERIAL PAGE [--length N] [-H | -r | --raw]\n"
    "       kivses write SERIAL --data HEX|-|@FILE\n"
    "       kivses string SERIAL --data HEX|-|@FILE [--delay MS] [--length N] [-H | -r | --raw]\n"
    "       kivses fwload SERIAL DEVICE IMAGE [--no-wait] [--dry-run]\n"
    "       every verb also takes [--trace-dir DIR] [-v] [--json]\n"
    "       kivses -h | --help | --version\n";

constexpr const char* kHelp =
    "\n"
    "Reads and writes the SES diagnostic pages of the enclosure whose serial\n"
    "number is SERIAL (1 to 37 characters), and downloads firmware to device\n"
    "DEVICE (0 to 63) behind it.\n"
    "\n"
    "  list              the pages the enclosure supports\n"
    "  status            its short enclosure status; exit status 1 when not good\n"
    "  read              a page: decoded (pages 0, 4 and 8), else as a hex dump\n"
    "  write             one page, header included, confirmed by the status page\n"
    "  string            String Out, a wait, then String In\n"
    "  fwload            transfer the firmware in the file IMAGE and commit it\n"
    "\n"
    "  --length N        bytes to ask for, 1 to 65535 (4096)\n"
    "  -H                show the page as a hex dump\n"
    "  -r                show the page as hex pairs, which --data takes back\n"
    "  --raw             write the page's bytes alone to standard output\n"
    "  --data HEX|-|@FILE  the page: hex pairs, hex on standard input, or a file\n"
    "  --delay MS        milliseconds between String Out and String In (100)\n"
    "  --no-wait         skip the device's settling times (10 s, 20 s, 5 s)\n"
    "  --dry-run         read the status, show the plan, send no download page\n"
    "  --trace-dir DIR   trace into DIR, new or holding only kivses traces\n"
    "                    (without it: the system's trace directory as root)\n"
    "  -v, --verbose     each request and each wait on standard error\n"
    "  --json            one JSON object on standard output\n"
    "\n"
    "Exit status: 0 done, 1 status not good, 11 bad command line or input,\n"
    "26 the enclosure stayed busy, 47 failed.\n"
    "\n";

// The verbs, each with the operands that follow SERIAL and the options it
// takes beyond those of every verb.
struct Verb {
  const char* name;
  int operands;
  const char* operandNames;
  const char* options;  // the option letters of kOptions below
};
constexpr Verb kVerbs[] = {
    {"list", 0, "SERIAL", ""},        {"status", 0, "SERIAL", ""},
    {"read", 1, "SERIAL PAGE", "lHrR"}, {"write", 0, "SERIAL", "d"},
    {"string", 0, "SERIAL", "dDlHrR"},  {"fwload", 2, "SERIAL DEVICE IMAGE", "nN"},
};

const option kOptions[] = {{"trace-dir", required_argument, nullptr, 't'}, {"verbose", no_argument, nullptr, 'v'},
                           {"json", no_argument, nullptr, 'j'},           {"help", no_argument, nullptr, 'h'},
                           {"version", no_argument, nullptr, 'V'},        {"length", required_argument, nullptr, 'l'},
                           {"raw", no_argument, nullptr, 'R'},            {"data", required_argument, nullptr, 'd'},
                           {"delay", required_argument, nullptr, 'D'},    {"no-wait", no_argument, nullptr, 'n'},
                           {"dry-run", no_argument, nullptr, 'N'},        {nullptr, 0, nullptr, 0}};
constexpr const char* kShortOptions = "vhHr";

void (*g_sleepMicroseconds)(std::uint64_t) = nullptr;  // the module's own

std::string optionName(int c) {
  for (const option& o : kOptions) {
    if (o.name != nullptr && o.val == c) return std::string("--") + o.name;
  }
  return std::string("-") + static_cast<char>(c);
}

// The option getopt_long refused. A long one (unknown, ambiguous, or with
// its argument missing or unwanted) is the word it has just stepped over.
// A short letter may stand inside a cluster that getopt has not left yet,
// where that word is the one before the cluster, so it is named alone.
std::string refusedOption(char** argv) {
  const std::string_view word = argv[optind - 1];
  if (word.starts_with("--")) {
    const std::string_view given = word.substr(2, word.find('=') - 2);
    if (optopt == 0) return std::string(word);
    for (const option& o : kOptions) {
      if (o.name != nullptr && o.val == optopt && !given.empty() && std::string_view(o.name).starts_with(given)) {
        return std::string(word);
      }
    }
  }
  return std::string("-") + static_cast<char>(optopt);
}

// The short names a command line takes, as the help text lists them.
std::string knownPageNames() {
  std::string names;
  for (const SesPageNameRow& row : KIV_SesPageNameTable()) {
    names.append(names.empty() ? "" : " ").append(row.shortName);
    if (row.alias != nullptr) names.append(" ").append(row.alias);
  }
  return names;
}

nlohmann::ordered_json pageJson(std::uint8_t code) {
  const char* shortName = KIV_SesPageShortName(code);
  return {{"code", code}, {"name", KIV_SesPageName(code)},
          {"short_name", shortName != nullptr ? nlohmann::ordered_json(shortName) : nlohmann::ordered_json()}};
}

std::string pageText(std::uint8_t code) {
  char text[64];
  const char* shortName = KIV_SesPageShortName(code);
  std::snprintf(text, sizeof text, "0x%02X %s%s%s%s", code, KIV_SesPageName(code), shortName ? " (" : "",
                shortName ? shortName : "", shortName ? ")" : "");
  return text;
}

// A bad command line or bad input: one line, the usage where the command
// line itself is wrong, status 11.
int badInput(Run& run, const std::string& why, bool usage) {
  std::fprintf(stderr, "%s: %s\n%s", kName, why.c_str(), usage ? kUsage : "");
  kiv::cli::addMessage(run.doc, "error", std::string(kName) + ": " + why);
  return SESCLI_ExitBadInput;
}

// ---- what the module tells the program ----

// ", adapter result NAME (CODE)", as failure and -v lines name it.
std::string adapterResultText(const std::string& name, std::int32_t app) {
  return ", adapter result " + name + " (" + std::to_string(app) + ")";
}

void requestDone(const SesRequestResult& r) {
  g_run->lastRequest = r;
  if (!g_run->verbose) return;
  const std::int32_t app = r.applicationResult;
  const std::string adapter = app != 0 ? adapterResultText(GetDebugErrorString(app, kCategoryAdapterResult), app) : "";
  tell(*g_run, "%s: %s page 0x%02X, %u bytes: rc=%d (%s)%s\n", kName,
       r.send ? "SEND DIAGNOSTIC" : "RECEIVE DIAGNOSTIC RESULTS", r.pageCode, r.length, r.rc, SES_ResultName(r.rc),
       adapter.c_str());
}

void sleepMicroseconds(std::uint64_t microseconds) {
  if (microseconds == 0) return g_sleepMicroseconds(0);
  if (g_run->verbose) tell(*g_run, "%s: waiting %llu us\n", kName, static_cast<unsigned long long>(microseconds));
  // Only the module's retries wait in microseconds; a download makes none,
  // but --no-wait skips them too.
  if (!g_run->noWait) g_sleepMicroseconds(microseconds);
}

// ---- the command line ----

// Parses and checks the command line and every input before anything is
// sent; SESCLI_ExitDone when the verb may run.
int parse(Run& run, int argc, char** argv) {
  std::string given;  // option letters seen, for the verb check
  const char* dataArg = nullptr;
  std::string lengthArg, delayArg;
  bool help = false, version = false;
  opterr = 0;
  optind = 0;
  for (int c; (c = getopt_long(argc, argv, kShortOptions, kOptions, nullptr)) != -1;) {
    switch (c) {
      case 't': run.traceDir = optarg; break;
      case 'v': run.verbose = true; break;
      case 'j': run.json = true; break;
      case 'h': help = true; break;
      case 'V': version = true; break;
      case 'l': lengthArg = optarg; break;
      case 'H': run.hexDump = true; break;
      case 'r': run.hexPairs = true; break;
      case 'R': run.raw = true; break;
      case 'd': dataArg = optarg; break;
      case 'D': delayArg = optarg; break;
      case 'n': run.noWait = true; break;
      case 'N': run.dryRun = true; break;
      default: return badInput(run, "unknown option or missing argument: " + refusedOption(argv), true);
    }
    given += static_cast<char>(c);
  }
  if (help) {
    std::printf("%s%sPAGE: 0 to 255 (decimal, or hex with 0x), or one of: %s\n", kUsage, kHelp, knownPageNames().c_str());
    return -1;
  }
  if (version) {
    std::printf("%s %s\n", kName, kiv::cli::projectVersion().data());
    return -1;
  }
  if (optind >= argc) return badInput(run, "no verb given", true);
  run.verb = argv[optind];
  const Verb* verb = std::find_if(std::begin(kVerbs), std::end(kVerbs), [&](const Verb& v) { return run.verb == v.name; });
  if (verb == std::end(kVerbs)) return badInput(run, "unknown verb '" + run.verb + "'", true);
  run.doc["verb"] = run.verb;
  for (char c : given) {
    if (std::strchr("tvjhV", c) == nullptr && std::strchr(verb->options, c) == nullptr) {
      return badInput(run, optionName(c) + " does not apply to " + run.verb, true);
    }
  }
  const int operands = argc - optind - 2;
  if (operands != verb->operands) return badInput(run, run.verb + " takes " + verb->operandNames, true);
  run.serial = argv[optind + 1];
  run.doc["serial"] = run.serial;
  if (run.serial.empty() || run.serial.size() > SRB::kSerialNumberMax) {
    return badInput(run, "serial number '" + run.serial + "' is not 1 to " + std::to_string(SRB::kSerialNumberMax) +
                             " characters", false);
  }
  if (run.raw + run.hexPairs + run.hexDump > 1) return badInput(run, "give one of -H, -r and --raw", true);
  if (run.raw && run.json) return badInput(run, "--raw and --json both write standard output", true);
  if (!lengthArg.empty() && (!parseNumber(lengthArg, SRB::kMaxPageLength, run.length) || run.length == 0)) {
    return badInput(run, "--length must be 1 to " + std::to_string(SRB::kMaxPageLength) + ", not " + lengthArg, false);
  }
  if (!delayArg.empty() && !parseNumber(delayArg, 60000, run.delayMilliseconds)) {
    return badInput(run, "--delay must be 0 to 60000 milliseconds, not " + delayArg, false);
  }
  if (verb->options[0] == 'd' && dataArg == nullptr) return badInput(run, run.verb + " needs --data", true);
  if (dataArg != nullptr) {
    if (std::string why = readPageData(dataArg, SRB::kMaxPageLength, run.data); !why.empty()) {
      return badInput(run, "--data: " + why, false);
    }
  }
  if (run.verb == "read") {
    const std::string page = argv[optind + 2];
    std::uint32_t code = 0;
    if (parseNumber(page, UINT8_MAX, code)) {
      run.page = static_cast<std::uint8_t>(code);
    } else if (page.find_first_not_of("0123456789xX") == std::string::npos) {
      return badInput(run, "page number " + page + " is not 0 to 255", false);
    } else if (!KIV_FindSesPageByShortName(page.c_str(), &run.page)) {
      return badInput(run, "unknown page '" + page + "'; known: " + knownPageNames(), false);
    }
  }
  if (run.verb == "fwload") {
    std::uint32_t device = 0;
    const std::string deviceArg = argv[optind + 2];
    if (!parseNumber(deviceArg, SesDownloadPage::kMaxDeviceNumber, device)) {
      return badInput(run, "device number must be 0 to " + std::to_string(SesDownloadPage::kMaxDeviceNumber) +
                               ", not '" + deviceArg + "'", false);
    }
    run.device = static_cast<int>(device);
    run.imagePath = argv[optind + 3];
    if (std::string why = readRegularFile(run.imagePath, UINT32_MAX, run.image); !why.empty()) {
      return badInput(run, "image: " + why, false);
    }
  }
  return SESCLI_ExitDone;
}

// Traces where the utility traces when run as root, into a directory of
// the caller's choice with --trace-dir, and not at all otherwise. The
// directory given is checked last of all the input, as it is opened: it
// must be new or hold only kivses traces, since housekeeping tidies it at
// exit, and the run then uses it as opened. 11 when it is refused.
int openTrace(Run& run, int argc, char** argv) {
  if (run.traceDir != nullptr) {
    std::string why;
    const int traced = KIV_OpenTraceFileIn(run.traceDir, kName, why);
    if (traced == KIV_TraceDirRefused) return badInput(run, why, false);
    if (traced == KIV_TraceDirUntraced) tell(run, "%s: no trace file in %s; going on untraced\n", kName, run.traceDir);
  } else if (geteuid() == 0) {
    KIV_OpenTraceFile(kName);
  }
  RecordCommandLine(argc, argv);
  return SESCLI_ExitDone;
}

// ---- the verbs ----

// The page's own length (bytes 2 and 3, plus the header) when it is shorter
// than what was asked for.
std::uint32_t shownLength(const std::vector<std::uint8_t>& page, std::uint32_t asked) {
  if (asked < kPageHeader) return asked;
  return std::min<std::uint32_t>(asked, kPageHeader + kiv::wire::get16be(page, kPageLengthField));
}

std::vector<std::uint8_t> supportedCodes(const std::vector<std::uint8_t>& page, std::uint32_t shown) {
  return shown > SUP::kCodes ? std::vector<std::uint8_t>(page.begin() + SUP::kCodes, page.begin() + shown)
                             : std::vector<std::uint8_t>{};
}

void sayStatus(const Run& run, std::uint8_t status) {
  say(run, "short enclosure status of %s: %u (%s)\n", run.serial.c_str(), status, status == SES::kGood ? "good" : "not good");
}

void saySupported(Run& run, const std::vector<std::uint8_t>& page, std::uint32_t shown) {
  for (std::uint8_t c : supportedCodes(page, shown)) say(run, "%s\n", pageText(c).c_str());
}

// String In as text: printable characters as themselves, others escaped.
void sayStringIn(const Run& run, const std::vector<std::uint8_t>& page, std::uint32_t shown) {
  std::string text;
  for (std::uint32_t i = kPageHeader; i < shown; ++i) {
    char escaped[8];
    const std::uint8_t b = page[i];
    if (b >= 0x20 && b <= 0x7E && b != '"' && b != '\\') {
      text += static_cast<char>(b);
    } else {
      std::snprintf(escaped, sizeof escaped, "\\x%02x", b);
      text += escaped;
    }
  }
  say(run, "String In of %s, %u bytes: \"%s\"\n", run.serial.c_str(), shown - kPageHeader, text.c_str());
}

// Shows a page that was read as the options ask: decoded (pages 0, 4 and
// 8, when their header came back), hex dump, hex pairs or raw bytes; in
// the document as hex.
void showPage(Run& run, std::uint8_t code, const std::vector<std::uint8_t>& page, std::uint32_t shown) {
  run.doc["page"] = pageJson(code);
  run.doc["length"] = shown;
  run.doc["data"] = hexText(page.data(), shown);
  if (run.json) return;
  const bool decoded = !run.hexDump && shown >= kPageHeader;
  if (run.raw) {
    std::fwrite(page.data(), 1, shown, stdout);
  } else if (run.hexPairs) {
    const std::string hex = hexText(page.data(), shown);
    for (std::size_t i = 0; i < hex.size(); i += 2) {
      say(run, "%.2s%s", hex.data() + i, (i / 2) % 16 == 15 || i + 2 == hex.size() ? "\n" : " ");
    }
  } else if (decoded && code == SUP::kPageCode) {
    saySupported(run, page, shown);
  } else if (decoded && code == SES::kPageCode) {
    sayStatus(run, page[SES::kStatusByte]);
  } else if (decoded && code == SesDownloadPage::kPageCode) {
    sayStringIn(run, page, shown);
  } else {
    const std::string title = "page " + pageText(code) + " of " + run.serial;
    DumpBinaryToStdout(title.c_str(), page.data(), static_cast<std::int32_t>(shown));
  }
}

// Reads length bytes of a page into page; the exit status of a failure,
// or nothing.
std::optional<int> readPage(Run& run, std::uint8_t code, std::uint32_t length, std::vector<std::uint8_t>& page) {
  page.assign(length, 0);
  const std::int32_t rc = runOperation(run, [&] { return SES_ReadPage(run.serial.c_str(), code, length, page.data()); });
  if (rc == SES_Success) return std::nullopt;
  char operation[48];
  std::snprintf(operation, sizeof operation, "SES_ReadPage of page 0x%02X", code);
  return failed(run, operation, rc);
}

int listVerb(Run& run) {
  std::vector<std::uint8_t> page;
  if (const std::optional<int> failure = readPage(run, SUP::kPageCode, run.length, page)) return *failure;
  const std::uint32_t shown = shownLength(page, run.length);
  run.doc["pages"] = nlohmann::ordered_json::array();
  for (std::uint8_t c : supportedCodes(page, shown)) run.doc["pages"].push_back(pageJson(c));
  saySupported(run, page, shown);
  return SESCLI_ExitDone;
}

int statusVerb(Run& run) { return readShortStatus(run); }

int readVerb(Run& run) {
  std::vector<std::uint8_t> page;
  run.doc["page"] = pageJson(run.page);
  if (const std::optional<int> failure = readPage(run, run.page, run.length, page)) return *failure;
  showPage(run, run.page, page, shownLength(page, run.length));
  return SESCLI_ExitDone;
}

int writeVerb(Run& run) {
  const std::uint8_t code = run.data[0];
  const auto length = static_cast<std::uint32_t>(run.data.size());
  const std::int32_t rc = runOperation(run, [&] { return SES_WritePage(run.serial.c_str(), length, run.data.data()); });
  run.doc["page"] = code;
  run.doc["length"] = length;
  char operation[48];
  std::snprintf(operation, sizeof operation, "SES_WritePage of page 0x%02X", code);
  if (rc != SES_Success) return failed(run, operation, rc);
  say(run, "wrote page %s to %s, %u bytes\n", pageText(code).c_str(), run.serial.c_str(), length);
  return SESCLI_ExitDone;
}

int stringVerb(Run& run) {
  std::vector<std::uint8_t> page(run.length);
  const std::int32_t rc = runOperation(run, [&] {
    return SES_ReadStringPage(run.serial.c_str(), static_cast<std::uint32_t>(run.data.size()), run.data.data(), run.length,
                              page.data(), run.delayMilliseconds);
  });
  if (rc != SES_Success) return failed(run, "SES_ReadStringPage", rc);
  showPage(run, SesDownloadPage::kPageCode, page, shownLength(page, run.length));
  return SESCLI_ExitDone;
}

int runVerb(Run& run) {
  if (run.verb == "list") return listVerb(run);
  if (run.verb == "status") return statusVerb(run);
  if (run.verb == "read") return readVerb(run);
  if (run.verb == "write") return writeVerb(run);
  if (run.verb == "string") return stringVerb(run);
  return fwload(run);
}

}  // namespace

Run* g_run = nullptr;

int readShortStatus(Run& run) {
  std::vector<std::uint8_t> page;
  if (const std::optional<int> failure = readPage(run, SES::kPageCode, SES::kLength, page)) return *failure;
  const std::uint8_t status = page[SES::kStatusByte];
  run.doc["status"] = status;
  run.doc["good"] = status == SES::kGood;
  sayStatus(run, status);
  return status == SES::kGood ? SESCLI_ExitDone : SESCLI_ExitNotGood;
}

void say(const Run& run, const char* format, ...) {
  if (run.json) return;
  va_list ap;
  va_start(ap, format);
  std::vprintf(format, ap);
  va_end(ap);
}

void tell(Run& run, const char* format, ...) {
  if (run.progressShown) {
    std::fputc('\n', stderr);
    run.progressShown = false;
  }
  va_list ap;
  va_start(ap, format);
  std::vfprintf(stderr, format, ap);
  va_end(ap);
}

int failed(Run& run, const std::string& operation, std::int32_t rc, const std::string& more) {
  std::string line = std::string(kName) + ": " + run.serial + ": " + operation + " failed: rc=" + std::to_string(rc) + " (" +
                     SES_ResultName(rc) + ")";
  if (run.lastRequest && run.lastRequest->applicationResult != 0) {
    const std::int32_t app = run.lastRequest->applicationResult;
    const std::string name = GetDebugErrorString(app, kCategoryAdapterResult);
    line += adapterResultText(name, app);
    run.doc["adapter_result"] = {{"code", app}, {"name", name}};
  }
  line += more;
  tell(run, "%s\n", line.c_str());
  kiv::cli::addMessage(run.doc, "error", line);
  return rc == SES_Busy ? SESCLI_ExitBusy : SESCLI_ExitFailed;
}

}  // namespace kivsescli

int KIV_SesCliMain(int argc, char** argv) {
  using namespace kivsescli;
  Run run;
  run.doc = kiv::cli::makeEnvelope(kName, kFormatMajor, kFormatMinor, argc, argv);
  run.doc["verb"] = nullptr;
  run.doc["serial"] = nullptr;
  // --json is known before anything can go wrong, so that a bad command
  // line too ends with its document.
  for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i) run.json |= std::strcmp(argv[i], "--json") == 0;
  g_run = &run;
  int status = parse(run, argc, argv);
  if (status < 0) return SESCLI_ExitDone;  // --help or --version
  if (status == SESCLI_ExitDone) status = openTrace(run, argc, argv);
  if (status == SESCLI_ExitDone) {
    run.progressInPlace = isatty(STDERR_FILENO) == 1;
    SES_RequestDone = requestDone;
    g_sleepMicroseconds = SES_SleepMicroseconds;
    SES_SleepMicroseconds = sleepMicroseconds;
    status = runVerb(run);
    SES_CloseCIConnection();
  }
  if (run.json) kiv::cli::printDocument(run.doc, status);
  std::fflush(stdout);
  return status;
}
