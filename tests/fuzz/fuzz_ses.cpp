// The enclosure operations fed arbitrary library behaviour and answers
// through the fake library: whatever comes back, nothing outside a buffer
// is touched, a failed receive leaves the caller's buffer alone, every code
// is one of the module's, what would not fit is refused unopened and
// unsent, and no wait is ever slept.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "nicifake.h"
#include "ses/kivses.h"
#include "fuzzinput.h"

namespace {
using kivfuzz::Reader;

void noSeconds(unsigned) {}
void noMicroseconds(std::uint64_t) {}

bool knownCode(std::int32_t rc) {
  switch (rc) {
    case SES_Success:
    case SES_ShortEncStatus:
    case SES_ConnectionFailed:
    case SES_StringPageFailed:
    case SES_RequestFailed:
    case SES_Busy:
      return true;
    default:
      return false;
  }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  SES_SleepSeconds = noSeconds;
  SES_SleepMicroseconds = noMicroseconds;
  Reader in{data, size};
  const std::uint8_t which = in.byte() % 6;
  const std::uint8_t flags = in.byte();
  SESRetryOne = {static_cast<std::uint32_t>(in.byte()) * 1000u, static_cast<std::uint32_t>(in.byte()) * 10000u};

  SES_CloseCIConnection();
  nicifake::reset();
  auto& fake = nicifake::state();
  fake.openResults.push_back((flags & 1) != 0 ? -1 : 0);
  // Up to 24 scripted sends, each a result, an errno, a reply status, a size
  // and a patch of up to 16 bytes somewhere in the answer.
  const int sends = in.byte() % 25;
  for (int i = 0; i < sends; ++i) {
    nicifake::Send s;
    const std::uint8_t kind = in.byte();
    s.rc = (kind & 1) != 0 ? -1 : 0;
    s.err = (kind & 2) != 0 ? 16 : 5;
    s.replyStatus = (kind & 4) != 0 ? in.byte() : 0;
    if ((kind & 8) != 0) s.size = in.half();
    const std::uint16_t at = in.half() % 800;
    std::vector<std::uint8_t> patch;
    for (int n = in.byte() % 17; n > 0; --n) patch.push_back(in.byte());
    s.answer = [at, patch](std::vector<std::uint8_t>& a) {
      for (std::size_t k = 0; k < patch.size() && at + k < a.size(); ++k) a[at + k] = patch[k];
    };
    fake.sends.push_back(s);
  }
  // Now and then one byte more than the command can carry.
  const std::uint16_t rawLength = in.half();
  const std::uint32_t length = rawLength >= 0xFFF0 ? 65536u : rawLength % 1200u;
  std::vector<std::uint8_t> rest(in.data, in.data + in.size);
  // The last serial number is one character too long for its field.
  static const std::string serials[] = {"E1", "ENCLOSURE-SERIAL-0123456789", std::string(37, 'S'), std::string(38, 'S')};
  const std::size_t serialChoice = (flags >> 1) & 3u;
  const char* serial = serials[serialChoice].c_str();
  const bool tooLong = serialChoice == 3 || (length > 65535 && (which == 1 || which == 2 || which == 5));

  std::int32_t rc = 0;
  // Guard bytes on both sides of the caller's buffer.
  std::vector<std::uint8_t> buffer(length + 64, 0xA5);
  std::uint8_t* inside = buffer.data() + 32;
  switch (which) {
    case 0:
      rc = SES_WritePage(serial, static_cast<std::uint32_t>(std::min<std::size_t>(rest.size(), length)), rest.data());
      break;
    case 1:
      rc = SES_ReadPage(serial, flags, length, inside);
      break;
    case 2:
      rc = SES_ReadStringPage(serial, static_cast<std::uint32_t>(rest.size()), rest.data(), length, inside, flags);
      if (rc == SES_Success) break;
      // A failed string read hands back 4097, 4098 or 4107, or 4101 when refused unsent.
      if (rc != SES_ConnectionFailed && rc != SES_StringPageFailed && rc != SES_Busy &&
          !(rc == SES_RequestFailed && tooLong))
        std::abort();
      break;
    case 3:
      rc = SES_DownloadFwTransfer(serial, flags % 70, rest.data(), static_cast<std::uint32_t>(rest.size()));
      if (flags % 70 > SesDownloadPage::kMaxDeviceNumber && rc != SES_RequestFailed) std::abort();
      break;
    case 4:
      rc = SES_DownloadFwCommit(serial, flags % 64);
      break;
    default:
      rc = SES_ReadPage(serial, 8, length, inside);
      // A receive that failed before any page came back leaves the buffer.
      if (rc != SES_Success && fake.sentBlocks.empty())
        for (std::size_t k = 0; k < length; ++k)
          if (inside[k] != 0xA5) std::abort();
      break;
  }
  if (!knownCode(rc)) std::abort();
  // What would not fit is refused before the connection is even opened.
  if (tooLong && (rc != SES_RequestFailed || fake.openCount != 0 || !fake.sentBlocks.empty())) std::abort();
  for (std::size_t k = 0; k < 32; ++k)
    if (buffer[k] != 0xA5 || buffer[buffer.size() - 1 - k] != 0xA5) std::abort();
  if ((flags & 1) != 0 && (rc != SES_ConnectionFailed && rc != SES_RequestFailed)) std::abort();
  if ((flags & 1) != 0 && !fake.sentBlocks.empty()) std::abort();
  SES_CloseCIConnection();
  if (fake.openConnections != 0) std::abort();
  return 0;
}
