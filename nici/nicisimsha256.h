// SHA-256 of a byte string, for kivadapsim's report of a received firmware
// image (a small own implementation keeps the tool free of crypto libraries).
#ifndef KIV_NICI_NICISIMSHA256_H
#define KIV_NICI_NICISIMSHA256_H

#include <cstdint>
#include <span>
#include <string>

namespace nicisim {
// Lower-case hex digest, 64 characters.
std::string sha256Hex(std::span<const std::uint8_t> data);
}  // namespace nicisim

#endif
