// Reads a fuzzer's input as a stream of bytes, giving 0 once it runs out.
#ifndef KIV_TESTS_FUZZ_FUZZINPUT_H
#define KIV_TESTS_FUZZ_FUZZINPUT_H

#include <cstddef>
#include <cstdint>

namespace kivfuzz {

struct Reader {
  const std::uint8_t* data;
  std::size_t size;
  bool empty() const { return size == 0; }
  std::uint8_t byte() {
    if (size == 0) return 0;
    --size;
    return *data++;
  }
  // Most significant byte first; each read in its own statement so the
  // order does not depend on the compiler.
  std::uint16_t half() {
    const std::uint16_t high = byte();
    return static_cast<std::uint16_t>(high << 8 | byte());
  }
  std::uint32_t word() {
    const std::uint32_t high = half();
    return high << 16 | half();
  }
};

}  // namespace kivfuzz

#endif
