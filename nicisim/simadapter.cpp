// The simulated adapter: every request block is checked against its layout
// byte by byte, the two port requests are answered by the adapter's rules,
// and SES requests are handed to the enclosures (simenclosure.cpp). A block
// that breaks its layout is answered with DE_BadParameter, as the adapter
// answers a directive it cannot parse.
#include <cerrno>
#include <string>

#include "adapci/kivadapci.h"
#include "adapci/kivwire.h"
#include "debug/kivcodes.h"
#include "nicisim/nicisim.h"
#include "servicemode/kivportrequests.h"
#include "ses/kivsesblock.h"

namespace nicisim {

using namespace kiv::wire;

namespace {
namespace A = AdapterRequestBlock;
namespace S = SesRequestBlock;

// Bits of the service-mode word besides the flag, so that a reader that
// tests the wrong bit or the wrong byte order sees a difference.
constexpr std::uint32_t kServiceModeWordBase = 0x00A1B2;
// A small loop: its AL_PA count, then the AL_PAs.
constexpr std::array<std::uint8_t, 4> kLoop{3, 0x01, 0x02, 0xE8};

std::string adapterLayoutError(ConstBytes b, std::uint32_t size) {
  if (get32be(b, A::kService) != A::kServiceAdapter) {
    return "service " + decimal(get32be(b, A::kService)) + " is not " + decimal(A::kServiceAdapter);
  }
  if (get8(b, A::kFixed56) != A::kFixed56Value) {
    return "byte at offset " + decimal(A::kFixed56) + " is " + decimal(get8(b, A::kFixed56)) + ", not " +
           decimal(A::kFixed56Value);
  }
  const std::uint16_t t = get16be(b, A::kTransaction);
  if (t != FN_ADAP_GetFCLoopMap && t != FN_ADAP_ServiceMode) return "transaction " + decimal(t) + " not served";
  const bool map = t == FN_ADAP_GetFCLoopMap;
  const std::uint32_t want = map ? LoopMapRequest::kBlockSize : ServiceModeRequest::kBlockSize;
  if (size != want) return "size " + decimal(size) + " for transaction " + decimal(t) + ", expected " + decimal(want);
  if (std::string z = strayByte(b, 0, A::kData, A::kSentFields); !z.empty()) return z;
  if (std::string z = areasDiffer(b, A::kAreas, map ? LoopMapRequest::kAreas : ServiceModeRequest::kAreas);
      !z.empty()) {
    return z;
  }
  const std::uint8_t port = get8(b, PortRequest::kPort);
  const std::uint8_t value = get8(b, PortRequest::kValue);
  if (port < PortRequest::kFirstPort || port > PortRequest::kLastPort) return "port " + decimal(port) + " out of range";
  if (map ? value != LoopMapRequest::kValue : value > ServiceModeRequest::kSet) return "data byte 1 is " + decimal(value);
  return strayByte(b, A::kData, size, PortRequest::kParameters);
}

std::string describeAdapter(ConstBytes b) {
  const int port = get8(b, PortRequest::kPort);
  if (get16be(b, A::kTransaction) == FN_ADAP_GetFCLoopMap) return "FN_ADAP_GetFCLoopMap port=" + std::to_string(port);
  return "FN_ADAP_ServiceMode port=" + std::to_string(port) + " value=" + std::to_string(get8(b, PortRequest::kValue));
}

Answer answerAdapter(State& s, std::span<std::uint8_t> b) {
  const std::uint16_t t = get16be(b, A::kTransaction);
  const int port = get8(b, PortRequest::kPort);
  Port& p = s.ports[static_cast<std::size_t>(port - 1)];
  std::int32_t rc = 0;
  if (t == FN_ADAP_GetFCLoopMap) {
    rc = p.forcedQuery != kAuto ? p.forcedQuery : p.loopUp ? AS_Success : AE_LoopDown;
    if (rc == AS_Success || rc == AS_Warning) {
      const std::size_t loopMap = A::kData + LoopMapRequest::kLoopMapAreaOffset;
      for (std::size_t i = 0; i < kLoop.size(); ++i) put8(b, loopMap + i, kLoop[i]);
      put8(b, A::kData + LoopMapRequest::kTrailingAreaOffset, static_cast<std::uint8_t>(port));
      put32le(b, LoopMapRequest::kServiceModeWord,
              kServiceModeWordBase | (p.serviceMode ? LoopMapRequest::kServiceModeBit : 0u));
    }
  } else {
    const int value = get8(b, PortRequest::kValue);
    const Port& partner = s.ports[static_cast<std::size_t>(PortRequest::partnerOf(port) - 1)];
    if (value == ServiceModeRequest::kSet) {
      rc = p.forcedSet != kAuto ? p.forcedSet
           : p.serviceMode      ? AS_Warning
           : partner.serviceMode ? AE_InServiceMode
                                 : AS_Success;
      // A forced answer is given as staged, but the adapter never holds both
      // ports of a pair in service mode.
      if ((rc == AS_Success || (rc == AS_Warning && p.forcedSet != kAuto)) && !partner.serviceMode) {
        p.serviceMode = true;
      }
    } else {
      rc = p.forcedClear != kAuto ? p.forcedClear : p.serviceMode ? AS_Success : AE_IllegalRequest;
      if (rc == AS_Success || rc == AS_Warning) p.serviceMode = false;
    }
  }
  put16be(b, A::kApplicationResult, static_cast<std::uint16_t>(rc));
  return {0, describeAdapter(b) + " rc=" + std::to_string(rc), {}};
}

}  // namespace

std::string decimal(std::uint32_t v) { return std::to_string(v); }

std::string strayByte(ConstBytes b, std::size_t from, std::size_t to, std::span<const Field> valued) {
  const std::size_t at = firstStrayByte(b, from, to, valued);
  return at < to && at < b.size() ? "nonzero byte at offset " + decimal(static_cast<std::uint32_t>(at)) : "";
}

std::string areasDiffer(ConstBytes b, std::size_t at, const Areas& want) {
  const Areas got = getAreas(b, at);
  for (std::size_t i = 0; i < got.size(); ++i) {
    const Area& a = got[i];
    if (!(a == want[i])) {
      return "descriptor " + decimal(static_cast<std::uint32_t>(i + 1)) + " is (" + decimal(a.kind) + "," +
             decimal(a.offset) + "," + decimal(a.length) + ")";
    }
    const std::size_t first = at + i * AreaDescriptor::kSize;
    const ConstBytes d = b.subspan(first, AreaDescriptor::kSize);
    const std::size_t stray = firstStrayByte(d, 0, d.size(), AreaDescriptor::kValuedFields);
    if (stray < d.size()) return "nonzero byte at offset " + decimal(static_cast<std::uint32_t>(first + stray));
  }
  return "";
}

ResultFields resultFieldsOf(ConstBytes block) {
  const bool ses = block.size() >= A::kBlockKind + 2 && get16be(block, A::kBlockKind) == S::kKindSes;
  return ses ? ResultFields{S::kDirectiveStatus, S::kResultWordFirstByte, S::kNetworkResult}
             : ResultFields{A::kDirectiveStatus, A::kResultWordFirstByte, A::kNetworkResult};
}

std::string blockError(ConstBytes b, std::uint64_t dataAddress) {
  const auto size = static_cast<std::uint32_t>(b.size());
  if (size <= A::kDirectiveStatus) return "block of " + decimal(size) + " bytes is too short";
  const std::uint16_t kind = get16be(b, A::kBlockKind);
  const std::uint32_t blockSize = get32be(b, A::kBlockSize);
  if (blockSize != size) return "blockSize " + decimal(blockSize) + " differs from requestSize " + decimal(size);
  if (kind == A::kKindAdapter) return adapterLayoutError(b, size);
  if (kind == S::kKindSes) return sesLayoutError(b, dataAddress);
  return "unknown blockKind " + decimal(kind);
}

std::string describe(ConstBytes b) {
  return get16be(b, A::kBlockKind) == S::kKindSes ? describeSes(b) : describeAdapter(b);
}

Answer answerBlock(State& s, std::span<std::uint8_t> b, std::uint64_t dataAddress) {
  if (std::string why = blockError(b, dataAddress); !why.empty()) {
    // Answered with DE_BadParameter in its directive status (an SES block
    // keeps its own earlier in the header), unless too short to hold one.
    const std::size_t at = resultFieldsOf(b).directiveStatus;
    if (at >= b.size()) return {EINVAL, "malformed: " + why + " to answer", {}};
    put8(b, at, static_cast<std::uint8_t>(DE_BadParameter));
    return {0, "malformed: " + why, {}};
  }
  return get16be(b, A::kBlockKind) == S::kKindSes ? answerSes(s, b) : answerAdapter(s, b);
}

}  // namespace nicisim
