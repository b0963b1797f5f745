// The four request blocks, typed by hand from their layouts: the loop-map
// and service-mode requests (adapter request blocks) and the SEND
// DIAGNOSTIC and RECEIVE DIAGNOSTIC RESULTS requests (SES request blocks).
// The tests' own copy of those bytes, written without the product's layout
// names, so that a wrong name in the product cannot hide in both.
#ifndef KIV_TESTS_SUPPORT_KIVBLOCKS_H
#define KIV_TESTS_SUPPORT_KIVBLOCKS_H

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace kivtest::blocks {

using Block = std::vector<std::uint8_t>;

inline void be(Block& b, std::size_t at, std::uint64_t v, int width) {
  for (int i = width - 1; i >= 0; --i, v >>= 8) b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v);
}

// Header of an adapter request block: kind 1, size, service 7, the 2 at 56,
// the transaction, and the four descriptors at 72, 96, 120, 144.
inline Block adapterRequest(std::size_t size, int transaction, int port, int value, bool loopMap) {
  Block b(size, 0);
  be(b, 0, 1, 2);
  be(b, 4, size, 4);
  be(b, 52, 7, 4);
  b[56] = 2;
  be(b, 58, static_cast<std::uint64_t>(transaction), 2);
  b[72] = 8; be(b, 92, 4, 4);  // parameter area: offset 0, length 4
  b[96] = 1;
  if (loopMap) {
    b[120] = 8; be(b, 136, 4, 4); be(b, 140, 3008, 4);   // the loop map
    b[144] = 8; be(b, 160, 3012, 4); be(b, 164, 20, 4);  // the trailing area
  } else {
    b[120] = 1;
    b[144] = 1;
  }
  b[184] = static_cast<std::uint8_t>(port);
  b[185] = static_cast<std::uint8_t>(value);
  return b;
}

// FN_ADAP_GetFCLoopMap (82) of a port: 3216 bytes.
inline Block loopMap(int port) { return adapterRequest(3216, 82, port, 1, true); }
// FN_ADAP_ServiceMode (96), value 1 to set and 0 to clear: 192 bytes.
inline Block serviceMode(int port, int value) { return adapterRequest(192, 96, port, value, false); }

// An SES request block for a page of L bytes: L + 240 rounded up to 4.
inline Block sesRequest(const std::string& serial, std::size_t L, bool send, int pageCode, std::uint64_t dataAddress) {
  if (L > 0xFFFF) throw std::length_error("an SES page holds 65535 bytes at most");  // the CDB carries L in 16 bits
  Block b((L + 243) & ~std::size_t{3}, 0);
  be(b, 0, 2, 2);
  be(b, 4, b.size(), 4);
  for (std::size_t i = 0; i < serial.size(); ++i) b[10 + i] = static_cast<std::uint8_t>(serial[i]);
  b[56] = 8; be(b, 76, 20, 4);  // parameter area: offset 0, length 20
  const std::size_t out = send ? 80 : 104, none = send ? 104 : 80;
  b[out] = 8; be(b, out + 16, 20, 4); be(b, out + 20, L, 4);  // the page: data out or data in
  b[none] = 1;
  b[128] = 8; be(b, 144, L + 20, 4); be(b, 148, 36, 4);  // the trailing area
  be(b, 152, 59, 2);                                       // FN_ISAL_SCSI
  be(b, 154, 2, 2);
  be(b, 176, dataAddress, 8);
  be(b, 190, 1, 2);
  const std::uint8_t cdb[6] = {static_cast<std::uint8_t>(send ? 0x1D : 0x1C), static_cast<std::uint8_t>(send ? 0x10 : 0x01),
                               static_cast<std::uint8_t>(send ? 0 : pageCode), static_cast<std::uint8_t>(L >> 8),
                               static_cast<std::uint8_t>(L), 0};
  for (std::size_t i = 0; i < 6; ++i) b[192 + i] = cdb[i];
  return b;
}

// SEND DIAGNOSTIC of page (PF set), the page at block offset 204.
inline Block sendDiagnostic(const std::string& serial, const Block& page, std::uint64_t dataAddress) {
  Block b = sesRequest(serial, page.size(), true, 0, dataAddress);
  for (std::size_t i = 0; i < page.size(); ++i) b[204 + i] = page[i];
  return b;
}
// RECEIVE DIAGNOSTIC RESULTS of length bytes of a page (PCV set).
inline Block receiveDiagnostic(const std::string& serial, int pageCode, std::size_t length, std::uint64_t dataAddress) {
  return sesRequest(serial, length, false, pageCode, dataAddress);
}

}  // namespace kivtest::blocks

#endif
