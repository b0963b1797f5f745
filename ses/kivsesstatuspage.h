// The Short Enclosure Status page (SES page 8): four bytes, of which byte 1
// is the short enclosure status, 0 when good. Read after every page written
// and polled after a firmware commit; the simulated enclosure answers it.
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

#endif
