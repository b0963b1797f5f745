// SHA-256 (FIPS 180-4) of a byte string, as lower-case hex. A small own
// implementation keeps the project free of crypto libraries. The stand-in
// library checks its state file with it, kivadapsim reports the firmware
// images that simulated enclosures received, and kivses names the images
// it sends.
#ifndef KIV_CLI_KIVSHA256_H
#define KIV_CLI_KIVSHA256_H

#include <cstdint>
#include <span>
#include <string>

namespace kiv {
// Lower-case hex digest, 64 characters.
std::string sha256Hex(std::span<const std::uint8_t> data);
}  // namespace kiv

#endif
