// SendAdapCIRequest, isServiceMode and SetServiceMode fed arbitrary library
// behaviour and answers through the fake library. Whatever comes back, no
// byte beyond a block is touched, the connection is always closed after an
// open, and a failed exchange never reads as success.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "adapci/kivadapci.h"
#include "debug/kivcodes.h"
#include "nicifake.h"
#include "servicemode/kivservicemode.h"
#include "fuzzinput.h"

namespace {
using kivfuzz::Reader;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  namespace ARB = AdapterRequestBlock;
  Reader in{data, size};
  const std::uint8_t which = in.byte() % 3;
  const std::uint8_t flags = in.byte();
  nicifake::reset();
  auto& fake = nicifake::state();
  fake.openResults.push_back((flags & 1) != 0 ? 5 : 0);
  fake.closeResults.push_back((flags & 2) != 0 ? 7 : 0);
  nicifake::Send send;
  send.rc = (flags & 4) != 0 ? -1 : 0;
  send.err = 5;
  if ((flags & 8) != 0) send.size = in.word() % 8192;
  std::vector<std::uint8_t> overlay(in.data, in.data + in.size);
  std::uint32_t overlayAt = overlay.size() >= 2 ? (std::uint32_t{overlay[0]} << 8 | overlay[1]) % 3300 : 0;
  send.answer = [overlay, overlayAt](std::vector<std::uint8_t>& block) {
    for (std::size_t i = 2; i < overlay.size() && overlayAt + i - 2 < block.size(); ++i) block[overlayAt + i - 2] = overlay[i];
  };
  fake.sends.push_back(send);

  const bool opened = (flags & 1) == 0;
  if (which == 0) {
    std::vector<std::uint8_t> block(192 + 0, 0);
    std::int32_t code = SendAdapCIRequest(192, 0, block.data());
    if (!opened && code != ADAPCI_OpenFailed) std::abort();
    if (code == ADAPCI_Answered && (block[ARB::kDirectiveStatus] != 0 || block[168] || block[169] || block[170] || block[171])) std::abort();
  } else if (which == 1) {
    std::int32_t flag = 5;
    std::int32_t rc = isServiceMode(1 + flags % 4, &flag);
    if (flag != 0 && flag != 1) std::abort();
    if (rc != 0 && flag != 0) std::abort();
    if ((!opened || send.rc != 0) && rc == 0) std::abort();
  } else {
    std::int32_t rc = SetServiceMode(1 + flags % 4, (flags >> 4) & 1);
    if ((!opened || send.rc != 0) && rc == 0) std::abort();
  }
  if (opened && fake.openConnections != 0) std::abort();
  return 0;
}
