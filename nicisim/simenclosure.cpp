// The simulated enclosures behind the adapter: SES request blocks checked
// against their layout byte by byte, then answered as a device answers
// SEND DIAGNOSTIC and RECEIVE DIAGNOSTIC RESULTS: Short Enclosure Status
// pages from a staged list, the String In page as staged, and firmware
// download pages taken into the enclosure's image.
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

// A download page: the start page opens a new image, image pages add to it,
// the commit page commits it.
std::int32_t downloadPage(Enclosure& e, ConstBytes page) {
  const std::uint32_t pageLength = get16be(page, DLP::kPageLength);
  if (pageLength < DLP::kHeaderSize - DLP::kPageLengthBase || pageLength + DLP::kPageLengthBase > page.size()) {
    return AE_IllegalRequest;
  }
  switch (get8(page, DLP::kDeviceByte) & DLP::kPhaseMask) {
    case DLP::kPhaseStart:
      e.image.clear();
      e.overflow = false;
      e.download = kStarted;
      return AS_Success;
    case DLP::kPhaseImage: {
      if (e.download != kStarted) return AE_IllegalRequest;
      const std::size_t n = pageLength + DLP::kPageLengthBase - DLP::kHeaderSize;
      if (e.image.size() + n > kMaxImage) {
        e.overflow = true;
        return AE_Failure;
      }
      const ConstBytes bytes = page.subspan(DLP::kImage, n);
      e.image.insert(e.image.end(), bytes.begin(), bytes.end());
      return AS_Success;
    }
    case DLP::kPhaseCommit:
      if (e.download != kStarted) return AE_IllegalRequest;
      e.download = kCommitted;
      return AS_Success;
    default:
      return AE_IllegalRequest;
  }
}

// The enclosure's side of one SES command. Returns the application result.
std::int32_t enclosureCommand(Enclosure& e, std::span<std::uint8_t> b) {
  const std::uint32_t L = pageLengthOf(b);
  const std::span<std::uint8_t> page = b.subspan(S::kPage, L);
  if (!isSend(b)) {
    std::vector<std::uint8_t> answer;
    const std::uint8_t code = get8(b, S::kCdb + S::kCdbPageCode);
    if (code == SES::kPageCode) {
      std::vector<std::uint8_t> status(SES::kLength, 0);
      status[SES::kPageCodeByte] = SES::kPageCode;
      status[SES::kStatusByte] = e.statuses.empty() ? SES::kGood : e.statuses[e.next];
      if (e.next + 1 < e.statuses.size()) ++e.next;
      answer = std::move(status);
    } else if (code == DLP::kPageCode) {
      answer = e.stringIn;
    }
    for (std::size_t i = 0; i < answer.size() && i < page.size(); ++i) page[i] = answer[i];
    return AS_Success;
  }
  // Only a String Out page with the download command changes the enclosure.
  if (L < DLP::kHeaderSize || get8(page, DLP::kPageCodeByte) != DLP::kPageCode ||
      get8(page, DLP::kCommandByte) != DLP::kCommand) {
    return AS_Success;
  }
  return downloadPage(e, page);
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
    return {EBUSY, describeSes(b) + " busy"};
  }
  const std::int32_t rc = e == nullptr ? AE_BadSerialNumber : enclosureCommand(*e, b);
  put16be(b, S::kApplicationResult, static_cast<std::uint16_t>(rc));
  return {0, describeSes(b) + " rc=" + std::to_string(rc)};
}

}  // namespace nicisim
