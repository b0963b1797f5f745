// The simulated enclosures behind the adapter: SES request blocks checked
// against their layout byte by byte, then answered as a device answers
// SEND DIAGNOSTIC and RECEIVE DIAGNOSTIC RESULTS: Short Enclosure Status
// pages from a staged list, the String In page as staged, the list of
// supported pages, and firmware download pages kept per device. A page
// code the enclosure does not support is refused (AE_IllReqBadPageCode).
#include <algorithm>
#include <cerrno>
#include <string>

#include "adapci/kivwire.h"
#include "debug/kivcodes.h"
#include "nicisim/nicisim.h"
#include "ses/kivsesblock.h"
#include "ses/kivsesdownloadpage.h"
#include "ses/kivsesstatuspage.h"

namespace nicisim {

using namespace kiv::wire;

namespace {
namespace S = SesRequestBlock;
namespace DLP = SesDownloadPage;
namespace SES = ShortEnclosureStatusPage;

bool isSend(ConstBytes b) { return get8(b, S::kCdb + S::kCdbOperation) == S::kOpSendDiagnostic; }
std::uint32_t pageLengthOf(ConstBytes b) { return get16be(b, S::kCdb + S::kCdbLength); }

namespace SUP = SupportedPagesPage;

// The pages a read may ask for; any other is answered as unsupported.
constexpr std::array<std::uint8_t, 3> kSupportedPages{SUP::kPageCode, DLP::kPageCode, SES::kPageCode};

// The enclosure's one transfer still receiving, if any.
Transfer* openTransfer(Enclosure& e) {
  for (Device& d : e.devices)
    if (d.transfer == kReceiving) return &d.transfer;
  return nullptr;
}

// A download page: the start page opens a transfer for its device, image
// pages add to it, the commit page commits it when it is complete.
std::int32_t downloadPage(Enclosure& e, ConstBytes page, std::optional<ImageWrite>& image) {
  const std::uint32_t pageLength = get16be(page, DLP::kPageLength);
  if (pageLength + DLP::kPageLengthBase != page.size() ||
      !strayByte(page, DLP::kReserved, DLP::kReserved + DLP::kReservedSize, {}).empty()) {
    return AE_IllegalRequest;
  }
  const std::uint8_t deviceByte = get8(page, DLP::kDeviceByte);
  const int number = deviceByte & ~DLP::kPhaseMask;
  const std::size_t n = page.size() - DLP::kHeaderSize;
  const std::uint8_t phase = deviceByte & DLP::kPhaseMask;
  if ((phase == DLP::kPhaseImage) != (n > 0)) return AE_IllegalRequest;
  Device* d = e.device(number);
  switch (phase) {
    case DLP::kPhaseStart: {
      if (Transfer* open = openTransfer(e); open != nullptr) *open = kStopped;
      if (d == nullptr) {
        e.devices.push_back(Device{number});
        std::sort(e.devices.begin(), e.devices.end(), [](const Device& x, const Device& y) { return x.number < y.number; });
        d = e.device(number);
      }
      // A new transfer, into a file of its own; the committed image stays.
      const Device before = *d;
      *d = Device{number};
      d->file = before.file + 1;
      d->imageFile = before.imageFile;
      d->imageLength = before.imageLength;
      image = ImageWrite{e.serial, number, true, d->file, {before.file, before.imageFile}, 0, {}};
      return AS_Success;
    }
    case DLP::kPhaseImage:
      if (d == nullptr || d->transfer != kReceiving) return AE_IllegalRequest;
      if (d->length + n > kMaxImage) {
        d->transfer = kStopped;
        return AE_IllReqBadLength;
      }
      image = ImageWrite{e.serial, number, false, d->file, {}, d->length, page.subspan(DLP::kImage, n)};
      ++d->pages;
      d->length += n;
      return AS_Success;
    case DLP::kPhaseCommit:
      // The page is taken; what became of it shows in the next status read.
      if (d != nullptr && d->transfer == kReceiving && d->pages > 0) {
        d->transfer = kCommitted;
        d->imageFile = d->file;
        d->imageLength = d->length;
      } else {
        e.pending = kRefusedCommitStatus;
      }
      return AS_Success;
    default:
      return AE_IllegalRequest;
  }
}

// A page read: the status page (its staged list, or the status of a
// refused commit), the String In page, or the list of supported pages.
std::int32_t readPage(Enclosure& e, std::uint8_t code, std::span<std::uint8_t> page) {
  std::vector<std::uint8_t> answer;
  if (code == SES::kPageCode) {
    answer.assign(SES::kLength, 0);
    put8(answer, SES::kPageCodeByte, SES::kPageCode);
    std::uint8_t status = e.statuses.empty() ? SES::kGood : e.statuses[e.next];
    if (e.pending != 0) {
      status = e.pending;
      e.pending = 0;
    } else if (e.next + 1 < e.statuses.size()) {
      ++e.next;
    }
    put8(answer, SES::kStatusByte, status);
    if (Transfer* open = openTransfer(e); open != nullptr && status != SES::kGood) *open = kStopped;
  } else if (code == DLP::kPageCode) {
    answer = e.stringIn;
  } else if (code == SUP::kPageCode) {
    answer.assign(SUP::kCodes + kSupportedPages.size(), 0);
    put8(answer, SUP::kPageCodeByte, SUP::kPageCode);
    put16be(answer, SUP::kPageLength, static_cast<std::uint16_t>(kSupportedPages.size()));
    for (std::size_t i = 0; i < kSupportedPages.size(); ++i) put8(answer, SUP::kCodes + i, kSupportedPages[i]);
  } else {
    return AE_IllReqBadPageCode;
  }
  std::copy_n(answer.begin(), std::min(answer.size(), page.size()), page.begin());
  return AS_Success;
}

// The enclosure's side of one SES command. Returns the application result.
std::int32_t enclosureCommand(Enclosure& e, std::span<std::uint8_t> b, std::optional<ImageWrite>& image) {
  const std::uint32_t L = pageLengthOf(b);
  const std::span<std::uint8_t> page = b.subspan(S::kPage, L);
  if (!isSend(b)) return readPage(e, get8(b, S::kCdb + S::kCdbPageCode), page);
  if (L == 0) return AS_Success;  // no parameter list, nothing to do
  // String Out is the one page a send may carry; only one with the
  // download command changes the enclosure.
  if (get8(page, DLP::kPageCodeByte) != DLP::kPageCode) return AE_IllReqBadPageCode;
  if (L < DLP::kHeaderSize || get8(page, DLP::kCommandByte) != DLP::kCommand) return AS_Success;
  return downloadPage(e, page, image);
}

}  // namespace

std::string sesLayoutError(ConstBytes b, std::uint64_t dataAddress) {
  const auto size = static_cast<std::uint32_t>(b.size());
  if (size < S::blockSizeFor(0)) return "SES block of " + decimal(size) + " bytes is too short";
  if (get16be(b, S::kTransaction) != FN_ISAL_SCSI) {
    return "transaction " + decimal(get16be(b, S::kTransaction)) + " is not " + decimal(FN_ISAL_SCSI);
  }
  if (get16be(b, S::kFixed154) != S::kFixed154Value) {
    return "bytes at offset " + decimal(S::kFixed154) + " are not " + decimal(S::kFixed154Value);
  }
  if (get16be(b, S::kData + S::kDataFixed6) != S::kDataFixed6Value) {
    return "data offset " + decimal(S::kDataFixed6) + " is not " + decimal(S::kDataFixed6Value);
  }
  const std::uint8_t op = get8(b, S::kCdb + S::kCdbOperation);
  const bool send = op == S::kOpSendDiagnostic;
  if (!send && op != S::kOpReceiveDiagnosticResults) return "operation code " + decimal(op) + " not served";
  const std::uint8_t flags = get8(b, S::kCdb + S::kCdbFlags);
  if (flags != (send ? S::kSendDiagnosticPF : S::kReceivePCV)) return "CDB byte 1 is " + decimal(flags);
  if ((send && get8(b, S::kCdb + S::kCdbPageCode) != 0) || get8(b, S::kCdb + S::kCdbControl) != 0) {
    return "CDB reserved byte set";
  }
  const std::uint32_t L = pageLengthOf(b);
  if (size != S::blockSizeFor(L)) return "size " + decimal(size) + " for page length " + decimal(L);
  if (std::string z = strayByte(b, 0, S::kData, S::kSentFields); !z.empty()) return z;
  if (std::string z = strayByte(b, S::kData, S::kPage, S::kSentParameters); !z.empty()) return z;
  if (std::string z = areasDiffer(b, S::kAreas, S::areasFor(send, L)); !z.empty()) return z;
  // The serial number: text, its NUL within the field, zeros after it.
  const ConstBytes serial = b.subspan(S::kSerialNumber, S::kSerialNumberField);
  std::size_t nul = 0;
  while (nul < serial.size() && serial[nul] != 0) ++nul;
  if (nul == serial.size()) return "serial number not terminated within its field";
  if (std::string z = strayByte(b, S::kSerialNumber + nul, S::kSerialNumber + serial.size(), {}); !z.empty()) return z;
  if (get64be(b, S::kDataAddress) != dataAddress) return "dataAddress does not point at the data area";
  // A receive's data-in area and every block's trailing area go out empty.
  return strayByte(b, send ? S::kPage + L : S::kPage, size, {});
}

namespace {
std::string serialOf(ConstBytes b) {
  std::string serial;
  for (std::size_t i = S::kSerialNumber; b[i] != 0; ++i) {
    serial += (b[i] >= 0x21 && b[i] <= 0x7E) ? static_cast<char>(b[i]) : '?';
  }
  return serial;
}
}  // namespace

std::string describeSes(ConstBytes b) {
  const bool send = isSend(b);
  const std::uint32_t L = pageLengthOf(b);
  const unsigned page = send ? (L > 0 ? get8(b, S::kPage) : 0) : get8(b, S::kCdb + S::kCdbPageCode);
  return "FN_ISAL_SCSI serial=" + serialOf(b) + " cmd=" + (send ? "SEND_DIAGNOSTIC" : "RECEIVE_DIAGNOSTIC_RESULTS") +
         " page=" + std::to_string(page) + " length=" + std::to_string(L);
}

Answer answerSes(State& s, std::span<std::uint8_t> b) {
  Enclosure* e = s.find(serialOf(b));
  if (e != nullptr && e->busy > 0) {
    --e->busy;
    return {EBUSY, describeSes(b) + " busy", {}};
  }
  Answer a;
  const std::int32_t rc = e == nullptr ? AE_BadSerialNumber : enclosureCommand(*e, b, a.image);
  put16be(b, S::kApplicationResult, static_cast<std::uint16_t>(rc));
  a.line = describeSes(b) + " rc=" + std::to_string(rc);
  return a;
}

}  // namespace nicisim
