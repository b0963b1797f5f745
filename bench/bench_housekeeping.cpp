// Times housekeeping of generated trace directories, the project's
// procedure beside the one-file-per-pass reference, and checks that both
// leave the same files behind.
//   bench_housekeeping [--with-slow-reference] [benchmark options]
// --with-slow-reference adds the reference run on 20,000 files, which takes
// many minutes.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <string>
#include <vector>
#include <dirent.h>

#include "bench/kivbench.h"
#include "debug/kivhousekeeping.h"

namespace {

std::vector<std::string> listDir(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (const dirent* e = readdir(d))
      if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) names.emplace_back(e->d_name);
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

void removeDir(const std::string& dir) {
  for (const std::string& n : listDir(dir)) unlink((dir + "/" + n).c_str());
  rmdir(dir.c_str());
}

// count files of size bytes each; modified ageBase seconds ago and younger,
// twenty files per second so that equal times occur.
std::string buildDir(int count, int size, std::time_t ageBase) {
  std::string dir = kivbench::makeTempDir();
  std::vector<char> data(static_cast<std::size_t>(size), 'x');
  std::time_t now = std::time(nullptr);
  for (int i = 0; i < count; ++i) {
    char name[64];
    std::snprintf(name, sizeof name, "kivservicemode.261206%06d.%d", i, 1000 + i);
    std::string path = dir + "/" + name;
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || write(fd, data.data(), data.size()) != static_cast<ssize_t>(data.size())) std::exit(1);
    close(fd);
    struct timespec t[2];
    t[0].tv_sec = now - ageBase + i / 20;
    t[0].tv_nsec = 0;
    t[1] = t[0];
    utimensat(AT_FDCWD, path.c_str(), t, 0);
  }
  return dir;
}

std::map<std::string, std::vector<std::string>> leftBehind;  // case -> files left

void runCase(benchmark::State& state, const char* name, int count, int size, std::time_t age,
             void (*housekeeping)(const char*)) {
  for (auto _ : state) {
    state.PauseTiming();
    std::string dir = buildDir(count, size, age);
    unsigned long passes = KIV_DirectoryPasses;
    state.ResumeTiming();
    housekeeping(dir.c_str());
    state.PauseTiming();
    state.counters["passes"] = static_cast<double>(KIV_DirectoryPasses - passes);
    std::vector<std::string> left = listDir(dir);
    state.counters["files_left"] = static_cast<double>(left.size());
    std::string key = std::string(name) + (housekeeping == KIV_HouseKeeping ? "" : "/reference");
    leftBehind[key] = left;
    removeDir(dir);
    state.ResumeTiming();
  }
}

void BM_Prune8000x1000(benchmark::State& s) { runCase(s, "prune8000", 8000, 1000, 500, KIV_HouseKeeping); }
void BM_Prune8000x1000_OnePerPass(benchmark::State& s) {
  runCase(s, "prune8000", 8000, 1000, 500, KIV_HouseKeepingOnePerPass);
}
void BM_Prune20000x1000(benchmark::State& s) { runCase(s, "prune20000", 20000, 1000, 500, KIV_HouseKeeping); }
void BM_Prune20000x1000_OnePerPass(benchmark::State& s) {
  runCase(s, "prune20000", 20000, 1000, 500, KIV_HouseKeepingOnePerPass);
}
// 1,000 files of 5 KB, all older than 600 seconds: compression dominates.
void BM_Compress1000x5000(benchmark::State& s) { runCase(s, "compress1000", 1000, 5000, 5000, KIV_HouseKeeping); }
void BM_Compress1000x5000_OnePerPass(benchmark::State& s) {
  runCase(s, "compress1000", 1000, 5000, 5000, KIV_HouseKeepingOnePerPass);
}

}  // namespace

int main(int argc, char** argv) {
  bool withSlow = false;
  std::vector<char*> args;
  for (int i = 0; i < argc; ++i) {
    if (std::strcmp(argv[i], "--with-slow-reference") == 0)
      withSlow = true;
    else
      args.push_back(argv[i]);
  }
  auto ms = benchmark::kMillisecond;
  benchmark::RegisterBenchmark("Prune/8000x1000B", BM_Prune8000x1000)->Unit(ms)->Iterations(3);
  benchmark::RegisterBenchmark("Prune/8000x1000B/one_per_pass", BM_Prune8000x1000_OnePerPass)->Unit(ms)->Iterations(1);
  benchmark::RegisterBenchmark("Prune/20000x1000B", BM_Prune20000x1000)->Unit(ms)->Iterations(3);
  if (withSlow)
    benchmark::RegisterBenchmark("Prune/20000x1000B/one_per_pass", BM_Prune20000x1000_OnePerPass)
        ->Unit(ms)
        ->Iterations(1);
  benchmark::RegisterBenchmark("Compress/1000x5KB", BM_Compress1000x5000)->Unit(ms)->Iterations(3);
  benchmark::RegisterBenchmark("Compress/1000x5KB/one_gzip_per_file", BM_Compress1000x5000_OnePerPass)
      ->Unit(ms)
      ->Iterations(1);
  int n = static_cast<int>(args.size());
  benchmark::Initialize(&n, args.data());
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();

  int status = 0;
  for (const char* c : {"prune8000", "prune20000", "compress1000"}) {
    auto fast = leftBehind.find(c);
    auto ref = leftBehind.find(std::string(c) + "/reference");
    if (fast == leftBehind.end() || ref == leftBehind.end()) continue;
    bool same = fast->second == ref->second;
    std::printf("%s: both procedures leave %s (%zu files)\n", c, same ? "the same files" : "DIFFERENT files",
                fast->second.size());
    if (!same) status = 1;
  }
  return status;
}
