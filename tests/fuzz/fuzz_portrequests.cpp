// isServiceMode and SetServiceMode, with the exchange under them, fed
// arbitrary library behaviour and answers through the fake library: no byte
// beyond a block is written, the connection is closed after every open, and
// a failed exchange never reads as success.
#include <cerrno>
#include <cstdlib>

#include "adapci/kivadapci.h"
#include "fuzzinput.h"
#include "nicifake.h"
#include "servicemode/kivservicemode.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kivfuzz::Reader in{data, size};
  const std::uint8_t which = in.byte() % 2, flags = in.byte();
  const bool opens = (flags & 1) == 0, sends = (flags & 4) == 0;
  nicifake::State& fake = nicifake::state() = {.openResults = {opens ? 0 : 5}, .closeResults = {(flags & 2) != 0 ? 7 : 0}};
  nicifake::Send send{sends ? 0 : -1, EIO, 0, {}, {}};
  if ((flags & 8) != 0) send.size = in.half() % 8192;
  // The rest patches the answer: two bytes of offset, then the bytes.
  const std::vector<std::uint8_t> patch(in.data, in.data + in.size);
  const std::size_t at = patch.size() >= 2 ? (std::size_t{patch[0]} << 8 | patch[1]) % 3300 : 0;
  send.answer = [patch, at](std::vector<std::uint8_t>& b) {
    for (std::size_t i = 2; i < patch.size() && at + i - 2 < b.size(); ++i) b[at + i - 2] = patch[i];
  };
  fake.sends = {send};
  std::int32_t flag = 5;
  const std::int32_t rc = which == 0 ? isServiceMode(1 + flags % 4, &flag) : SetServiceMode(1 + flags % 4, (flags >> 4) & 1);
  if (which == 0 && (flag < 0 || flag > 1 || (rc != 0 && flag != 0))) std::abort();
  if ((!opens || !sends) && rc == 0) std::abort();
  if (opens && fake.openConnections != 0) std::abort();
  return 0;
}
