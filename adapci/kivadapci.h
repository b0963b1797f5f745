// Adapter request exchange: one adapter request block sent through the
// command-interface client library and answered in place.
#ifndef KIV_ADAPCI_KIVADAPCI_H
#define KIV_ADAPCI_KIVADAPCI_H

#include <cstddef>
#include <array>
#include <cstdint>

#include "adapci/kivwire.h"

// Layout of the adapter request block (blockKind 1), the one place its
// offsets and fixed values are written down: the port requests build it
// from these names and the simulated adapter decodes it with them.
// Multi-byte fields are big-endian; descriptor offsets count from the data
// area at offset 184.
namespace AdapterRequestBlock {
constexpr std::size_t kBlockKind = 0;          // 2 bytes
constexpr std::size_t kBlockSize = 4;          // 4 bytes, whole block
constexpr std::size_t kService = 52;           // 4 bytes
constexpr std::size_t kFixed56 = 56;           // 1 byte, always 2
constexpr std::size_t kTransaction = 58;       // 2 bytes
constexpr std::size_t kDirectiveStatus = 60;   // 1 byte, set by the adapter
constexpr std::size_t kAreas = 72;             // four 24-byte descriptors
constexpr std::size_t kResultWord = 168;       // 4 bytes: the two below
constexpr std::size_t kResultWordFirstByte = 168;
constexpr std::size_t kNetworkResult = 169;    // 1 byte, unsigned
constexpr std::size_t kApplicationResult = 170;  // 2 bytes, signed
constexpr std::size_t kData = kiv::wire::kDataOffset;

constexpr std::uint16_t kKindAdapter = 1;
constexpr std::uint32_t kServiceAdapter = 7;
constexpr std::uint8_t kFixed56Value = 2;

constexpr std::size_t area(int i) { return kAreas + static_cast<std::size_t>(i) * kiv::wire::AreaDescriptor::kSize; }

// The header fields that carry a value when a request is sent. Every other
// header byte, the directive status and the result word included, goes out
// as zero.
constexpr std::array<kiv::wire::Field, 6> kSentFields{{
    {kBlockKind, 2},
    {kBlockSize, 4},
    {kService, 4},
    {kFixed56, 1},
    {kTransaction, 2},
    {kAreas, kiv::wire::AreaDescriptor::kCount * kiv::wire::AreaDescriptor::kSize},
}};
}  // namespace AdapterRequestBlock

// Exchange codes of SendAdapCIRequest.
enum AdapterExchangeCode : std::int32_t {
  ADAPCI_Answered = 0,
  ADAPCI_OpenFailed = 10,
  ADAPCI_SendFailed = 11,
  ADAPCI_DirectiveFailed = 12,
  ADAPCI_ResultNonZero = 13,
  ADAPCI_CloseFailed = 14,
  // The send succeeded but fewer bytes than the request came back: the rest
  // of the block still holds what was sent, zero results included, and
  // must not be read as the adapter's answer. A failed close does not
  // replace this code.
  ADAPCI_AnswerIncomplete = 15,
};

// Sends the requestSize-byte block at pRequest and copies the answer back
// over it. The block must hold requestSize + responseSize bytes; no more than
// that is ever copied into it, whatever size the library reports.
std::int32_t SendAdapCIRequest(std::uint32_t requestSize, std::uint32_t responseSize,
                               std::uint8_t* pRequest);

#endif
