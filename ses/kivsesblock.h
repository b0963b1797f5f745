// Layout of the SES request block (blockKind 2): a SCSI SEND DIAGNOSTIC or
// RECEIVE DIAGNOSTIC RESULTS command wrapped for the client library. The one
// place its offsets and fixed values are written down: the enclosure module
// builds the block from these names and the simulated enclosure decodes it
// with them.
#ifndef KIV_SES_KIVSESBLOCK_H
#define KIV_SES_KIVSESBLOCK_H

#include <array>
#include <cstddef>
#include <cstdint>

#include "adapci/kivwire.h"

namespace SesRequestBlock {
constexpr std::size_t kBlockKind = 0;           // 2 bytes
constexpr std::size_t kBlockSize = 4;           // 4 bytes
constexpr std::size_t kSerialNumber = 10;       // 38 bytes, NUL-terminated text
constexpr std::size_t kSerialNumberField = 38;
// The longest serial number that fits its field with its NUL.
constexpr std::size_t kSerialNumberMax = kSerialNumberField - 1;
constexpr std::size_t kDirectiveStatus = 48;    // 1 byte, signed on return
constexpr std::size_t kResultWord = 52;         // 4 bytes: the two below
constexpr std::size_t kResultWordFirstByte = 52;
constexpr std::size_t kNetworkResult = 53;      // 1 byte, unsigned
constexpr std::size_t kApplicationResult = 54;  // 2 bytes, signed
constexpr std::size_t kAreas = 56;              // four 24-byte descriptors
constexpr std::size_t kTransaction = 152;       // 2 bytes
constexpr std::size_t kFixed154 = 154;          // 2 bytes, always 2
constexpr std::size_t kDataAddress = 176;       // 8 bytes on a 64-bit host
constexpr std::size_t kDataAddressWidth = 8;
constexpr std::size_t kData = kiv::wire::kDataOffset;

// Offsets within the data area.
constexpr std::size_t kDataFixed6 = 6;          // 2 bytes, always 1
constexpr std::size_t kDataCdb = 8;             // 6-byte command
constexpr std::size_t kCdbSize = 6;
constexpr std::size_t kParameterAreaSize = 20;
constexpr std::size_t kDataPage = 20;           // L page bytes
constexpr std::size_t kTrailingAreaSize = 36;

constexpr std::size_t kCdb = kData + kDataCdb;    // block offset 192
constexpr std::size_t kPage = kData + kDataPage;  // block offset 204

// Bytes of the command descriptor block.
constexpr std::size_t kCdbOperation = 0;
constexpr std::size_t kCdbFlags = 1;      // PF of a send, PCV of a receive
constexpr std::size_t kCdbPageCode = 2;   // a receive's page code; 0 on a send
constexpr std::size_t kCdbLength = 3;     // 2 bytes, big-endian: L
constexpr std::size_t kCdbControl = 5;

constexpr std::uint16_t kKindSes = 2;
constexpr std::uint16_t kFixed154Value = 2;
constexpr std::uint16_t kDataFixed6Value = 1;

constexpr std::uint8_t kOpSendDiagnostic = 0x1D;
constexpr std::uint8_t kSendDiagnosticPF = 0x10;
constexpr std::uint8_t kOpReceiveDiagnosticResults = 0x1C;
constexpr std::uint8_t kReceivePCV = 0x01;

// The command carries L in 16 bits.
constexpr std::uint32_t kMaxPageLength = 0xFFFF;

// Block size for a page of L bytes: L + 240 rounded up to a multiple of 4.
constexpr std::uint32_t kUnroundedOverhead = static_cast<std::uint32_t>(kData + kParameterAreaSize + kTrailingAreaSize);
constexpr std::uint32_t blockSizeFor(std::uint32_t pageLength) {
  return (pageLength + kUnroundedOverhead + 3u) & ~3u;
}
constexpr std::size_t area(int i) { return kAreas + static_cast<std::size_t>(i) * kiv::wire::AreaDescriptor::kSize; }

// The four descriptors: parameter area, data out, data in, trailing area.
constexpr kiv::wire::Areas areasFor(bool send, std::uint32_t pageLength) {
  using namespace kiv::wire;
  return {{presentArea(0, kParameterAreaSize),
           send ? presentArea(kDataPage, pageLength) : noArea(),
           send ? noArea() : presentArea(kDataPage, pageLength),
           presentArea(static_cast<std::uint32_t>(kDataPage) + pageLength, kTrailingAreaSize)}};
}

// The header fields that carry a value when a request is sent (the serial
// number's bytes after its NUL are zero too). Every other header byte, the
// directive status and the result word included, goes out as zero.
constexpr std::array<kiv::wire::Field, 7> kSentFields{{
    {kBlockKind, 2},
    {kBlockSize, 4},
    {kSerialNumber, kSerialNumberField},
    {kAreas, kiv::wire::AreaDescriptor::kCount * kiv::wire::AreaDescriptor::kSize},
    {kTransaction, 2},
    {kFixed154, 2},
    {kDataAddress, kDataAddressWidth},
}};
// The valued bytes of the parameter area; the page follows it.
constexpr std::array<kiv::wire::Field, 2> kSentParameters{{
    {kData + kDataFixed6, 2},
    {kCdb, kCdbSize},
}};

static_assert(kUnroundedOverhead == 240);
static_assert(blockSizeFor(0) == 240 && blockSizeFor(1) == 244 && blockSizeFor(4) == 244 &&
              blockSizeFor(5) == 248 && blockSizeFor(9) == 252);
static_assert(kDataCdb + kCdbSize <= kParameterAreaSize);
}  // namespace SesRequestBlock

#endif
