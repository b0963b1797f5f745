// Without libFuzzer, each fuzz target is built with this main, which feeds
// it every file of the folders (or files) named on its command line: the
// test suite replays the seed corpora this way under the sanitizers.
#include <dirent.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) __attribute__((weak));

namespace {
int runFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // A copy of exactly the input's size, so reads past it are caught.
  std::vector<std::uint8_t> data(bytes.begin(), bytes.end());
  LLVMFuzzerTestOneInput(data.empty() ? nullptr : data.data(), data.size());
  return 1;
}
}  // namespace

int main(int argc, char** argv) {
  if (LLVMFuzzerInitialize != nullptr) LLVMFuzzerInitialize(&argc, &argv);
  int count = 0;
  for (int i = 1; i < argc; ++i) {
    struct stat st {};
    if (stat(argv[i], &st) != 0) {
      std::fprintf(stderr, "cannot read %s\n", argv[i]);
      return 1;
    }
    if (!S_ISDIR(st.st_mode)) {
      count += runFile(argv[i]);
      continue;
    }
    DIR* d = opendir(argv[i]);
    while (dirent* e = d != nullptr ? readdir(d) : nullptr) {
      if (e->d_name[0] == '.') continue;
      count += runFile(std::string(argv[i]) + "/" + e->d_name);
    }
    if (d != nullptr) closedir(d);
  }
  std::printf("replayed %d inputs\n", count);
  return count > 0 ? 0 : 1;
}
