// Without libFuzzer, each fuzz target is built with this main, which feeds
// it each file named on its command line: the test suite replays the seed
// corpora this way under the sanitizers.
#include <cstdint>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    std::ifstream in(argv[i], std::ios::binary);
    // A copy of exactly the input's size, so that a read past it is caught.
    const std::vector<std::uint8_t> data{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    LLVMFuzzerTestOneInput(data.data(), data.size());
  }
  return argc > 1 ? 0 : 1;
}
