// ParseParams on arbitrary argument vectors, NUL bytes between the
// arguments: a parse either accepts a complete, consistent command line or
// rejects it with 11.
#include <cstdlib>
#include <string>
#include <vector>

#include "servicemode/kivservicemode.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> args{"kivservicemode"};
  if (size > 0) args.emplace_back();
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0) args.emplace_back();
    else args.back().push_back(static_cast<char>(data[i]));
  }
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  szCmdName = "kivservicemode";
  ResetParams();
  const std::int32_t rc = ParseParams(static_cast<int>(args.size()), argv.data());
  const bool oneAction = (queryMode == 1) != (bServiceMode == 0 || bServiceMode == 1);
  const bool complete = adapterDeviceParam != nullptr && nAdapterPortNumber >= 1 && nAdapterPortNumber <= 4 && oneAction;
  if (rc != 11 && (rc != 0 || !complete)) std::abort();
  return 0;
}
