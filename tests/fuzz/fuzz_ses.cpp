// The enclosure operations fed arbitrary library behaviour and answers
// through the fake library: whatever comes back, nothing outside the
// caller's buffer is written, a receive that failed unsent leaves it alone,
// every code is one of the module's (a string page's one of its four), and
// no wait is slept.
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "fuzzinput.h"
#include "nicifake.h"
#include "ses/kivses.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  SES_SleepSeconds = [](unsigned) {};
  SES_SleepMicroseconds = [](std::uint64_t) {};
  kivfuzz::Reader in{data, size};
  const std::uint8_t which = in.byte() % 5, flags = in.byte();
  SESRetryOne = {in.byte() * 1000u, in.byte() * 10000u};
  SES_CloseCIConnection();
  nicifake::State& fake = nicifake::state() = {.openResults = {(flags & 1) != 0 ? -1 : 0}};
  // Up to 24 sends: a result, an errno, a reply status, a size, and up to
  // 16 bytes patched into the answer somewhere.
  for (int i = in.byte() % 25; i > 0; --i) {
    const std::uint8_t kind = in.byte();
    nicifake::Send s{(kind & 1) != 0 ? -1 : 0, (kind & 2) != 0 ? EBUSY : EIO, (kind & 4) != 0 ? in.byte() : 0, {}, {}};
    if ((kind & 8) != 0) s.size = in.half();
    const std::uint16_t at = in.half() % 800;
    std::vector<std::uint8_t> patch(in.byte() % 17);
    for (std::uint8_t& b : patch) b = in.byte();
    s.answer = [at, patch](std::vector<std::uint8_t>& a) {
      for (std::size_t k = 0; k < patch.size() && at + k < a.size(); ++k) a[at + k] = patch[k];
    };
    fake.sends.push_back(s);
  }
  const std::uint32_t length = in.half() % 1200u;
  const std::vector<std::uint8_t> rest(in.data, in.data + in.size);
  const auto restSize = static_cast<std::uint32_t>(rest.size());
  const char* serial = "ENCLOSURE-SERIAL-0123456789";
  // Exactly as long as asked for, so that a write beyond it is caught.
  std::vector<std::uint8_t> buffer(length, 0xA5);
  std::int32_t rc = 0;
  switch (which) {
    case 0: rc = SES_WritePage(serial, std::min(restSize, length), rest.data()); break;
    case 1: rc = SES_ReadPage(serial, flags, length, buffer.data()); break;
    case 2: rc = SES_ReadStringPage(serial, restSize, rest.data(), length, buffer.data(), flags); break;
    case 3: rc = SES_DownloadFwTransfer(serial, flags % 70, rest.data(), restSize); break;
    default: rc = SES_DownloadFwCommit(serial, flags % 64);
  }
  const bool untouched = std::count(buffer.begin(), buffer.end(), 0xA5) == static_cast<std::ptrdiff_t>(length);
  if (std::strcmp(SES_ResultName(rc), "unknown") == 0) std::abort();
  if (which == 2 && (rc == SES_ShortEncStatus || rc == SES_RequestFailed)) std::abort();
  if (which == 1 && rc != SES_Success && fake.sentBlocks.empty() && !untouched) std::abort();
  if ((flags & 1) != 0 && (!fake.sentBlocks.empty() || (rc != SES_ConnectionFailed && rc != SES_RequestFailed))) std::abort();
  SES_CloseCIConnection();
  if (fake.openConnections != 0) std::abort();
  return 0;
}
