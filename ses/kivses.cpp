// SES page access through the command-interface client library.
#include "ses/kivses.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <optional>

#include "adapci/kivciexchange.h"
#include "adapci/nici.h"
#include "debug/kivcodes.h"
#include "debug/kivtrace.h"
#include "ses/kivsesblock.h"
#include "ses/kivsesdownloadpage.h"
#include "ses/kivsesstatuspage.h"

#define KIV_TRACE_MODULE "kivses"

SESRetrySchedule SESRetryOne = {25000, 3000000};

namespace {

void systemSleepSeconds(unsigned seconds) { sleep(seconds); }
// usleep is only sure to take waits below a second: whole seconds go to sleep.
void systemSleepMicroseconds(std::uint64_t microseconds) {
  constexpr std::uint64_t kPerSecond = 1000000;
  if (microseconds >= kPerSecond) {
    sleep(static_cast<unsigned>(std::min<std::uint64_t>(microseconds / kPerSecond, UINT_MAX)));
    microseconds %= kPerSecond;
  }
  usleep(static_cast<useconds_t>(microseconds));
}

}  // namespace

void (*SES_SleepSeconds)(unsigned seconds) = systemSleepSeconds;
void (*SES_SleepMicroseconds)(std::uint64_t microseconds) = systemSleepMicroseconds;
void (*SES_DownloadProgress)(std::uint32_t sent, std::uint32_t total) = [](std::uint32_t, std::uint32_t) {};
void (*SES_RequestDone)(const SesRequestResult& result) = [](const SesRequestResult&) {};

const char* SES_ResultName(std::int32_t rc) {
  switch (rc) {
    case SES_Success: return "SES_Success";
    case SES_ShortEncStatus: return "SES_ShortEncStatus";
    case SES_ConnectionFailed: return "SES_ConnectionFailed";
    case SES_StringPageFailed: return "SES_StringPageFailed";
    case SES_RequestFailed: return "SES_RequestFailed";
    case SES_Busy: return "SES_Busy";
  }
  return "unknown";
}

namespace {

namespace SRB = SesRequestBlock;
using kiv::wire::Bytes;
using kiv::wire::ConstBytes;

int isConnOpen = 0;

namespace DLP = SesDownloadPage;
namespace SES = ShortEnclosureStatusPage;
using StatusPage = std::array<std::uint8_t, SES::kLength>;
using DownloadPage = std::array<std::uint8_t, DLP::kPageSize>;

using DLP::kStartWaitSeconds;
using DLP::kCommitWaitSeconds;
using DLP::kStatusSettleSeconds;
using DLP::kCommitPolls;

// A request block or reply buffer, zero-filled, or empty when it cannot be
// allocated.
struct Buffer {
  std::unique_ptr<std::uint8_t[]> bytes;
  std::size_t size = 0;
  explicit Buffer(std::size_t n) : bytes(new (std::nothrow) std::uint8_t[n > 0 ? n : 1]()), size(bytes ? n : 0) {}
  explicit operator bool() const { return bytes != nullptr; }
  Bytes span() { return Bytes(bytes.get(), size); }
};

// Refuses what would not fit the block or the command before anything is
// built or sent.
bool fitsRequest(const char* function, const char* serialNumber, std::uint32_t length, const void* data) {
  if (serialNumber == nullptr) {
    KIV_TRACE("%s: no serial number, nothing sent\n", function);
    return false;
  }
  std::size_t serialLength = strnlen(serialNumber, SRB::kSerialNumberMax + 1);
  if (serialLength > SRB::kSerialNumberMax) {
    KIV_TRACE("%s: serial number longer than %zu characters, nothing sent\n", function, SRB::kSerialNumberMax);
    return false;
  }
  if (length > SRB::kMaxPageLength) {
    KIV_TRACE("%s: length %u over %u, nothing sent\n", function, length, SRB::kMaxPageLength);
    return false;
  }
  if (length > 0 && data == nullptr) {
    KIV_TRACE("%s: no buffer for %u bytes, nothing sent\n", function, length);
    return false;
  }
  return true;
}

// Header, descriptors and command of one request; the page bytes, if any,
// are the caller's to fill.
void buildBlock(Bytes block, const char* serialNumber, std::uint32_t L, bool send, std::uint8_t pageCode) {
  using namespace kiv::wire;
  put16be(block, SRB::kBlockKind, SRB::kKindSes);
  put32be(block, SRB::kBlockSize, static_cast<std::uint32_t>(block.size()));
  std::memcpy(block.data() + SRB::kSerialNumber, serialNumber, std::strlen(serialNumber) + 1);
  putAreas(block, SRB::kAreas, SRB::areasFor(send, L));
  put16be(block, SRB::kTransaction, FN_ISAL_SCSI);
  put16be(block, SRB::kFixed154, SRB::kFixed154Value);
  const auto dataAddress = reinterpret_cast<std::uintptr_t>(block.data() + SRB::kData);
  if constexpr (sizeof(std::uintptr_t) > 4) {
    put64be(block, SRB::kDataAddress, dataAddress);
  } else {
    put32be(block, SRB::kDataAddress, static_cast<std::uint32_t>(dataAddress));
  }
  put16be(block, SRB::kData + SRB::kDataFixed6, SRB::kDataFixed6Value);
  put8(block, SRB::kCdb + SRB::kCdbOperation, send ? SRB::kOpSendDiagnostic : SRB::kOpReceiveDiagnosticResults);
  put8(block, SRB::kCdb + SRB::kCdbFlags, send ? SRB::kSendDiagnosticPF : SRB::kReceivePCV);
  put8(block, SRB::kCdb + SRB::kCdbPageCode, send ? std::uint8_t{0} : pageCode);
  put16be(block, SRB::kCdb + SRB::kCdbLength, static_cast<std::uint16_t>(L));
}

std::int32_t SES_SendCIRequest(std::uint32_t requestSize, std::uint32_t responseSize, Bytes block) {
  using namespace kiv::wire;
  const CIExchange x = KIV_CIExchange(block, requestSize, responseSize, CIAnswerRead::AfterGoodReplyStatus);
  if (!x.sent) {
    KIV_TRACE("SES_SendCIRequest: no reply buffer of %zu bytes, nothing sent\n",
              std::size_t{requestSize} + responseSize);
    return SES_RequestFailed;
  }

  std::int32_t rc = SES_Success;
  if (x.sendResult != 0) {
    KIV_TRACE("SES_SendCIRequest: CI ERROR conRC = %d\n", x.sendResult);
    rc = x.sendErrno == EBUSY ? SES_Busy : SES_RequestFailed;
  } else if (x.replyStatus != 0) {
    KIV_TRACE("SES_SendCIRequest: CI ERROR responseStatus = %d\n", x.replyStatus);
    return SES_RequestFailed;
  } else {
    // Never more than the caller's block holds, whatever the library says.
    if (x.copied != x.answerSize) KIV_TRACE("SES_SendCIRequest: answer of %u bytes cut to %zu\n", x.answerSize, x.copied);
    // A block only partly answered still holds the zeros it was sent with,
    // which would read as a good answer and a good page.
    const auto directiveStatus = static_cast<std::int8_t>(get8(block, SRB::kDirectiveStatus));
    if (x.copied < requestSize) {
      KIV_TRACE("SES_SendCIRequest: answer of %zu bytes, %u expected\n", x.copied, requestSize);
      rc = SES_RequestFailed;
    } else if (directiveStatus != 0) {
      KIV_TRACE("Directive failed : %d\n", directiveStatus);
      rc = SES_RequestFailed;
    } else if (get32be(block, SRB::kResultWord) != 0) {
      KIV_TRACE("Network result    : %d\n", static_cast<int>(get8(block, SRB::kNetworkResult)));
      KIV_TRACE("Application result: %d\n", static_cast<int>(static_cast<std::int16_t>(get16be(block, SRB::kApplicationResult))));
      rc = SES_RequestFailed;
    }
  }
  if (rc != SES_Success) KIV_TRACE("SES_SendCIRequest: Exit, rc = %d\n", rc);
  return rc;
}

// Tells the program what a request came back with; a block that was not
// answered still holds the zero results it was sent with.
void requestDone(ConstBytes block, bool send, std::uint8_t pageCode, std::uint32_t length, std::int32_t rc) {
  if (SES_RequestDone == nullptr) return;
  const auto applicationResult = static_cast<std::int16_t>(kiv::wire::get16be(block, SRB::kApplicationResult));
  SES_RequestDone({send, pageCode, length, rc, applicationResult});
}

// The checks and the zero-filled block of one request, or nothing (with
// the trace line saying why) when the request may not be sent.
std::optional<Buffer> requestBlock(const char* function, const char* serialNumber, std::uint32_t length,
                                   const void* data) {
  if (!fitsRequest(function, serialNumber, length, data)) return std::nullopt;
  const std::uint32_t S = SRB::blockSizeFor(length);
  Buffer block(S);
  if (!block) {
    KIV_TRACE("%s: no block of %u bytes, nothing sent\n", function, S);
    return std::nullopt;
  }
  return block;
}

std::int32_t SES_SendDiagnosticCommand(const char* serialNumber, std::uint32_t length, const std::uint8_t* page) {
  std::optional<Buffer> block = requestBlock("SES_SendDiagnosticCommand", serialNumber, length, page);
  if (!block) return SES_RequestFailed;
  if (length > 0) std::memcpy(block->bytes.get() + SRB::kPage, page, length);
  buildBlock(block->span(), serialNumber, length, true, 0);
  std::int32_t rc = SES_SendCIRequest(static_cast<std::uint32_t>(block->size), 0, block->span());
  requestDone(block->span(), true, length > 0 ? page[0] : std::uint8_t{0}, length, rc);
  if (rc != SES_Success) KIV_TRACE("SES_SendDiagnosticCommand: Exit, rc = %d\n", rc);
  return rc;
}

std::int32_t SES_RecvDiagnosticResult(const char* serialNumber, std::uint8_t pageCode, std::uint32_t length,
                                      std::uint8_t* buffer) {
  std::optional<Buffer> block = requestBlock("SES_RecvDiagnosticResult", serialNumber, length, buffer);
  if (!block) return SES_RequestFailed;
  buildBlock(block->span(), serialNumber, length, false, pageCode);
  std::int32_t rc = SES_SendCIRequest(static_cast<std::uint32_t>(block->size), 0, block->span());
  requestDone(block->span(), false, pageCode, length, rc);
  if (rc == SES_Success) {
    if (length > 0) std::memcpy(buffer, block->bytes.get() + SRB::kPage, length);
  } else {
    KIV_TRACE("SES_RecvDiagnosticResult: Exit rc = %d\n", rc);
  }
  return rc;
}

// Opens the connection unless it is open. Every operation traces the same
// text on failure.
bool openOnDemand() {
  if (isConnOpen != 0) return true;
  int rc = niCIOpen();
  if (rc != 0) {
    KIV_TRACE("SES_WritePage: Connection Failed (RC = %d)\n", rc);
    return false;
  }
  isConnOpen = 1;
  return true;
}

std::int32_t readShortStatus(const char* serialNumber, StatusPage& status) {
  return SES_RecvDiagnosticResult(serialNumber, SES::kPageCode, SES::kLength, status.data());
}

// The retry counters stop at their largest value rather than wrap round,
// which would start the wait afresh and could keep the loop going.
std::uint32_t addCapped(std::uint32_t a, std::uint32_t b) { return b > UINT32_MAX - a ? UINT32_MAX : a + b; }

// The retry schedule shared by writes and reads; attempt returns a result
// code.
template <typename Attempt>
std::int32_t withRetries(const char* function, Attempt&& attempt) {
  std::uint32_t stepSum = 0;
  std::uint32_t waited = 0;
  std::uint32_t nextDelay = 0;
  for (;;) {
    KIV_TRACE("%s: Trying %u %u\n", function, stepSum, waited);
    waited = addCapped(waited, nextDelay);
    SES_SleepMicroseconds(nextDelay);
    const std::uint32_t step = SESRetryOne.step;
    stepSum = addCapped(stepSum, step);
    std::int32_t rc = attempt();
    nextDelay = addCapped(nextDelay, stepSum);
    if (rc == SES_Success) return rc;
    // With a step of 0 the time waited could never reach the limit.
    if (waited >= SESRetryOne.limit || step == 0) {
      KIV_TRACE("%s: Exit, rc = %d\n", function, rc);
      return rc;
    }
  }
}

bool validDevice(const char* function, int deviceNumber) {
  if (deviceNumber >= 0 && deviceNumber <= DLP::kMaxDeviceNumber) return true;
  KIV_TRACE("%s: device number %d outside 0 to %d, nothing sent\n", function, deviceNumber, DLP::kMaxDeviceNumber);
  return false;
}

// A request refused before anything was sent ends with the operation's exit
// line.
std::int32_t refused(const char* function) {
  KIV_TRACE("%s: Exit, rc = %d\n", function, SES_RequestFailed);
  return SES_RequestFailed;
}

// The entry line, the checks and the open on demand of the two download
// operations: SES_Success when the operation may go on, else its result.
std::int32_t enterDownload(const char* function, const char* serialNumber, int deviceNumber,
                           const std::uint8_t* image, std::uint32_t imageLength) {
  KIV_TRACE("%s: Entry SN:%s, Dev:%d\n", function, serialNumber != nullptr ? serialNumber : "(null)", deviceNumber);
  if (!fitsRequest(function, serialNumber, 0, nullptr) || !validDevice(function, deviceNumber)) return refused(function);
  if (imageLength > 0 && image == nullptr) {
    KIV_TRACE("%s: no image for %u bytes, nothing sent\n", function, imageLength);
    return refused(function);
  }
  return openOnDemand() ? SES_Success : SES_ConnectionFailed;
}

// The page that opens each download operation, and the device's settling
// time after it.
struct HeaderPageStep {
  const char* function;
  const char* pageName;  // as the trace names the page
  std::uint8_t phase;
  unsigned waitSeconds;
};
constexpr HeaderPageStep kStartStep{"SES_DownloadFwTransfer", "Start", DLP::kPhaseStart, kStartWaitSeconds};
constexpr HeaderPageStep kCommitStep{"SES_DownloadFwCommit", "Commit", DLP::kPhaseCommit, kCommitWaitSeconds};

// Sends a start or commit page, the 9-byte header alone with the device
// number combined with the phase flag, and waits the settling time when it
// went through. Image pages reuse the page after it.
std::int32_t sendHeaderPage(const HeaderPageStep& step, DownloadPage& page, const char* serialNumber, int deviceNumber) {
  page.fill(0);
  kiv::wire::put8(page, DLP::kPageCodeByte, DLP::kPageCode);
  kiv::wire::put16be(page, DLP::kPageLength, DLP::kHeaderSize - DLP::kPageLengthBase);
  kiv::wire::put8(page, DLP::kCommandByte, DLP::kCommand);
  kiv::wire::put8(page, DLP::kDeviceByte, static_cast<std::uint8_t>(deviceNumber | step.phase));
  const std::int32_t rc = SES_SendDiagnosticCommand(serialNumber, DLP::kHeaderSize, page.data());
  KIV_TRACE("%s: SendDiag %s rc = %d\n", step.function, step.pageName, rc);
  if (rc == SES_Success) SES_SleepSeconds(step.waitSeconds);
  return rc;
}

// Byte 1 of a status page that was read: a nonzero value fails with 86.
std::int32_t judgeStatus(const char* function, const StatusPage& status) {
  const std::uint8_t value = status[SES::kStatusByte];
  if (value == SES::kGood) return SES_Success;
  KIV_TRACE("%s: ShortEnc Status = %d!!!!\n", function, static_cast<int>(value));
  return SES_ShortEncStatus;
}

}  // namespace

std::int32_t SES_WritePage(const char* serialNumber, std::uint32_t length, const std::uint8_t* page) {
  // Refused once, not on every attempt of the schedule.
  if (!fitsRequest("SES_WritePage", serialNumber, length, page)) return refused("SES_WritePage");
  if (!openOnDemand()) return SES_ConnectionFailed;
  return withRetries("SES_WritePage", [&] {
    std::int32_t rc = SES_SendDiagnosticCommand(serialNumber, length, page);
    if (rc != SES_Success) return rc;
    StatusPage status{};
    rc = readShortStatus(serialNumber, status);
    if (rc != SES_Success) return rc;
    return judgeStatus("SES_WritePage", status);
  });
}

std::int32_t SES_ReadPage(const char* serialNumber, std::uint8_t pageCode, std::uint32_t length,
                          std::uint8_t* buffer) {
  if (!fitsRequest("SES_ReadPage", serialNumber, length, buffer)) return refused("SES_ReadPage");
  if (!openOnDemand()) return SES_ConnectionFailed;
  return withRetries("SES_ReadPage", [&] {
    std::int32_t rc = SES_RecvDiagnosticResult(serialNumber, pageCode, length, buffer);
    if (rc != SES_Success) return rc;
    StatusPage status{};
    return readShortStatus(serialNumber, status);
  });
}

std::int32_t SES_ReadStringPage(const char* serialNumber, std::uint32_t outLength, const std::uint8_t* outPage,
                                std::uint32_t inLength, std::uint8_t* inBuffer, std::uint32_t delayMilliseconds) {
  // A refusal is 4101, not a failed exchange, and waits for nothing.
  if (!fitsRequest("SES_ReadStringPage", serialNumber, outLength, outPage) ||
      !fitsRequest("SES_ReadStringPage", serialNumber, inLength, inBuffer)) {
    return refused("SES_ReadStringPage");
  }
  if (!openOnDemand()) return SES_ConnectionFailed;
  std::int32_t rc = SES_SendDiagnosticCommand(serialNumber, outLength, outPage);
  // The device needs the time to build its answer, even after a failed send.
  SES_SleepMicroseconds(std::uint64_t{delayMilliseconds} * 1000u);
  if (rc == SES_Success) rc = SES_RecvDiagnosticResult(serialNumber, DLP::kPageCode, inLength, inBuffer);
  if (rc == SES_Success) return rc;
  if (rc != SES_Busy) rc = SES_StringPageFailed;
  KIV_TRACE("SES_ReadStringPage: Exit, rc = %d\n", rc);
  return rc;
}

void SES_CloseCIConnection() {
  if (isConnOpen == 0) return;
  KIV_TRACE("SES_CloseCIConnection: Closing CI Connection\n");
  niCIClose();
  isConnOpen = 0;
}

std::int32_t SES_DownloadFwTransfer(const char* serialNumber, int deviceNumber, const std::uint8_t* image,
                                    std::uint32_t imageLength) {
  std::int32_t rc = enterDownload("SES_DownloadFwTransfer", serialNumber, deviceNumber, image, imageLength);
  if (rc != SES_Success) return rc;

  DownloadPage page{};
  rc = sendHeaderPage(kStartStep, page, serialNumber, deviceNumber);
  if (rc == SES_Success) {
    kiv::wire::put8(page, DLP::kDeviceByte, static_cast<std::uint8_t>(deviceNumber | DLP::kPhaseImage));
    std::uint32_t sent = 0;
    while (sent < imageLength) {
      const std::uint32_t n = std::min(imageLength - sent, DLP::kChunk);
      kiv::wire::put16be(page, DLP::kPageLength,
                         static_cast<std::uint16_t>(DLP::kHeaderSize - DLP::kPageLengthBase + n));
      std::memcpy(page.data() + DLP::kImage, image + sent, n);
      rc = SES_SendDiagnosticCommand(serialNumber, static_cast<std::uint32_t>(DLP::kHeaderSize) + n, page.data());
      if (rc == SES_Success) {
        StatusPage status{};
        rc = readShortStatus(serialNumber, status);
        if (rc == SES_Success) rc = judgeStatus("SES_DownloadFwTransfer", status);
      }
      sent += n;
      KIV_TRACE("SES_DownloadFwTransfer: SendDiag Data rc=%d, ", rc);
      KIV_TRACE("(Sent/Total): %d / %d (%f%%)\n", static_cast<int>(sent), static_cast<int>(imageLength),
                static_cast<double>(sent) / static_cast<double>(imageLength) * 100.0);
      if (SES_DownloadProgress != nullptr) SES_DownloadProgress(sent, imageLength);
      if (rc != SES_Success) break;
    }
  }
  KIV_TRACE("SES_DownloadFwTransfer: Exit, rc = %d\n", rc);
  return rc;
}

std::int32_t SES_DownloadFwCommit(const char* serialNumber, int deviceNumber) {
  std::int32_t rc = enterDownload("SES_DownloadFwCommit", serialNumber, deviceNumber, nullptr, 0);
  if (rc != SES_Success) return rc;

  DownloadPage page{};
  rc = sendHeaderPage(kCommitStep, page, serialNumber, deviceNumber);
  if (rc == SES_Success) {
    for (int poll = 0; poll < kCommitPolls; ++poll) {
      StatusPage status{};
      rc = readShortStatus(serialNumber, status);
      KIV_TRACE("SES_DownloadFwCommit: RecvDiag ShortEncStatus rc = %d\n", rc);
      if (rc != SES_Success) continue;
      SES_SleepSeconds(kStatusSettleSeconds);
      rc = judgeStatus("SES_DownloadFwCommit", status);
      break;
    }
  }
  KIV_TRACE("SES_DownloadFwCommit: Exit, rc = %d\n", rc);
  return rc;
}
