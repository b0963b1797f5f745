// The simulator's block decoder, nicisim::answerBlock, fed request blocks
// on a state held in memory (no state file): well-formed port and SES
// requests with arbitrary bytes patched in, resized blocks and raw bytes,
// with the right data address or a wrong one.
//
// Each block sits in an allocation of exactly its size and the decoder gets
// a span over exactly those bytes, so any access past the block is caught.
// A block that fails the decoder's checks must leave the ports and the
// enclosures as they were and come back unchanged but for the directive
// status (or wholly unchanged with EINVAL); an answered block may change
// only its result field and its data area. Every call gives one printable
// log line, and the state stays readable by parse().
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "adapci/kivadapci.h"
#include "adapci/kivwire.h"
#include "debug/kivcodes.h"
#include "nicisim/nicisim.h"
#include "ses/kivsesblock.h"
#include "fuzzinput.h"

namespace {

using namespace kiv::wire;
namespace A = AdapterRequestBlock;
namespace S = SesRequestBlock;
using Block = std::vector<std::uint8_t>;

constexpr int kMaxBlocks = 8;
constexpr std::uint32_t kLoopMapSize = 3216;
constexpr std::uint32_t kServiceModeSize = 192;
constexpr std::uint32_t kMaxTemplatePage = 4096;
constexpr std::uint32_t kMaxRawSize = S::kMaxPageLength + 240;
constexpr const char* kSerials[] = {"SN0001", "ENC.A-1:x_Y", "Z"};

using kivfuzz::Reader;

// ---- the state ----

std::int32_t pickRc(Reader& in) {
  static constexpr std::int32_t kRcs[] = {nicisim::kAuto, AS_Success, AS_Warning, AE_IllegalRequest,
                                          AE_InServiceMode, AE_LoopDown, AE_Failure};
  std::uint8_t b = in.byte();
  if (b < 0xF0) return kRcs[b % std::size(kRcs)];
  return static_cast<std::int16_t>(in.half());  // the range parse accepts
}

// A state as parse() would accept it.
nicisim::State makeState(Reader& in) {
  nicisim::State s;
  const std::uint8_t modes = in.byte();
  for (int i = 0; i < nicisim::kPorts; ++i) {
    s.ports[static_cast<std::size_t>(i)].serviceMode = (modes >> i & 1) != 0;
    s.ports[static_cast<std::size_t>(i)].loopUp = (modes >> (i + 4) & 1) == 0;
  }
  const std::uint8_t forced = in.byte();
  if ((forced & 1) != 0) {
    nicisim::Port& p = s.ports[(forced >> 1) % nicisim::kPorts];
    p.forcedQuery = pickRc(in);
    p.forcedSet = pickRc(in);
    p.forcedClear = pickRc(in);
  }
  const std::uint8_t encl = in.byte();
  for (std::size_t i = 0; i < encl % (std::size(kSerials) + 1); ++i) {
    nicisim::Enclosure e;
    e.serial = kSerials[i];
    for (std::size_t n = in.byte() % 5; n > 0; --n) e.statuses.push_back(in.byte());
    e.next = e.statuses.empty() ? 0 : in.byte() % e.statuses.size();
    for (std::size_t n = in.byte() % 24; n > 0; --n) e.stringIn.push_back(in.byte());
    const std::uint8_t misc = in.byte();
    e.busy = misc % 3;
    e.pending = (misc & 0x10) != 0 ? nicisim::kRefusedCommitStatus : 0;
    // Devices 4 to 7 as the download pages below name them, at most one
    // of them still receiving.
    bool receiving = false;
    for (int d = 4; (misc & 0x20) != 0 && d < 8; ++d) {
      const std::uint8_t how = in.byte();
      if ((how & 3) == 0) continue;
      nicisim::Device dev{d, how % 3u, (how % 3u) * 7u, static_cast<nicisim::Transfer>((how >> 2) % 3)};
      if (dev.transfer == nicisim::kReceiving && receiving) dev.transfer = nicisim::kStopped;
      receiving = receiving || dev.transfer == nicisim::kReceiving;
      e.devices.push_back(dev);
    }
    s.enclosures.push_back(std::move(e));
  }
  return s;
}

// ---- the requests, laid out as the utility and the enclosure module lay them out ----

Block adapterRequest(std::uint16_t transaction, std::uint8_t port, std::uint8_t value) {
  const bool map = transaction == FN_ADAP_GetFCLoopMap;
  const std::uint32_t size = map ? kLoopMapSize : kServiceModeSize;
  Block b(size, 0);
  put16be(b, A::kBlockKind, A::kKindAdapter);
  put32be(b, A::kBlockSize, size);
  put32be(b, A::kService, A::kServiceAdapter);
  put8(b, A::kFixed56, A::kFixed56Value);
  put16be(b, A::kTransaction, transaction);
  putArea(b, A::area(0), presentArea(0, 4));
  putArea(b, A::area(1), noArea());
  putArea(b, A::area(2), map ? presentArea(4, 3008) : noArea());
  putArea(b, A::area(3), map ? presentArea(3012, 20) : noArea());
  put8(b, A::kData, port);
  put8(b, A::kData + 1, value);
  return b;
}

// A serial number field: a known enclosure, an unknown one, an empty one,
// or 38 bytes from the input that may lack their terminator.
void putSerial(Block& b, Reader& in) {
  const std::uint8_t how = in.byte() % 6;
  std::string serial = how < 3 ? kSerials[how] : how == 3 ? "NO-SUCH" : "";
  if (how == 5) {
    for (std::size_t i = 0; i < S::kSerialNumberField; ++i) b[S::kSerialNumber + i] = in.byte();
    return;
  }
  std::memcpy(b.data() + S::kSerialNumber, serial.c_str(), serial.size() + 1);
}

Block sesRequest(Reader& in, bool send, std::uint8_t page, const Block& pageBytes, std::uint32_t L) {
  const std::uint32_t size = S::blockSizeFor(L);
  Block b(size, 0);
  put16be(b, S::kBlockKind, S::kKindSes);
  put32be(b, S::kBlockSize, size);
  putSerial(b, in);
  putArea(b, S::area(0), presentArea(0, 20));
  putArea(b, S::area(1), send ? presentArea(20, L) : noArea());
  putArea(b, S::area(2), send ? noArea() : presentArea(20, L));
  putArea(b, S::area(3), presentArea(L + 20, 36));
  put16be(b, S::kTransaction, FN_ISAL_SCSI);
  put16be(b, S::kFixed154, S::kFixed154Value);
  put16be(b, S::kData + S::kDataFixed6, S::kDataFixed6Value);
  put8(b, S::kCdb, send ? S::kOpSendDiagnostic : S::kOpReceiveDiagnosticResults);
  put8(b, S::kCdb + 1, send ? S::kSendDiagnosticPF : S::kReceivePCV);
  put8(b, S::kCdb + 2, send ? 0 : page);
  put16be(b, S::kCdb + 3, static_cast<std::uint16_t>(L));
  for (std::size_t i = 0; send && i < pageBytes.size() && i < L; ++i) b[S::kPage + i] = pageBytes[i];
  return b;
}

// A String Out page that carries a download step.
Block downloadPage(Reader& in) {
  const std::uint8_t flag = in.byte();
  Block image(in.byte() % 64);
  for (std::uint8_t& v : image) v = in.byte();
  Block p(9 + image.size(), 0);
  p[0] = 4;
  std::uint16_t pageLength = static_cast<std::uint16_t>(5 + image.size());
  if ((flag & 0x01) != 0) pageLength = static_cast<std::uint16_t>(in.half() % 128);
  put16be(p, 2, pageLength);
  p[4] = 0x3C;
  p[8] = static_cast<std::uint8_t>((flag & 0xC0) | (4 + ((flag >> 1) & 3)));
  if (!image.empty()) std::memcpy(p.data() + 9, image.data(), image.size());
  return p;
}

bool isSes(const Block& b) { return b.size() >= 2 && get16be(b, 0) == S::kKindSes; }

// ---- one block ----

struct Request {
  Block bytes;
  bool ses = false;                 // an SES template: it gets its data address
  std::uint64_t addressFlip = 0;    // nonzero: the wrong data address is passed
  bool rawAddress = false;
  std::uint64_t address = 0;
};

Request makeRequest(Reader& in) {
  Request r;
  const std::uint8_t t = in.byte();
  switch (t % 6) {
    case 0: {
      std::uint32_t size = (t & 0x40) != 0 ? (in.half() + 240u) % (kMaxRawSize + 1) : in.half() % 4200u;
      r.bytes.assign(size, 0);
      for (std::size_t i = 0; i < size && !in.empty(); ++i) r.bytes[i] = in.byte();
      r.ses = isSes(r.bytes);
      break;
    }
    case 1:
    case 2: {
      const std::uint8_t port = in.byte(), value = in.byte();
      r.bytes = t % 6 == 1 ? adapterRequest(FN_ADAP_GetFCLoopMap, port % 6, value < 0xF0 ? 1 : value)
                           : adapterRequest(FN_ADAP_ServiceMode, port % 6, value % 3);
      break;
    }
    case 3: {
      const std::uint8_t page = in.byte();
      const std::uint8_t pages[] = {8, 4, 0, page};
      r.bytes = sesRequest(in, false, pages[page % 4], {}, in.half() % kMaxTemplatePage);
      r.ses = true;
      break;
    }
    case 4: {
      Block page(in.half() % kMaxTemplatePage);
      for (std::size_t i = 0; i < page.size() && !in.empty(); ++i) page[i] = in.byte();
      r.bytes = sesRequest(in, true, 0, page, static_cast<std::uint32_t>(page.size()));
      r.ses = true;
      break;
    }
    default: {
      Block page = downloadPage(in);
      r.bytes = sesRequest(in, true, 0, page, static_cast<std::uint32_t>(page.size()));
      r.ses = true;
      break;
    }
  }
  switch ((t >> 3) & 3) {
    case 1: r.addressFlip = std::uint64_t{1} << (in.byte() % 64); break;
    case 2:
      r.rawAddress = true;
      r.address = (std::uint64_t{in.word()} << 32) | in.word();
      break;
    default: break;
  }
  return r;
}

// Resizes (keeping or fixing blockSize) and patches the bytes; returns the
// patches to apply once the block sits where it is answered.
std::vector<std::pair<std::size_t, std::uint8_t>> tweak(Reader& in, Block& b) {
  const std::uint8_t m = in.byte();
  if ((m & 1) != 0) {
    const auto delta = static_cast<std::int8_t>(in.byte());
    const long size = static_cast<long>(b.size()) + delta;
    b.resize(static_cast<std::size_t>(size < 0 ? 0 : size), 0);
    if ((m & 2) != 0 && b.size() >= 8) put32be(b, 4, static_cast<std::uint32_t>(b.size()));
  }
  std::vector<std::pair<std::size_t, std::uint8_t>> patches;
  for (int n = (m >> 2) % 8; n > 0 && !b.empty(); --n) {
    const std::size_t at = in.half() % b.size();
    patches.emplace_back(at, in.byte());
  }
  return patches;
}

bool printable(const std::string& line) {
  if (line.empty() || line.size() > 512) return false;
  for (unsigned char c : line)
    if (c < 0x20 || c > 0x7E) return false;
  return true;
}

// Bytes outside [from1, to1) and [from2, end) are as they were.
void checkOnlyChanged(const Block& before, std::span<const std::uint8_t> after, std::size_t from1, std::size_t to1,
                      std::size_t from2) {
  for (std::size_t i = 0; i < before.size(); ++i) {
    if ((i >= from1 && i < to1) || i >= from2) continue;
    if (before[i] != after[i]) std::abort();
  }
}

void answerOne(nicisim::State& s, Reader& in) {
  Request r = makeRequest(in);
  auto patches = tweak(in, r.bytes);
  const std::size_t size = r.bytes.size();

  // The block in an allocation of its own size, address filled in there.
  auto block = std::make_unique<std::uint8_t[]>(size);
  if (size > 0) std::memcpy(block.get(), r.bytes.data(), size);
  const std::span<std::uint8_t> span(block.get(), size);
  const auto dataAt = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(block.get()) + kDataOffset);
  if (r.ses && size >= S::kDataAddress + 8) put64be(span, S::kDataAddress, dataAt);
  for (auto [at, v] : patches) block[at] = v;
  const std::uint64_t address = r.rawAddress ? r.address : dataAt ^ r.addressFlip;

  const Block request(block.get(), block.get() + size);
  nicisim::State before = s;
  const std::string beforeText = nicisim::serialize(s);
  const nicisim::Answer answer = nicisim::answerBlock(s, span, address);
  const int rc = answer.err;

  // A printable log line.
  const std::string& line = answer.line;
  if (!printable(line)) std::abort();
  const bool malformed = line.starts_with("malformed: ");

  if (rc != 0 && answer.image) std::abort();
  if (rc == EINVAL) {
    if (!malformed || request != Block(block.get(), block.get() + size)) std::abort();
    if (nicisim::serialize(s) != beforeText) std::abort();
    return;
  }
  if (rc == EBUSY) {
    if (malformed || !line.ends_with(" busy") || request != Block(block.get(), block.get() + size)) std::abort();
    // Only one enclosure's count of busy sends went down, by one.
    int changed = 0;
    for (std::size_t i = 0; i < s.enclosures.size(); ++i) {
      if (s.enclosures[i].busy == before.enclosures[i].busy) continue;
      if (s.enclosures[i].busy != before.enclosures[i].busy - 1) std::abort();
      before.enclosures[i].busy = s.enclosures[i].busy;
      ++changed;
    }
    if (changed != 1 || nicisim::serialize(s) != nicisim::serialize(before)) std::abort();
    return;
  }
  if (rc != 0) std::abort();

  const bool sesKind = size >= 2 && get16be(request, 0) == S::kKindSes;
  if (malformed) {
    // Only the directive status, and it says the parameter was bad.
    const std::size_t statusAt = sesKind ? S::kDirectiveStatus : A::kDirectiveStatus;
    if (statusAt >= size || block[statusAt] != static_cast<std::uint8_t>(DE_BadParameter)) std::abort();
    for (std::size_t i = 0; i < size; ++i)
      if (i != statusAt && block[i] != request[i]) std::abort();
    if (nicisim::serialize(s) != beforeText) std::abort();
    return;
  }

  // Answered: the result field and the data area may change, nothing else.
  if (sesKind) {
    if (!line.starts_with("FN_ISAL_SCSI serial=")) std::abort();
    checkOnlyChanged(request, span, S::kApplicationResult, S::kApplicationResult + 2, S::kPage);
    // The ports stay; at most one enclosure changes.
    if (s.enclosures.size() != before.enclosures.size()) std::abort();
    int changed = 0;
    for (std::size_t i = 0; i < s.enclosures.size(); ++i) {
      if (s.enclosures[i] == before.enclosures[i]) continue;
      before.enclosures[i] = s.enclosures[i];
      ++changed;
    }
    if (changed > 1 || nicisim::serialize(s) != nicisim::serialize(before)) std::abort();
    // An image write takes its bytes from the block's page, and leaves the
    // device as long as the bytes it has.
    if (answer.image) {
      const std::uint8_t* from = answer.image->bytes.data();
      if (!answer.image->bytes.empty() && (from < block.get() + S::kPage || from + answer.image->bytes.size() > block.get() + size)) {
        std::abort();
      }
      nicisim::Enclosure* e = s.find(answer.image->serial);
      const nicisim::Device* d = e != nullptr ? e->device(answer.image->device) : nullptr;
      if (d == nullptr || d->length != answer.image->offset + answer.image->bytes.size()) std::abort();
    }
  } else {
    if (!line.starts_with("FN_ADAP_")) std::abort();
    checkOnlyChanged(request, span, A::kApplicationResult, A::kApplicationResult + 2, A::kData);
    // A loop map query changes nothing; a service mode change only the
    // mode of the port it names.
    if (get16be(request, A::kTransaction) == FN_ADAP_ServiceMode) {
      const std::size_t port = get8(request, A::kData);
      if (port < 1 || port > nicisim::kPorts) std::abort();
      before.ports[port - 1].serviceMode = s.ports[port - 1].serviceMode;
    }
    if (nicisim::serialize(s) != nicisim::serialize(before)) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Reader in{data, size};
  nicisim::State s = makeState(in);
  for (int n = 0; n < kMaxBlocks && !in.empty(); ++n) answerOne(s, in);
  // Whatever was answered, the state reads back as it was written.
  const std::string text = nicisim::serialize(s);
  nicisim::State back;
  std::string why;
  if (!nicisim::parse(text, back, why) || nicisim::serialize(back) != text) std::abort();
  return 0;
}
