// The input checks of kivses.
#include "sescli/kivsesinput.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>

namespace kivsescli {

namespace {

struct Fd {
  int fd;
  ~Fd() {
    if (fd >= 0) close(fd);
  }
};

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool isSeparator(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == ','; }

std::string cannot(const std::string& path) { return "cannot read " + path + ": " + std::strerror(errno); }

}  // namespace

bool parseNumber(std::string_view text, std::uint32_t max, std::uint32_t& out) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  std::uint64_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size() || value > max) return false;
  out = static_cast<std::uint32_t>(value);
  return true;
}

std::string parseHex(std::string_view text, std::size_t maxBytes, std::vector<std::uint8_t>& out) {
  out.clear();
  std::size_t i = 0;
  while (i < text.size()) {
    if (isSeparator(text[i])) {
      ++i;
      continue;
    }
    // One group of pairs up to the next separator.
    std::size_t end = i;
    while (end < text.size() && !isSeparator(text[end])) {
      if (hexDigit(text[end]) < 0) return std::string("not a hex digit: '") + text[end] + "'";
      ++end;
    }
    if ((end - i) % 2 != 0) return "an odd number of hex digits in '" + std::string(text.substr(i, end - i)) + "'";
    for (; i < end; i += 2) {
      if (out.size() == maxBytes) return "more than " + std::to_string(maxBytes) + " bytes";
      out.push_back(static_cast<std::uint8_t>(hexDigit(text[i]) * 16 + hexDigit(text[i + 1])));
    }
  }
  return out.empty() ? "no bytes given" : "";
}

std::string readRegularFile(const std::string& path, std::uint64_t maxBytes, std::vector<std::uint8_t>& out) {
  const Fd f{open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC)};
  if (f.fd < 0) return cannot(path);
  struct stat st {};
  if (fstat(f.fd, &st) != 0) return cannot(path);
  if (!S_ISREG(st.st_mode)) return path + " is not a regular file";
  if (st.st_size == 0) return path + " is empty";
  if (static_cast<std::uint64_t>(st.st_size) > maxBytes) {
    return path + " holds more than " + std::to_string(maxBytes) + " bytes";
  }
  out.resize(static_cast<std::size_t>(st.st_size));
  std::size_t got = 0;
  while (got < out.size()) {
    const ssize_t n = read(f.fd, out.data() + got, out.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return cannot(path);
    if (n == 0) break;  // the file shrank while it was read
    got += static_cast<std::size_t>(n);
  }
  out.resize(got);
  return out.empty() ? path + " is empty" : "";
}

std::string readPageData(const std::string& arg, std::size_t maxBytes, std::vector<std::uint8_t>& out) {
  if (arg.starts_with("@")) return readRegularFile(arg.substr(1), maxBytes, out);
  if (arg != "-") return parseHex(arg, maxBytes, out);
  // Room for every byte as a pair with a separator, and then some: a
  // longer text is too long whatever it holds.
  const std::size_t most = maxBytes * 3 + 4096;
  std::string text;
  char chunk[4096];
  for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, stdin)) > 0;) {
    text.append(chunk, n);
    if (text.size() > most) return "more than " + std::to_string(maxBytes) + " bytes on standard input";
  }
  if (std::ferror(stdin)) return std::string("cannot read standard input: ") + std::strerror(errno);
  return parseHex(text, maxBytes, out);
}

std::string hexText(const std::uint8_t* bytes, std::size_t n) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text(n * 2, '0');
  for (std::size_t i = 0; i < n; ++i) {
    text[2 * i] = kDigits[bytes[i] >> 4];
    text[2 * i + 1] = kDigits[bytes[i] & 0xF];
  }
  return text;
}

}  // namespace kivsescli
