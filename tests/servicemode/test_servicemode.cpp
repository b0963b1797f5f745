// The utility against the fake library: each command line and each state of
// a port and its partner, shown by the requests sent (byte for byte), what
// the operator is told, the exit status, the intelligent-tracing mark and
// the utility's own trace lines.
#include <sys/resource.h>

#include <gtest/gtest.h>

#include <iterator>
#include <nlohmann/json.hpp>
#include <sstream>

#include "debug/kivdisposition.h"
#include "kivblocks.h"
#include "kivtestsupport.h"
#include "nicifake.h"
#include "servicemode/kivportrequests.h"
#include "servicemode/kivservicemode.h"

namespace {

namespace ARB = AdapterRequestBlock;

// An answer: the application result, the service-mode word of a loop-map
// answer, a header byte or'ed with a value, the size reported, the send's
// result. Only bit 0x40 of the word's first byte is the flag: "in" sets no
// other bit, "out" every other bit.
nicifake::Send answer(std::int16_t app, std::uint32_t word, std::size_t at = 0, std::uint8_t value = 0,
                      std::optional<std::uint32_t> size = {}, int rc = 0) {
  return {rc, EIO, 0, [=](std::vector<std::uint8_t>& b) {
            kiv::wire::put16be(b, ARB::kApplicationResult, static_cast<std::uint16_t>(app));
            b[at] |= value;
            if (b.size() == LoopMapRequest::kBlockSize) kiv::wire::put32le(b, LoopMapRequest::kServiceModeWord, word);
          }, size};
}
constexpr std::uint32_t kIn = 0xBFBFBF40, kOut = 0x404040BF;
const nicifake::Send in = answer(0, kIn), out = answer(0, kOut), ok = out, warn = answer(1, kIn), down = answer(-689, kIn),
                     illegal = answer(-8, kIn), refused = answer(-34, kIn), other = answer(-2, kIn),
                     shortAnswer = answer(0, kIn, 0, 0, 100), lost = answer(0, kIn, 0, 0, {}, -1),
                     directive = answer(0, kIn, ARB::kDirectiveStatus, 253), network = answer(0, kIn, ARB::kNetworkResult, 7),
                     first = answer(0, kIn, ARB::kResultWordFirstByte, 1);

// " Q1" for each request that is, byte for byte, the loop-map read of port
// 1 of kivblocks.h, " C1" the clear, " S1" the set; " ?" any other block.
std::string requests() {
  std::string out;
  for (const auto& b : nicifake::state().sentBlocks) {
    std::string name = " ?";
    for (const std::string p : {"1", "2", "3", "4"}) {
      if (b == kivtest::blocks::loopMap(std::stoi(p))) name = " Q" + p;
      if (b == kivtest::blocks::serviceMode(std::stoi(p), 0)) name = " C" + p;
      if (b == kivtest::blocks::serviceMode(std::stoi(p), 1)) name = " S" + p;
    }
    out += name;
  }
  return out;
}

// A run: the command line (argv[0] first); the answers in the order of the
// requests; UsingIntelligentTracing and FinalReturnCode (-99: never set),
// then the requests; standard error; the exit status; a text found in the
// utility's trace lines, each followed by '|' ("" when the trace is gone);
// what every open returns; standard output: exactly this text, or, when it
// is a JSON object, a document whose fields hold these values; a file-size
// limit in bytes (0: none). Its trace is named after the command. A line
// with --json must leave standard error, the status, the trace and the
// requests as the same line without it.
struct Row {
  std::string line; std::vector<nicifake::Send> answers; std::string report, err; int status; std::string trace; int open = 0;
  std::string out = "";
  rlim_t fileSizeLimit = 0;
};
kivtest::Traced run(const Row& row, std::vector<std::string> args) {
  return kivtest::runTraced([&] {
    nicifake::state() = {.openResults = {row.open, row.open, row.open, row.open},
                         .sends = {row.answers.begin(), row.answers.end()}};
    const rlimit limit{row.fileSizeLimit, row.fileSizeLimit};
    if (row.fileSizeLimit != 0) setrlimit(RLIMIT_FSIZE, &limit);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    KIV_ServiceModeMain(static_cast<int>(args.size()), argv.data());
  }, nullptr, [] { return std::to_string(UsingIntelligentTracing) + " " + std::to_string(FinalReturnCode) + requests(); });
}
// The requests of a document, as "Q1L/0/0/AS_Success M1L=0/13/-8/AE_IllegalRequest": the read (Q) or
// the service-mode request (M, with its value) of a port, the exchange code, the result and its name.
std::string sent(const nlohmann::json& requests) {
  std::string out;
  for (const auto& r : requests) {
    const std::string kind = r["transaction"] == "FN_ADAP_GetFCLoopMap" ? "Q" : r["transaction"] == "FN_ADAP_ServiceMode" ? "M" : "?";
    // Appended piece by piece: GCC 12 misreads literal + temporary under -O3.
    out.append(out.empty() ? "" : " ").append(kind).append(r["port"]["name"].get<std::string>());
    if (r.contains("value")) out.append("=").append(r["value"].dump());
    out.append("/").append(r["exchange_code"].dump()).append("/").append(r["result"].dump());
    out.append("/").append(r["result_name"].get<std::string>());
  }
  return out;
}
void check(const Row& row) {
  std::istringstream line(row.line);
  std::vector<std::string> args{std::istream_iterator<std::string>(line), {}};
  const kivtest::Traced t = run(row, args);
  std::string mine;
  for (const std::string& e : t.events) mine += e.starts_with("kivservicemode:") ? e.substr(15) + "|" : "";
  SCOPED_TRACE(row.line + " with " + std::to_string(row.answers.size()) + " answers");
  EXPECT_EQ(t.report, row.report);
  EXPECT_EQ(t.err, row.err);
  EXPECT_EQ(t.status, row.status);
  EXPECT_NE(mine.find(row.trace), std::string::npos) << mine;
  EXPECT_TRUE(t.traceName.empty() || t.traceName.starts_with(args[0].substr(args[0].rfind('/') + 1) + ".")) << t.traceName;
  if (!row.out.starts_with("{")) {
    EXPECT_EQ(t.out, row.out);
    EXPECT_TRUE(row.out.empty() || t.traceName.empty()) << "help and version leave no trace: " << t.traceName;
    return;
  }
  const nlohmann::json doc = nlohmann::json::parse(t.out), want = nlohmann::json::parse(row.out);
  // "sent" stands for the requests, written as sent() writes them.
  for (const auto& [key, value] : want.items()) EXPECT_EQ(key == "sent" ? nlohmann::json(sent(doc["requests"])) : doc[key], value) << key;
  EXPECT_EQ(doc["exit_status"], row.status);
  EXPECT_EQ(doc["result_line"], t.err.ends_with(" \n") ? nlohmann::json() : nlohmann::json(t.err.substr(0, t.err.size() - 1)));
  std::erase(args, "--json");
  const kivtest::Traced plain = run(row, args);
  EXPECT_EQ(plain.out + plain.err + std::to_string(plain.status) + plain.report, t.err + std::to_string(t.status) + t.report);
  EXPECT_EQ(plain.events, t.events);
}

const std::string kUsage = "Usage: \n <1kivservicemode> -a adapter -p port {-y|-n|-q} \n               -a = kiv adapter name \n"
                           "               -p = the adapter port (1L, 1R, 2L, 2R) \n               -y = enable \n"
                           "               -n = disable \n               -q = query \n";

TEST(CommandLine, StandardErrorStatusAndParseTrace) {
  const std::string sm = "kivservicemode ", u = kUsage, left = "kivservicemode: Unprocessed parameters at end of command line: ",
                    help = "               --json = also one JSON object on standard output \n               --help = this text \n"
                           "               --version = the version \n";
  for (const char* args : {"-a A0 -p 1L", "-a A0 -p 1L -y -n", "-a A0 -p 1L -q -q", "-a A0 -a A1 -p 1L -q",
                           "-a A0 -p 3L -q", "-a A0 -p 1LX -q", "-a A0 -p 1L -p 1R -q", "-a A0 -x -p 1L -q",
                           "-a A0 -q -p", "-q -p 1R"})
    check({sm + args, {}, "0 -99", u, 11, ""});
  const Row rows[] = {
      {sm, {}, "0 -99", u, 11, "ParseParams: entry 1 (none) |ParseParams: exiting function rc: 11|"},
      {sm + "-a A0 -p 1l -q", {}, "1 0 Q1 Q2", "Port 1 is not in Service Mode\n", 0, ""},
      {sm + "-p 2r -y -a A0", {}, "0 -99 Q4 Q3 S4", "Service Mode 1 to port 4 success\n", 0,
       "ParseParams: entry 6 -p |ParseParams: Adapter Port Number: 4 |ParseParams: Enable: 1 |"
       "ParseParams: Adapter: A0 |ParseParams: exiting function rc: 0|"},
      {sm + "-a A0 -p 3L -p 1r -y -q", {}, "0 -99", u, 11,
       "ParseParams: entry 9 -a |ParseParams: Adapter: A0 |ParseParams: Adapter Port Number: 4294967295 |"
       "ParseParams: Adapter Port Number: 2 |ParseParams: Enable: 1 |ParseParams: exiting function rc: 11|"},
      {sm + "-a A0 -p 1L -q extra more", {}, "0 -99", left + "extra more \n" + u, 11, ""},
      {"/usr/sbin/kivservicemode -a A0 -p 1L -q extra", {}, "0 -99", left + "extra \n" + u, 11, ""},
      {"kivsm -n -a A0 -p 2R", {}, "0 -99 Q4 Q3", "Service Mode 0 to port 4 success\n", 0, "ParseParams: entry 6 -n |"
       "ParseParams: Enable: 0 |ParseParams: Adapter: A0 |ParseParams: Adapter Port Number: 4 |"
       "ParseParams: exiting function rc: 0|"},
      // --json, --help and --version only where getopt would read an option.
      {sm + "-a --json -p 1L -q", {}, "1 0 Q1 Q2", "Port 1 is not in Service Mode\n", 0, ""},
      {sm + "-a A0 -p 1L -q extra --json", {}, "0 -99", left + "extra --json \n" + u, 11, ""},
      {sm + "-a A0 -p 1L -q -- --help", {}, "0 -99", left + "--help \n" + u, 11, ""},
      {sm + "--help", {}, "0 -99", "", 0, "", 0, u + help},
      {sm + "-a A0 --version -x --json --help", {}, "0 -99", "", 0, "", 0, "kivservicemode " KIV_VERSION "\n"},
      // A bad command line with --json: what was wrong, each fault once.
      {sm + "--json -a A0 -p 3L -q -q", {}, "0 -99", u, 11, "ParseParams: entry 7 -a |", 0,
       R"j({"adapter": null, "action": null, "port": null, "partner": null, "service_mode": {"port": null, "partner": null},
           "requests": [], "changed": false, "messages": [
             {"severity": "error", "string": "-p 3L: not a port name (1L, 1R, 2L or 2R)"},
             {"severity": "error", "string": "more than one action option: give one of -y, -n and -q"}]})j"},
      {sm + "-xx --bogus -a A0 -a A1 -p 1L -p 1R --json -p", {}, "0 -99", u, 11, "", 0, R"j({"messages": [
         {"severity": "error", "string": "unknown option -x"}, {"severity": "error", "string": "unknown option --bogus"},
         {"severity": "error", "string": "option -a given more than once"},
         {"severity": "error", "string": "option -p given more than once"},
         {"severity": "error", "string": "option -p needs an argument"},
         {"severity": "error", "string": "no action option: give one of -y, -n and -q"}]})j"},
      {sm + "-a A0 -p 1L -q --json extra more", {}, "0 -99", left + "extra more \n" + u, 11, "", 0, R"j({"messages": [
         {"severity": "error", "string": "unprocessed parameters at end of command line: extra more"}]})j"},
      {sm + "--json", {}, "0 -99", u, 11, "", 0, R"j({"messages": [
         {"severity": "error", "string": "no action option: give one of -y, -n and -q"},
         {"severity": "error", "string": "no adapter: -a is required"}, {"severity": "error", "string": "no port: -p is required"}]})j"},
  };
  for (const Row& row : rows) check(row);
}

TEST(Flow, EveryStateOfThePortAndItsPartner) {
  const std::string q = "kivservicemode -a A0 -p 1L -q", y = "kivservicemode -a A0 -p 1L -y",
                    n = "kivservicemode -a A0 -p 1L -n", inSM = "Port 1 is in Service Mode\n",
                    outSM = "Port 1 is not in Service Mode\n", queryDown = "Query Service Mode failed, rc=FFFFFD4F\n",
                    queryBad = "Query Service Mode failed, rc=FFFFFFFD\n", on = "Service Mode 1 to port 1 success\n",
                    off = "Service Mode 0 to port 1 success\n", exchange = "exchange failed, SendAdapCIRequest rc: ", j = " --json";
  const Row rows[] = {
      {q, {in, out}, "0 -99 Q1 Q2", inSM, 1, "main: Port 1 is in Service Mode|"},
      {q, {warn, out}, "0 -99 Q1 Q2", inSM, 1, "isServiceMode: AS_Warning|isServiceMode: exit port(1) *pSM(1) rc: 0|"},
      {q, {out, out}, "1 0 Q1 Q2", outSM, 0, ""},
      {q, {out, in}, "0 -99 Q1 Q2", outSM, 0, "main: Port 1 is not in Service Mode|"},
      {q, {out, down}, "1 0 Q1 Q2", outSM, 0, ""},
      {q, {down, in}, "0 -99 Q1 Q2", queryDown, 47, "other port test, port 1 is not in servicemode|Query Service Mode failed|"},
      // The whole clear test: cleared, then set again (AS_Warning is success).
      {q, {down, out, ok, warn}, "0 -99 Q1 Q2 C1 S1", inSM, 1,
       "isServiceMode: Entry, port=1.|isServiceMode: SendAdapCIRequest rc: 13|isServiceMode: AE_LoopDown|"
       "isServiceMode: exit port(1) *pSM(0) rc: FFFFFD4F|isServiceMode: Entry, port=2.|"
       "isServiceMode: SendAdapCIRequest rc: 0|isServiceMode: exit port(2) *pSM(0) rc: 0|"
       "SetServiceMode: Entry, port=1 bServiceMode=0.|SetServiceMode: SendAdapCIRequest, rc: 0|"
       "SetServiceMode: exiting function rc: 0|SetServiceMode: Entry, port=1 bServiceMode=1.|"
       "SetServiceMode: SendAdapCIRequest, rc: 13|SetServiceMode: AS_Warning|SetServiceMode: exiting function rc: 0|"
       "main: clear test, port 1 is in servicemode|main: Port 1 is in Service Mode|"},
      {q, {down, down, illegal}, "1 0 Q1 Q2 C1", outSM, 0, ""},
      {q, {down, out, other}, "0 -99 Q1 Q2 C1", queryDown, 47, ""},
      // A re-set that fails leaves the port cleared: unread, with its result.
      {q, {down, out, ok, directive}, "0 -99 Q1 Q2 C1 S1", queryBad, 47, "main: clear test, port 1 not set again, rc: FFFFFFFD|"},
      // An answer that cannot be trusted reads as a failure, not as "not in service mode".
      {q, {shortAnswer, in}, "0 -99 Q1 Q2", queryBad, 47, "isServiceMode: " + exchange + "15, rc: FFFFFFFD|"},
      {q, {lost, in}, "0 -99 Q1 Q2", queryBad, 47, exchange + "11, rc: FFFFFFFD|"},
      {q, {directive, in}, "0 -99 Q1 Q2", queryBad, 47, exchange + "12, rc: FFFFFFFD|"},
      {q, {network, in}, "0 -99 Q1 Q2", queryBad, 47, exchange + "13, rc: FFFFFFFD|"},
      {q, {first, in}, "0 -99 Q1 Q2", queryBad, 47, exchange + "13, rc: FFFFFFFD|"},
      {"kivservicemode -a A0 -p 1R -q", {}, "0 -99", queryBad, 47, "isServiceMode: " + exchange + "10, rc: FFFFFFFD|", 10},
      {y, {in, out}, "0 -99 Q1 Q2", on, 0, "main: no work to do|main: Service Mode 1 to port 1 success|"},
      {y, {out, out, ok}, "0 -99 Q1 Q2 S1", on, 0, ""},
      {"kivservicemode -a A0 -p 2L -y", {out, in, ok, ok}, "0 -99 Q3 Q4 C4 S3", "Service Mode 1 to port 3 success\n", 0, ""},
      // The trace reaches a file-size limit early: its writes fail, the run goes on to its line.
      {"kivservicemode -a A0 -p 2L -y", {out, in, ok, ok}, "0 -99 Q3 Q4 C4 S3", "Service Mode 1 to port 3 success\n", 0, "", 0,
       "", 700},
      {y, {out, down, illegal, ok}, "0 -99 Q1 Q2 C2 S1", on, 0, ""},
      {y, {down, in, ok, ok}, "0 -99 Q1 Q2 C2 S1", on, 0, ""},
      {y, {out, out, refused}, "0 -99 Q1 Q2 S1", "Service Mode 1 to port 1 failed, rc=FFFFFFDE\n", 47,
       "main: Service Mode 1 to port 1 failed|"},
      {y, {down, out, down, down}, "0 -99 Q1 Q2 C1 S1", "Service Mode 1 to port 1 failed, rc=FFFFFD4F\n", 47, ""},
      {n, {out, in}, "0 -99 Q1 Q2", off, 0, "main: no work to do|"},
      {n, {in, out, ok}, "0 -99 Q1 Q2 C1", off, 0, ""},
      {n, {in, out, illegal}, "0 -99 Q1 Q2 C1", "Service Mode 0 to port 1 failed, rc=FFFFFFF8\n", 47, ""},
      {n, {down, in, ok}, "0 -99 Q1 Q2 C1", off, 0, ""},
      {n, {down, out, ok, ok, ok}, "0 -99 Q1 Q2 C1 S1 C1", off, 0, ""},
      {n, {down, out, ok, other, ok}, "0 -99 Q1 Q2 C1 S1 C1", off, 0, ""},
      {n, {down, out, illegal}, "0 -99 Q1 Q2 C1", off, 0, "illegal clear, port 1 is NOT in servicemode|main: no work to do|"},
      // --json: the reads, every request, and whether the run changed the pair.
      {y + j, {in, out}, "0 -99 Q1 Q2", on, 0, "main: no work to do|", 0,
       R"j({"adapter": "A0", "action": "enable", "port": {"name": "1L", "number": 1}, "partner": {"name": "1R", "number": 2},
           "service_mode": {"port": true, "partner": false}, "changed": false, "messages": [],
           "sent": "Q1L/0/0/AS_Success Q1R/0/0/AS_Success"})j"},
      {"kivservicemode -a A0 -p 2L -y" + j, {out, in, ok, ok}, "0 -99 Q3 Q4 C4 S3", "Service Mode 1 to port 3 success\n", 0, "", 0,
       R"j({"service_mode": {"port": false, "partner": true}, "changed": true,
           "sent": "Q2L/0/0/AS_Success Q2R/0/0/AS_Success M2R=0/0/0/AS_Success M2L=1/0/0/AS_Success"})j"},
      {q + j, {out, out}, "1 0 Q1 Q2", outSM, 0, "", 0, R"j({"action": "query", "service_mode": {"port": false, "partner": false}})j"},
      // The clear test is no read: the port stays null; set again, it changed nothing.
      {q + j, {down, out, ok, warn}, "0 -99 Q1 Q2 C1 S1", inSM, 1, "", 0,
       R"j({"service_mode": {"port": null, "partner": false}, "changed": false, "messages": [],
           "sent": "Q1L/13/-689/AE_LoopDown Q1R/0/0/AS_Success M1L=0/0/0/AS_Success M1L=1/13/1/AS_Warning"})j"},
      {q + j, {down, out, ok, directive}, "0 -99 Q1 Q2 C1 S1", queryBad, 47, "", 0,
       R"j({"changed": true, "messages": [{"severity": "error", "string": "Query Service Mode failed, rc=FFFFFFFD (AE_Failure)"}],
           "sent": "Q1L/13/-689/AE_LoopDown Q1R/0/0/AS_Success M1L=0/0/0/AS_Success M1L=1/12/-3/AE_Failure"})j"},
      {q + j, {down, in}, "0 -99 Q1 Q2", queryDown, 47, "", 0, R"j({"service_mode": {"port": null, "partner": true}, "changed": false})j"},
      {n + j, {down, out, illegal}, "0 -99 Q1 Q2 C1", off, 0, "", 0, R"j({"action": "disable", "changed": false})j"},
      {n + j, {down, out, ok, ok, ok}, "0 -99 Q1 Q2 C1 S1 C1", off, 0, "", 0, R"j({"changed": true})j"},
      {y + j, {out, out, refused}, "0 -99 Q1 Q2 S1", "Service Mode 1 to port 1 failed, rc=FFFFFFDE\n", 47, "", 0,
       R"j({"changed": false, "messages": [{"severity": "error", "string": "Service Mode 1 to port 1 failed, rc=FFFFFFDE (AE_InServiceMode)"}]})j"},
      // A set whose answer cannot be trusted may have been carried out; one never sent was not.
      {y + j, {out, out, directive}, "0 -99 Q1 Q2 S1", "Service Mode 1 to port 1 failed, rc=FFFFFFFD\n", 47, "", 0, R"j({"changed": true})j"},
      {"kivservicemode -a A0 -p 1R -q" + j, {}, "0 -99", queryBad, 47, "", 10,
       R"j({"changed": false, "sent": "Q1R/10/-3/AE_Failure Q1L/10/-3/AE_Failure M1R=0/10/-3/AE_Failure"})j"},
  };
  for (const Row& row : rows) check(row);
}

}  // namespace
