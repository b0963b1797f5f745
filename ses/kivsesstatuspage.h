// The diagnostic pages read by number: the Short Enclosure Status page (SES
// page 8), four bytes, of which byte 1 is the short enclosure status, 0 when
// good, read after every page written and polled after a firmware commit;
// and the Supported Diagnostic Pages page (page 0), which lists the page
// codes a device answers. The simulated enclosure answers both.
#ifndef KIV_SES_KIVSESSTATUSPAGE_H
#define KIV_SES_KIVSESSTATUSPAGE_H

#include <cstddef>
#include <cstdint>

namespace ShortEnclosureStatusPage {
constexpr std::uint8_t kPageCode = 8;
constexpr std::uint32_t kLength = 4;
constexpr std::size_t kPageCodeByte = 0;
constexpr std::size_t kStatusByte = 1;
constexpr std::uint8_t kGood = 0;
}  // namespace ShortEnclosureStatusPage

namespace SupportedPagesPage {
constexpr std::uint8_t kPageCode = 0;
constexpr std::size_t kPageCodeByte = 0;
constexpr std::size_t kPageLength = 2;  // 2 bytes, big-endian: the number of codes listed
constexpr std::size_t kCodes = 4;       // one byte per supported page code, ascending
}  // namespace SupportedPagesPage

#endif
