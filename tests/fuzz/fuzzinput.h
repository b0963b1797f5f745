// Reads a fuzzer's input as a stream of bytes, giving 0 once it runs out;
// multi-byte values most significant byte first, each byte read in a
// statement of its own so that the order does not depend on the compiler.
#ifndef KIV_TESTS_FUZZ_FUZZINPUT_H
#define KIV_TESTS_FUZZ_FUZZINPUT_H

#include <cstddef>
#include <cstdint>

namespace kivfuzz {

struct Reader {
  const std::uint8_t* data;
  std::size_t size;
  std::uint8_t byte() { return size == 0 ? 0 : (--size, *data++); }
  std::uint16_t half() { const std::uint16_t high = byte(); return static_cast<std::uint16_t>(high << 8 | byte()); }
};

}  // namespace kivfuzz

#endif
