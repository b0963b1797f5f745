// The two port requests of the service-mode utility: the loop-map read
// (FN_ADAP_GetFCLoopMap) and the service-mode change (FN_ADAP_ServiceMode),
// both adapter request blocks. Their sizes, areas, parameter bytes and the
// service-mode flag of the loop-map answer are written down here once; the
// utility builds the requests from them and the simulated adapter decodes
// them with them. Also the port names and their numbers.
#ifndef KIV_SERVICEMODE_KIVPORTREQUESTS_H
#define KIV_SERVICEMODE_KIVPORTREQUESTS_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "adapci/kivadapci.h"
#include "adapci/kivwire.h"

namespace PortRequest {

// Parameter bytes at the start of the data area of both requests.
constexpr std::size_t kPort = AdapterRequestBlock::kData + 0;   // port number 1 to 4
constexpr std::size_t kValue = AdapterRequestBlock::kData + 1;  // see each request
constexpr std::uint32_t kParameterAreaLength = 4;
constexpr std::array<kiv::wire::Field, 2> kParameters{{{kPort, 1}, {kValue, 1}}};

constexpr std::int32_t kFirstPort = 1;
constexpr std::int32_t kLastPort = 4;

// The port names accepted on the command line, tried in this order; pairs
// are 1/2 and 3/4.
struct PortName {
  const char* name;
  std::int32_t number;
};
constexpr std::array<PortName, 8> kPortNames{{
    {"1L", 1}, {"1l", 1}, {"1R", 2}, {"1r", 2}, {"2L", 3}, {"2l", 3}, {"2R", 4}, {"2r", 4},
}};
// The canonical name of port number n is kPortNames[2 * (n - 1)].
constexpr const char* portName(std::int32_t number) {
  return number >= kFirstPort && number <= kLastPort ? kPortNames[static_cast<std::size_t>(2 * (number - 1))].name
                                                     : "?";
}
// The number of the port called name (either case), 0 when no port is.
constexpr std::int32_t portNumber(std::string_view name) {
  for (const PortName& p : kPortNames)
    if (name == p.name) return p.number;
  return 0;
}
constexpr std::int32_t partnerOf(std::int32_t number) { return ((number - 1) ^ 1) + 1; }

}  // namespace PortRequest

// FN_ADAP_GetFCLoopMap: the parameter area, the 3008-byte loop map and a
// 20-byte trailing area that carries the service-mode flag.
namespace LoopMapRequest {
constexpr std::uint32_t kBlockSize = 3216;
constexpr std::uint8_t kValue = 1;  // the second parameter byte
constexpr std::uint32_t kLoopMapAreaOffset = 4;
constexpr std::uint32_t kLoopMapAreaLength = 3008;
constexpr std::uint32_t kTrailingAreaOffset = 3012;
constexpr std::uint32_t kTrailingAreaLength = 20;
constexpr kiv::wire::Areas kAreas{{
    kiv::wire::presentArea(0, PortRequest::kParameterAreaLength),
    kiv::wire::noArea(),
    kiv::wire::presentArea(kLoopMapAreaOffset, kLoopMapAreaLength),
    kiv::wire::presentArea(kTrailingAreaOffset, kTrailingAreaLength),
}};
// The service-mode word: byte 8 of the trailing area, little-endian, unlike
// every header field. The port is in service mode when the bit is set.
constexpr std::size_t kServiceModeWord = AdapterRequestBlock::kData + kTrailingAreaOffset + 8;
constexpr std::uint32_t kServiceModeBit = 0x40;

static_assert(kServiceModeWord == 3204);
static_assert(AdapterRequestBlock::kData + kTrailingAreaOffset + kTrailingAreaLength == kBlockSize);
static_assert(PortRequest::kParameterAreaLength + kLoopMapAreaLength == kTrailingAreaOffset);
}  // namespace LoopMapRequest

// FN_ADAP_ServiceMode: 8 data bytes, the first 4 of them the parameter area.
namespace ServiceModeRequest {
constexpr std::uint32_t kBlockSize = 192;
constexpr std::uint8_t kClear = 0;  // the second parameter byte
constexpr std::uint8_t kSet = 1;
constexpr kiv::wire::Areas kAreas{{
    kiv::wire::presentArea(0, PortRequest::kParameterAreaLength),
    kiv::wire::noArea(),
    kiv::wire::noArea(),
    kiv::wire::noArea(),
}};
}  // namespace ServiceModeRequest

#endif
