// Layout of the SES request block (blockKind 2): a SCSI SEND DIAGNOSTIC or
// RECEIVE DIAGNOSTIC RESULTS command wrapped for the client library. Shared by
// the enclosure module, which builds it, and the simulated enclosure, which
// decodes it.
#ifndef KIV_SES_KIVSESBLOCK_H
#define KIV_SES_KIVSESBLOCK_H

#include <cstddef>
#include <cstdint>

#include "adapci/kivwire.h"

namespace SesRequestBlock {
constexpr std::size_t kBlockKind = 0;           // 2 bytes
constexpr std::size_t kBlockSize = 4;           // 4 bytes
constexpr std::size_t kSerialNumber = 10;       // 38 bytes, NUL-terminated text
constexpr std::size_t kSerialNumberField = 38;
constexpr std::size_t kSerialNumberMax = 37;    // characters, NUL excluded
constexpr std::size_t kDirectiveStatus = 48;    // 1 byte, signed on return
constexpr std::size_t kResultWord = 52;         // 4 bytes: the two below
constexpr std::size_t kNetworkResult = 53;      // 1 byte, unsigned
constexpr std::size_t kApplicationResult = 54;  // 2 bytes, signed
constexpr std::size_t kAreas = 56;              // four 24-byte descriptors
constexpr std::size_t kTransaction = 152;       // 2 bytes
constexpr std::size_t kFixed154 = 154;          // 2 bytes, always 2
constexpr std::size_t kDataAddress = 176;       // 8 bytes on a 64-bit host
constexpr std::size_t kData = kiv::wire::kDataOffset;

// Offsets within the data area.
constexpr std::size_t kDataFixed6 = 6;          // 2 bytes, always 1
constexpr std::size_t kDataCdb = 8;             // 6-byte command
constexpr std::size_t kParameterAreaSize = 20;
constexpr std::size_t kDataPage = 20;           // L page bytes
constexpr std::size_t kTrailingAreaSize = 36;

constexpr std::size_t kCdb = kData + kDataCdb;  // block offset 192
constexpr std::size_t kPage = kData + kDataPage;  // block offset 204

constexpr std::uint16_t kKindSes = 2;
constexpr std::uint16_t kFixed154Value = 2;
constexpr std::uint16_t kDataFixed6Value = 1;

constexpr std::uint8_t kOpSendDiagnostic = 0x1D;
constexpr std::uint8_t kSendDiagnosticPF = 0x10;
constexpr std::uint8_t kOpReceiveDiagnosticResults = 0x1C;
constexpr std::uint8_t kReceivePCV = 0x01;

constexpr std::size_t kMaxPageLength = 65535;

// Block size for a page of L bytes: L + 240 rounded up to a multiple of 4.
constexpr std::uint32_t blockSizeFor(std::uint32_t pageLength) {
  return (pageLength + 240u + 3u) & ~3u;
}
constexpr std::size_t area(int i) { return kAreas + static_cast<std::size_t>(i) * kiv::wire::AreaDescriptor::kSize; }

static_assert(blockSizeFor(0) == 240 && blockSizeFor(1) == 244 && blockSizeFor(4) == 244 &&
              blockSizeFor(5) == 248 && blockSizeFor(9) == 252);
}  // namespace SesRequestBlock

#endif
