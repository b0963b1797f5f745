// ParseParams on arbitrary argument vectors: NUL bytes separate the
// arguments. A parse either accepts a complete, consistent command line or
// rejects it with 11.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "servicemode/kivservicemode.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> args{"kivservicemode"};
  std::string current;
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      args.push_back(current);
      current.clear();
    } else {
      current.push_back(static_cast<char>(data[i]));
    }
  }
  if (size > 0) args.push_back(current);
  if (args.size() > 64) return 0;
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  szCmdName = "kivservicemode";
  ResetParams();
  std::int32_t rc = ParseParams(static_cast<int>(args.size()), argv.data());
  if (rc != 0 && rc != 11) std::abort();
  if (rc == 0) {
    bool oneAction = (queryMode == 1) != (bServiceMode == 0 || bServiceMode == 1);
    if (adapterDeviceParam == nullptr || nAdapterPortNumber < 1 || nAdapterPortNumber > 4 || !oneAction) std::abort();
  }
  return 0;
}
