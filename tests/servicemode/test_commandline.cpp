// Command lines: what reaches standard error, the exit status, and the
// parse traces.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "adapci/kivadapci.h"
#include "debug/kivdebug.h"
#include "nicifake.h"
#include "servicemode/kivservicemode.h"
#include "smtest.h"

namespace smtest {

namespace {
Run* g_run = nullptr;
std::string g_reportPath;

std::string describeRequests() {
  namespace ARB = AdapterRequestBlock;
  std::string out;
  for (const auto& b : nicifake::state().sentBlocks) {
    if (!out.empty()) out += ' ';
    if (b.size() < ARB::kData + 2) {
      out += '?';
      continue;
    }
    std::uint16_t tr = kiv::wire::get16be(b, ARB::kTransaction);
    char kind = tr == FN_ADAP_GetFCLoopMap ? 'Q' : (b[ARB::kData + 1] != 0 ? 'S' : 'C');
    out += kind;
    out += std::to_string(b[ARB::kData]);
  }
  return out;
}

void reportAtExit() {
  if (FILE* f = std::fopen(g_reportPath.c_str(), "w")) {
    std::fprintf(f, "%d %d %s", UsingIntelligentTracing, FinalReturnCode, describeRequests().c_str());
    std::fclose(f);
  }
}
}  // namespace

Run runUtility(const std::vector<std::string>& args, const std::vector<Answer>& answers,
               const std::vector<int>& openResults, const std::string& argv0) {
  kivtest::TempDir tmp;
  const std::string dir = tmp.file("traces");
  g_reportPath = tmp.file("report");
  Run run;
  g_run = &run;
  run.child = kivtest::runInChild([&] {
    KIV_DebugDir = dir.c_str();
    nicifake::reset();
    for (int v : openResults) nicifake::state().openResults.push_back(v);
    for (const Answer& a : answers) {
      nicifake::Send s;
      s.answer = [a](std::vector<std::uint8_t>& block) {
        namespace ARB = AdapterRequestBlock;
        kiv::wire::put16be(block, ARB::kApplicationResult, static_cast<std::uint16_t>(a.app));
        kiv::wire::put8(block, ARB::kDirectiveStatus, static_cast<std::uint8_t>(a.directive));
        if (block.size() >= 3208) {
          // Other bits of the word are set too, so only the 0x40 bit may count.
          kiv::wire::put32le(block, 3204, a.inServiceMode ? 0x00A1B2F3u : 0x00A1B2B3u);
        }
      };
      nicifake::state().sends.push_back(std::move(s));
    }
    std::atexit(reportAtExit);
    std::vector<std::string> storage;
    storage.push_back(argv0);
    storage.insert(storage.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& s : storage) argv.push_back(s.data());
    argv.push_back(nullptr);
    KIV_ServiceModeMain(static_cast<int>(storage.size()), argv.data());
  });
  std::string report = kivtest::readFile(g_reportPath);
  int used = 0, frc = 0, consumed = 0;
  if (std::sscanf(report.c_str(), "%d %d %n", &used, &frc, &consumed) >= 2) {
    run.usingIntelligentTracing = used;
    run.finalReturnCode = frc;
    run.requests = report.substr(static_cast<std::size_t>(consumed));
  }
  run.trace = kivtest::readOnlyTrace(dir);
  g_run = nullptr;
  return run;
}

}  // namespace smtest

namespace {

const std::string kUsage =
    "Usage: \n <1kivservicemode> -a adapter -p port {-y|-n|-q} \n"
    "               -a = kiv adapter name \n"
    "               -p = the adapter port (1L, 1R, 2L, 2R) \n"
    "               -y = enable \n"
    "               -n = disable \n"
    "               -q = query \n";

struct LineCase {
  std::vector<std::string> args;
  int status;
  std::string err;
};

TEST(CommandLine, StandardErrorAndStatusOfEachCommandLine) {
  const LineCase cases[] = {
      {{}, 11, kUsage},
      {{"-a", "A0", "-p", "1L"}, 11, kUsage},
      {{"-a", "A0", "-p", "1l", "-q"}, 0, "Port 1 is not in Service Mode\n"},
      {{"-p", "2r", "-y", "-a", "A0"}, 0, "Service Mode 1 to port 4 success\n"},
      {{"-a", "A0", "-p", "1L", "-y", "-n"}, 11, kUsage},
      {{"-a", "A0", "-p", "1L", "-q", "-q"}, 11, kUsage},
      {{"-a", "A0", "-a", "A1", "-p", "1L", "-q"}, 11, kUsage},
      {{"-a", "A0", "-p", "3L", "-q"}, 11, kUsage},
      {{"-a", "A0", "-p", "1L ", "-q"}, 11, kUsage},
      {{"-a", "A0", "-p", "1LX", "-q"}, 11, kUsage},
      {{"-a", "A0", "-p", "1L", "-p", "1R", "-q"}, 11, kUsage},
      {{"-a", "A0", "-p", "1L", "-q", "extra", "more"}, 11,
       "kivservicemode: Unprocessed parameters at end of command line: extra more \n" + kUsage},
      {{"-a", "A0", "-x", "-p", "1L", "-q"}, 11, kUsage},
      {{"-a", "A0", "-q", "-p"}, 11, kUsage},
      {{"-a", "A0", "-p", "2L", "-n"}, 0, "Service Mode 0 to port 3 success\n"},
      {{"-q", "-p", "1R"}, 11, kUsage},
  };
  for (const LineCase& c : cases) {
    std::string line;
    for (const auto& a : c.args) line += a + " ";
    smtest::Run run = smtest::runUtility(c.args, {});
    EXPECT_EQ(run.child.status, c.status) << line;
    EXPECT_EQ(run.child.err, c.err) << line;
    EXPECT_EQ(run.child.out, "") << line;
    if (c.status == 11) {
      EXPECT_EQ(run.requests, "") << line;
    }
  }
}

TEST(CommandLine, NameComesFromTheLastComponentOfArgv0) {
  smtest::Run run = smtest::runUtility({"extra"}, {}, {}, "/usr/sbin/kivservicemode");
  EXPECT_EQ(run.child.err.substr(0, 16), "kivservicemode: ");
  run = smtest::runUtility({}, {}, {}, "kivsm");
  EXPECT_NE(run.child.err.find(" <1kivsm> -a adapter"), std::string::npos);
  EXPECT_TRUE(run.trace.starts_with("Program kivsm started.\n"));
}

std::vector<std::string> parseEvents(const std::string& trace) {
  std::vector<std::string> out;
  for (const auto& e : kivtest::traceEvents(trace)) {
    if (e.starts_with("kivservicemode:ParseParams")) out.push_back(e.substr(15));
  }
  return out;
}

TEST(CommandLine, ParseTraces) {
  smtest::Run run = smtest::runUtility({"-a", "A0", "-p", "3L", "-p", "1r", "-y", "-q"}, {});
  EXPECT_EQ(parseEvents(run.trace), (std::vector<std::string>{
                                        "ParseParams: entry 9 -a ",
                                        "ParseParams: Adapter: A0 ",
                                        "ParseParams: Adapter Port Number: 4294967295 ",
                                        "ParseParams: Adapter Port Number: 2 ",
                                        "ParseParams: Enable: 1 ",
                                        "ParseParams: exiting function rc: 11",
                                    }));
  run = smtest::runUtility({}, {});
  EXPECT_EQ(parseEvents(run.trace),
            (std::vector<std::string>{"ParseParams: entry 1 (none) ", "ParseParams: exiting function rc: 11"}));
  run = smtest::runUtility({"-n", "-a", "A0", "-p", "2R"}, {});
  EXPECT_EQ(parseEvents(run.trace),
            (std::vector<std::string>{"ParseParams: entry 6 -n ", "ParseParams: Enable: 0 ",
                                      "ParseParams: Adapter: A0 ", "ParseParams: Adapter Port Number: 4 ",
                                      "ParseParams: exiting function rc: 0"}));
}

}  // namespace
