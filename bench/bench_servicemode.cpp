// Times whole runs of kivservicemode against the simulated adapter, each
// case with and without --json side by side (and the document alone): a query that finds the pair
// out of service mode (its trace deleted at exit) and an enable that clears
// the partner first (four requests, its trace compressed at exit). Each run
// is a forked child, as a process of its own would be, with its trace in a
// temporary folder and its standard output and error on /dev/null.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/kivbench.h"
#include "debug/kivdebug.h"
#include "nicisim/nicisim.h"
#include "servicemode/kivservicemode.h"
#include "servicemode/kivservicemodejson.h"

namespace {

std::string g_dir;  // the benchmark's folder: the adapter's state and the traces

// A fresh adapter with the partner 1R in service mode when asked, and an
// empty trace folder.
void stage(bool partnerIn) {
  nicisim::State s;
  s.ports[1].serviceMode = partnerIn;
  std::ofstream(g_dir + "/adapter.state", std::ios::trunc) << nicisim::serialize(s);
  std::filesystem::remove_all(g_dir + "/traces");
  std::filesystem::create_directory(g_dir + "/traces");
  std::filesystem::remove(g_dir + "/adapter.state.log");
}

int runUtility(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const std::string traces = g_dir + "/traces";
  const pid_t pid = fork();
  if (pid == 0) {
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, STDOUT_FILENO);
    dup2(null, STDERR_FILENO);
    KIV_DebugDir = traces.c_str();
    KIV_ServiceModeMain(static_cast<int>(args.size()), argv.data());
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

double medianMicroseconds(std::vector<double> v) {
  std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// Each iteration is one run without --json and one with it, in turns so
// that both meet the same load on a shared machine; the counters are the
// median run of each and the overhead of --json on the medians.
void runPair(benchmark::State& state, const char* action, bool partnerIn) {
  const std::vector<std::string> plain{"kivservicemode", "-a", "A0", "-p", "1L", action};
  std::vector<std::string> json = plain;
  json.push_back("--json");
  std::vector<double> times[2];
  bool jsonFirst = false;
  for (auto _ : state) {
    for (int k = 0; k < 2; ++k) {
      const bool withJson = (k == 0) == jsonFirst;
      state.PauseTiming();
      stage(partnerIn);
      state.ResumeTiming();
      const auto start = std::chrono::steady_clock::now();
      if (runUtility(withJson ? json : plain) != 0) state.SkipWithError("the run did not end with status 0");
      times[withJson].push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
    }
    jsonFirst = !jsonFirst;
  }
  const double without = medianMicroseconds(times[0]), with = medianMicroseconds(times[1]);
  state.counters["plain_us"] = without;
  state.counters["json_us"] = with;
  state.counters["json_overhead_pct"] = without > 0 ? 100.0 * (with - without) / without : 0;
}

// What --json adds inside a run: the document of an enable with four
// requests, built and written out (to a string here, to standard output in
// a run).
void buildDocument(benchmark::State& state) {
  std::vector<std::string> args{"kivservicemode", "-a", "A0", "-p", "1L", "-y", "--json"};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  adapterDeviceParam = "A0";
  nAdapterPortNumber = 1;
  bServiceMode = 1;
  SentPortRequests = {{FN_ADAP_GetFCLoopMap, 1, PortRequestRecord::kRead, 0, 0, false},
                      {FN_ADAP_GetFCLoopMap, 2, PortRequestRecord::kRead, 0, 0, false},
                      {FN_ADAP_ServiceMode, 2, 0, 0, 0, false},
                      {FN_ADAP_ServiceMode, 1, 1, 0, 0, false}};
  ServiceModeReport report;
  report.argc = static_cast<int>(argv.size());
  report.argv = argv.data();
  report.commandLineGood = true;
  report.ownRead = PortRead{0, 0};
  report.partnerRead = PortRead{0, 1};
  report.resultLine = "Service Mode 1 to port 1 success";
  for (auto _ : state) benchmark::DoNotOptimize(ServiceModeDocument(report, 0).dump());
}

}  // namespace

BENCHMARK_CAPTURE(runPair, query, "-q", false)->Unit(benchmark::kMicrosecond)->UseRealTime()->Iterations(300);
BENCHMARK_CAPTURE(runPair, enable_clearing_partner, "-y", true)->Unit(benchmark::kMicrosecond)->UseRealTime()->Iterations(300);
BENCHMARK(buildDocument)->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv) {
  g_dir = kivbench::makeTempDir();
  setenv("KIVADAPSIM_STATE", (g_dir + "/adapter.state").c_str(), 1);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::filesystem::remove_all(g_dir);
  return 0;
}
