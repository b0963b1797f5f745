// What the benchmarks share: a temporary folder of their own.
#ifndef KIV_BENCH_KIVBENCH_H
#define KIV_BENCH_KIVBENCH_H

#include <cstdio>
#include <cstdlib>
#include <string>

namespace kivbench {

// A new folder below TMPDIR (else /tmp); a benchmark that cannot make one
// cannot run, so it ends there.
inline std::string makeTempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/kivbench.XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {
    std::perror("mkdtemp");
    std::exit(1);
  }
  return pattern;
}

}  // namespace kivbench

#endif
