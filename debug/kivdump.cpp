// Hex dumps and the command-line record.
#include "debug/kivdump.h"

#include <cinttypes>
#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <span>

#include "debug/kivtrace.h"

#define KIV_TRACE_MODULE "kivdebug"

namespace {

constexpr std::size_t kDumpLineSize = 128;
// "\n", title, "\n" and the NUL must fit the line buffer.
constexpr int kMaxTitleLength = static_cast<int>(kDumpLineSize) - 3;
constexpr std::size_t kCommandLineSize = 768;
constexpr std::size_t kBytesPerLine = 16;
// Column at which the character part begins on a line with a three-digit
// offset; the offset itself is not counted, so wider offsets push it right.
constexpr int kCharColumn = 58;
constexpr int kFirstByteColumn = 5;
constexpr int kColumnsPerByte = 3;

// A fixed buffer that lines are appended to piece by piece. Appends that do
// not fit are cut, and the text stays NUL-terminated.
template <std::size_t N>
class LineBuffer {
 public:
  LineBuffer() { text_[0] = '\0'; }

  void clear() {
    used_ = 0;
    text_[0] = '\0';
  }

  __attribute__((format(printf, 2, 3))) void append(const char* format, ...) {
    if (used_ + 1 >= N) return;
    va_list ap;
    va_start(ap, format);
    int n = std::vsnprintf(text_ + used_, N - used_, format, ap);
    va_end(ap);
    if (n < 0) {
      text_[used_] = '\0';
      return;
    }
    used_ = (static_cast<std::size_t>(n) < N - used_) ? used_ + static_cast<std::size_t>(n) : N - 1;
  }

  void appendChar(char c) {
    if (used_ + 1 >= N) return;
    text_[used_++] = c;
    text_[used_] = '\0';
  }

  // Appends as much of s as fits.
  void appendText(const char* s) {
    while (*s != '\0' && used_ + 1 < N) text_[used_++] = *s++;
    text_[used_] = '\0';
  }

  const char* c_str() const { return text_; }

 private:
  char text_[N];
  std::size_t used_ = 0;
};

using DumpLine = LineBuffer<kDumpLineSize>;

// Printable in the POSIX locale, which the system never changes.
constexpr char shownAs(std::uint8_t b) { return (b >= 0x20 && b <= 0x7E) ? static_cast<char>(b) : '.'; }

void WriteDumpLine(const DumpLine& line, int toStdout, int toTrace) {
  if (toStdout != 0) std::fputs(line.c_str(), stdout);
  if (toTrace != 0) KIV_TraceText(KIV_TRACE_MODULE, __LINE__, line.c_str());
}

// One data line for the bytes of group, which start at offset. Groups of
// fewer than 16 bytes are filled so the characters start in the usual column.
void ComposeDataLine(DumpLine& line, std::size_t offset, std::span<const std::uint8_t> group) {
  line.clear();
  line.append("%03zX:", offset);
  int column = kFirstByteColumn;
  for (std::uint8_t b : group) {
    line.append("%02x ", static_cast<unsigned>(b));
    column += kColumnsPerByte;
  }
  for (; column < kCharColumn; ++column) line.appendChar(' ');
  for (std::uint8_t b : group) line.appendChar(shownAs(b));
  line.appendChar('\n');
}

void DumpBinary(const char* title, const void* address, std::int32_t length, int toStdout,
                int toTrace) {
  DumpLine line;
  line.append("\n%.*s\n", kMaxTitleLength, title != nullptr ? title : "");
  WriteDumpLine(line, toStdout, toTrace);

  line.clear();
  line.append("Address: 0x%" PRIxPTR " Length: 0x%" PRIx32 "\n\n", reinterpret_cast<std::uintptr_t>(address),
              static_cast<std::uint32_t>(length));
  WriteDumpLine(line, toStdout, toTrace);

  if (length <= 0 || address == nullptr) return;
  const std::span<const std::uint8_t> bytes(static_cast<const std::uint8_t*>(address),
                                            static_cast<std::size_t>(length));
  for (std::size_t offset = 0; offset < bytes.size(); offset += kBytesPerLine) {
    const std::size_t n = bytes.size() - offset < kBytesPerLine ? bytes.size() - offset : kBytesPerLine;
    ComposeDataLine(line, offset, bytes.subspan(offset, n));
    WriteDumpLine(line, toStdout, toTrace);
  }
}

}  // namespace

void DumpBinaryToStdout(const char* title, const void* address, std::int32_t length) {
  DumpBinary(title, address, length, 1, 1);
}

void DumpBinaryToTrace(const char* title, const void* address, std::int32_t length) {
  DumpBinary(title, address, length, 0, 1);
}

void RecordCommandLine(std::int32_t argc, const char* const* argv) {
  LineBuffer<kCommandLineSize> text;
  if (argv != nullptr) {
    for (std::int32_t i = 0; i < argc; ++i) {
      if (argv[i] != nullptr) text.appendText(argv[i]);
      text.appendChar(' ');
    }
  }
  KIV_TRACE("%s\n", text.c_str());
}
