// The firmware download page: an SES String Out page (page code 4, which
// reads back as String In) that carries the download command byte. Start
// and commit pages are 9 bytes; image pages carry up to 503 image bytes
// after the same 9-byte header. The enclosure module builds these pages and
// the simulated enclosure decodes them, both from these names.
#ifndef KIV_SES_KIVSESDOWNLOADPAGE_H
#define KIV_SES_KIVSESDOWNLOADPAGE_H

#include <cstddef>
#include <cstdint>

namespace SesDownloadPage {
constexpr std::uint8_t kPageCode = 4;  // String Out when sent, String In when read

constexpr std::size_t kPageCodeByte = 0;
constexpr std::size_t kPageLength = 2;     // 2 bytes, big-endian: bytes after byte 3
constexpr std::size_t kPageLengthBase = 4; // bytes up to and including the page length
constexpr std::size_t kCommandByte = 4;
constexpr std::size_t kReserved = 5;       // 3 bytes, zero
constexpr std::size_t kReservedSize = 3;
constexpr std::size_t kDeviceByte = 8;     // device number OR the phase flag
constexpr std::size_t kImage = 9;          // image bytes of an image page
constexpr std::size_t kHeaderSize = 9;

constexpr std::uint8_t kCommand = 0x3C;
constexpr std::uint8_t kPhaseStart = 0x40;
constexpr std::uint8_t kPhaseImage = 0x00;
constexpr std::uint8_t kPhaseCommit = 0x80;
constexpr std::uint8_t kPhaseMask = 0xC0;
// The device number leaves bits 6 and 7 of its byte to the phase flag.
constexpr int kMaxDeviceNumber = 0x3F;

// The device's settling times: after the start page, after the commit page,
// and after the first status that can be read once it is committed; and
// how often that status is read at most.
constexpr unsigned kStartWaitSeconds = 10;
constexpr unsigned kCommitWaitSeconds = 20;
constexpr unsigned kStatusSettleSeconds = 5;
constexpr int kCommitPolls = 10;

constexpr std::size_t kPageSize = 512;
constexpr std::uint32_t kChunk = kPageSize - kHeaderSize;  // 503 image bytes

static_assert(kChunk == 503);
static_assert((kMaxDeviceNumber & kPhaseMask) == 0);
}  // namespace SesDownloadPage

#endif
