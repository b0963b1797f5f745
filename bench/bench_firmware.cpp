// Times a firmware download against the simulated enclosure: 1 MB and 4 MB
// images through SES_DownloadFwTransfer and SES_DownloadFwCommit, with the
// device's settling waits skipped, in a state folder of its own. The cost
// of one page must not grow with the image, so 4 MB should take about four
// times as long as 1 MB; "us/page" shows it per page. Beside them, the same
// 4 MB through the program, kivses fwload --no-wait, without and with
// --json: the program should take at most a tenth more than the functions
// with a trace open, as the program has one.
//   bench_firmware [benchmark options]
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "bench/kivbench.h"
#include "debug/kivtrace.h"
#include "nicisim/nicisim.h"
#include "ses/kivses.h"

namespace {

void noWaitSeconds(unsigned) {}
void noWaitMicroseconds(std::uint64_t) {}

void removeDir(const std::string& dir) {
  if (DIR* d = opendir(dir.c_str())) {
    while (const dirent* e = readdir(d))
      if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) unlink((dir + "/" + e->d_name).c_str());
    closedir(d);
  }
  rmdir(dir.c_str());
}

// Processor time (user and system) of this process or of its children, in
// milliseconds: less at the mercy of other work on the machine than the
// elapsed time.
double cpuMilliseconds(int who) {
  rusage u{};
  getrusage(who, &u);
  return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
}

std::vector<std::uint8_t> makeImage(std::uint32_t size) {
  std::vector<std::uint8_t> image(size);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 131 + (i >> 11));
  return image;
}

// A state folder with enclosure ENC1, the simulator pointed at it.
std::string makeSimulator() {
  const std::string dir = kivbench::makeTempDir();
  setenv("KIVADAPSIM_STATE", (dir + "/state").c_str(), 1);
  std::string why;
  nicisim::withState(
      [](nicisim::State& s) {
        s.enclosures.emplace_back().serial = "ENC1";
        return true;
      },
      why);
  return dir;
}

// Runs kivses with args, its output thrown away; its exit status.
int runKivses(std::vector<std::string> args) {
  args.insert(args.begin(), "kivses");
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  int status = -1;
  if (posix_spawn(&pid, KIVSES_PATH, &actions, nullptr, argv.data(), environ) == 0) waitpid(pid, &status, 0);
  posix_spawn_file_actions_destroy(&actions);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The simulator kept the whole image, committed; the folder is removed.
void checkKept(benchmark::State& state, const std::string& dir, std::uint32_t size) {
  std::uint64_t kept = 0;
  std::string why;
  nicisim::withState(
      [&](nicisim::State& s) {
        if (const nicisim::Device* d = s.find("ENC1")->device(5); d != nullptr && d->transfer == nicisim::kCommitted) {
          kept = d->length;
        }
        return false;
      },
      why);
  if (kept != size) state.SkipWithError("the simulator did not keep the whole image committed");
  removeDir(dir);
}

// The functions trace as they do in a program once a trace file is open.
// Once open, the trace stays open for the rest of the process; its folder
// is removed after the exit handler has finished with it.
std::string g_traceFolder;
void openTrace() {
  if (!g_traceFolder.empty()) return;
  g_traceFolder = kivbench::makeTempDir();
  std::atexit([] { removeDir(g_traceFolder + "/traces"); removeDir(g_traceFolder); });
  std::string why;
  static const std::string traces = g_traceFolder + "/traces";
  KIV_OpenTraceFileIn(traces.c_str(), "bench_firmware", why);
}

void Firmware(benchmark::State& state, bool traced) {
  if (traced) openTrace();
  const auto size = static_cast<std::uint32_t>(state.range(0));
  const std::vector<std::uint8_t> image = makeImage(size);
  const std::string dir = makeSimulator();
  SES_SleepSeconds = noWaitSeconds;
  SES_SleepMicroseconds = noWaitMicroseconds;

  const double cpu = cpuMilliseconds(RUSAGE_SELF);
  const auto begin = std::chrono::steady_clock::now();
  for (auto _ : state) {
    const std::int32_t transfer = SES_DownloadFwTransfer("ENC1", 5, image.data(), size);
    const std::int32_t commit = SES_DownloadFwCommit("ENC1", 5);
    if (transfer != SES_Success || commit != SES_Success) {
      state.SkipWithError(("transfer " + std::to_string(transfer) + ", commit " + std::to_string(commit)).c_str());
      break;
    }
  }
  const std::chrono::duration<double, std::micro> elapsed = std::chrono::steady_clock::now() - begin;
  state.counters["cpu_ms"] = (cpuMilliseconds(RUSAGE_SELF) - cpu) / static_cast<double>(state.iterations());
  SES_CloseCIConnection();

  checkKept(state, dir, size);

  const double pages = (size + SesDownloadPage::kChunk - 1) / SesDownloadPage::kChunk;
  state.counters["pages"] = pages;
  state.counters["us/page"] = elapsed.count() / (pages * static_cast<double>(state.iterations()));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * size);
}

BENCHMARK_CAPTURE(Firmware, plain, false)->Arg(1 << 20)->Arg(4 << 20)->Unit(benchmark::kMillisecond)->UseRealTime();
// Last of the function cases: the trace stays open from here on.
BENCHMARK_CAPTURE(Firmware, traced, true)->Arg(4 << 20)->Unit(benchmark::kMillisecond)->UseRealTime();

// The program for the same image: its trace goes to a folder of its own
// (as root it would go to the system's), so it writes and compresses one.
void Program(benchmark::State& state, bool json) {
  const auto size = static_cast<std::uint32_t>(state.range(0));
  const std::vector<std::uint8_t> image = makeImage(size);
  const std::string dir = makeSimulator(), imagePath = dir + "/image", traces = dir + "/traces";
  std::ofstream(imagePath, std::ios::binary).write(reinterpret_cast<const char*>(image.data()), size);
  std::vector<std::string> args{"fwload", "ENC1", "5", imagePath, "--no-wait", "--trace-dir", traces};
  if (json) args.push_back("--json");
  const double cpu = cpuMilliseconds(RUSAGE_CHILDREN);
  for (auto _ : state) {
    if (const int status = runKivses(args); status != 0) {
      state.SkipWithError(("kivses exit status " + std::to_string(status)).c_str());
      break;
    }
  }
  state.counters["cpu_ms"] = (cpuMilliseconds(RUSAGE_CHILDREN) - cpu) / static_cast<double>(state.iterations());
  removeDir(traces);
  checkKept(state, dir, size);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * size);
}

BENCHMARK_CAPTURE(Program, text, false)->Arg(4 << 20)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(Program, json, true)->Arg(4 << 20)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
