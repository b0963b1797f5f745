// The utility against the fake library: each command line and each state of
// a port and its partner, shown by the requests sent (byte for byte), what
// the operator is told, the exit status, the intelligent-tracing mark and
// the utility's own trace lines.
#include <sys/resource.h>

#include <gtest/gtest.h>

#include <iterator>
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
// what every open returns; a file-size limit in bytes (0: none). Its trace
// is named after the command.
struct Row {
  std::string line; std::vector<nicifake::Send> answers; std::string report, err; int status; std::string trace; int open = 0;
  rlim_t fileSizeLimit = 0;
};
void check(const Row& row) {
  std::istringstream line(row.line);
  std::vector<std::string> args{std::istream_iterator<std::string>(line), {}};
  kivtest::Traced t = kivtest::runTraced([&] {
    nicifake::state() = {.openResults = {row.open, row.open, row.open, row.open},
                         .sends = {row.answers.begin(), row.answers.end()}};
    const rlimit limit{row.fileSizeLimit, row.fileSizeLimit};
    if (row.fileSizeLimit != 0) setrlimit(RLIMIT_FSIZE, &limit);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    KIV_ServiceModeMain(static_cast<int>(args.size()), argv.data());
  }, nullptr, [] { return std::to_string(UsingIntelligentTracing) + " " + std::to_string(FinalReturnCode) + requests(); });
  std::string mine;
  for (const std::string& e : t.events) mine += e.starts_with("kivservicemode:") ? e.substr(15) + "|" : "";
  SCOPED_TRACE(row.line + " with " + std::to_string(row.answers.size()) + " answers");
  EXPECT_EQ(t.report, row.report);
  EXPECT_EQ(t.err, row.err);
  EXPECT_EQ(t.status, row.status);
  EXPECT_NE(mine.find(row.trace), std::string::npos) << mine;
  EXPECT_TRUE(t.traceName.empty() || t.traceName.starts_with(args[0].substr(args[0].rfind('/') + 1) + ".")) << t.traceName;
}

const std::string kUsage = "Usage: \n <1kivservicemode> -a adapter -p port {-y|-n|-q} \n               -a = kiv adapter name \n"
                           "               -p = the adapter port (1L, 1R, 2L, 2R) \n               -y = enable \n"
                           "               -n = disable \n               -q = query \n";

TEST(CommandLine, StandardErrorStatusAndParseTrace) {
  const std::string sm = "kivservicemode ", u = kUsage, left = "kivservicemode: Unprocessed parameters at end of command line: ";
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
  };
  for (const Row& row : rows) check(row);
}

TEST(Flow, EveryStateOfThePortAndItsPartner) {
  const std::string q = "kivservicemode -a A0 -p 1L -q", y = "kivservicemode -a A0 -p 1L -y",
                    n = "kivservicemode -a A0 -p 1L -n", inSM = "Port 1 is in Service Mode\n",
                    outSM = "Port 1 is not in Service Mode\n", queryDown = "Query Service Mode failed, rc=FFFFFD4F\n",
                    queryBad = "Query Service Mode failed, rc=FFFFFFFD\n", on = "Service Mode 1 to port 1 success\n",
                    off = "Service Mode 0 to port 1 success\n", exchange = "exchange failed, SendAdapCIRequest rc: ";
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
       700},
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
  };
  for (const Row& row : rows) check(row);
}

}  // namespace
