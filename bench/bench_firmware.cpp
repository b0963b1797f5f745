// Times a firmware download against the simulated enclosure: 1 MB and 4 MB
// images through SES_DownloadFwTransfer and SES_DownloadFwCommit, with the
// device's settling waits skipped, in a state folder of its own. The cost
// of one page must not grow with the image, so 4 MB should take about four
// times as long as 1 MB; "us/page" shows it per page.
//   bench_firmware [benchmark options]
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "nicisim/nicisim.h"
#include "ses/kivses.h"

namespace {

void noWaitSeconds(unsigned) {}
void noWaitMicroseconds(std::uint64_t) {}

std::string makeTempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/kivbench.XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {
    std::perror("mkdtemp");
    std::exit(1);
  }
  return pattern;
}

void removeDir(const std::string& dir) {
  if (DIR* d = opendir(dir.c_str())) {
    while (const dirent* e = readdir(d))
      if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) unlink((dir + "/" + e->d_name).c_str());
    closedir(d);
  }
  rmdir(dir.c_str());
}

void Firmware(benchmark::State& state) {
  const auto size = static_cast<std::uint32_t>(state.range(0));
  std::vector<std::uint8_t> image(size);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 131 + (i >> 11));
  const std::string dir = makeTempDir();
  setenv("KIVADAPSIM_STATE", (dir + "/state").c_str(), 1);
  SES_SleepSeconds = noWaitSeconds;
  SES_SleepMicroseconds = noWaitMicroseconds;
  std::string why;
  nicisim::withState(
      [](nicisim::State& s) {
        s.enclosures.emplace_back().serial = "ENC1";
        return true;
      },
      why);

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
  SES_CloseCIConnection();

  // The simulator kept what was sent.
  std::uint64_t kept = 0;
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

  const double pages = (size + SesDownloadPage::kChunk - 1) / SesDownloadPage::kChunk;
  state.counters["pages"] = pages;
  state.counters["us/page"] = elapsed.count() / (pages * static_cast<double>(state.iterations()));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * size);
}

BENCHMARK(Firmware)->Arg(1 << 20)->Arg(4 << 20)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
