// What kivses checks before anything reaches an enclosure: numbers, page
// data in hex, and files.
// Each check returns an empty text when the input may be used, else one
// line that says what is wrong with it.
#ifndef KIV_SESCLI_KIVSESINPUT_H
#define KIV_SESCLI_KIVSESINPUT_H

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kivsescli {

// A whole number from 0 to max, in decimal or with 0x in hex; nothing
// before or after it.
bool parseNumber(std::string_view text, std::uint32_t max, std::uint32_t& out);

// Pairs of hex digits, the pairs optionally separated by blanks, line ends
// or commas; at most maxBytes bytes, at least one.
std::string parseHex(std::string_view text, std::size_t maxBytes, std::vector<std::uint8_t>& out);

// The bytes of a regular file, at least one and at most maxBytes. A FIFO or
// a device could block or never end, so only a regular file is read.
std::string readRegularFile(const std::string& path, std::uint64_t maxBytes, std::vector<std::uint8_t>& out);

// Page data as --data gives it: hex, "-" for hex on standard input, or
// "@FILE" for the bytes of a file.
std::string readPageData(const std::string& arg, std::size_t maxBytes, std::vector<std::uint8_t>& out);

// Lower-case hex of bytes, no separators.
std::string hexText(const std::uint8_t* bytes, std::size_t n);

}  // namespace kivsescli

#endif
