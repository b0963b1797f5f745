// DumpBinaryToStdout, DumpBinaryToTrace and RecordCommandLine on arbitrary
// titles, data, lengths and argument vectors. Data, titles, arguments and
// argument vectors each sit in an allocation of exactly their size, so any
// read past them is caught by the sanitizers. What reaches standard output
// and the trace must be the documented lines byte for byte, every line
// within its buffer. The trace file lives in a temporary folder and is
// emptied before each call, so it never grows across iterations.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "debug/kivdump.h"
#include "debug/kivhousekeeping.h"
#include "debug/kivtrace.h"
#include "fuzzinput.h"

namespace {

using kivfuzz::Reader;

// Longest line a dump writes, its NUL excluded, and the longest text of a
// command-line record.
constexpr std::size_t kMaxDumpLine = 127;
constexpr std::size_t kMaxCommandLine = 767;

// ---- the trace file and a capture file for standard output ----

char g_dir[4096] = "";
int g_traceFd = -1;
int g_captureFd = -1;

std::time_t fixedNow() { return 1700000000; }
// A clock that never moves: after the first line, no elapsed-time text is
// written, so each call's trace output can be predicted byte for byte.
void fixedTimeOfDay(struct timeval* tv) {
  tv->tv_sec = 1700000000;
  tv->tv_usec = 0;
}
int noGzip(std::span<const std::string>) { return 0; }

// Runs after the trace module's exit handler (registered before it).
void removeTraceDir() {
  for (int* fd : {&g_traceFd, &g_captureFd}) {
    if (*fd >= 0) close(*fd);
    *fd = -1;
  }
  if (DIR* d = opendir(g_dir)) {
    while (dirent* e = readdir(d)) {
      if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
      unlinkat(dirfd(d), e->d_name, 0);
    }
    closedir(d);
  }
  rmdir(g_dir);
}

void openTrace() {
  const char* tmp = std::getenv("TMPDIR");
  std::snprintf(g_dir, sizeof g_dir, "%s/kivfuzz-dump.XXXXXX", tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp");
  if (mkdtemp(g_dir) == nullptr) std::abort();
  KIV_DebugDir = g_dir;
  KIV_TimeNow = fixedNow;
  KIV_TimeOfDayNow = fixedTimeOfDay;
  KIV_HouseKeepingNow = fixedNow;
  KIV_RunGzip = noGzip;
  std::atexit(removeTraceDir);
  // The capture file is named so that it can never be taken for a trace.
  const std::string capture = std::string(g_dir) + "/stdout";
  g_captureFd = open(capture.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (g_captureFd < 0) std::abort();
  if (KIV_OpenTraceFile("fuzz_dump") != 0 || GetDebugFile() == nullptr) std::abort();
  g_traceFd = open(DebugStreamName, O_RDONLY | O_CLOEXEC);
  if (g_traceFd < 0) std::abort();
  // Uses up the one elapsed-time text of the first trace line.
  KIV_TraceLine("fuzz", 0, "start\n");
}

void emptyFd(int fd) {
  if (ftruncate(fd, 0) != 0 || lseek(fd, 0, SEEK_SET) != 0) std::abort();
}

void clearTrace() {
  std::FILE* f = GetDebugFile();
  std::fflush(f);
  if (ftruncate(fileno(f), 0) != 0 || std::fseek(f, 0, SEEK_SET) != 0) std::abort();
}

std::string readAll(int fd) {
  std::string text;
  char buf[8192];
  for (off_t at = 0;;) {
    ssize_t n = pread(fd, buf, sizeof buf, at);
    if (n < 0) std::abort();
    if (n == 0) return text;
    text.append(buf, static_cast<std::size_t>(n));
    at += n;
  }
}

// Runs fn with standard output sent to the capture file; returns what it
// wrote there.
template <typename Fn>
std::string captureStdout(Fn fn) {
  std::fflush(stdout);
  emptyFd(g_captureFd);
  const int saved = dup(STDOUT_FILENO);
  if (dup2(g_captureFd, STDOUT_FILENO) < 0) std::abort();
  fn();
  std::fflush(stdout);
  if (saved >= 0) {
    dup2(saved, STDOUT_FILENO);
    close(saved);
  } else {
    close(STDOUT_FILENO);
  }
  return readAll(g_captureFd);
}

// ---- the reference ----

std::vector<std::string> dumpLines(const char* title, const void* address, std::int32_t length) {
  std::vector<std::string> lines;
  std::string t = title != nullptr ? title : "";
  if (t.size() > 125) t.resize(125);
  lines.push_back("\n" + t + "\n");
  char buf[128];
  std::snprintf(buf, sizeof buf, "Address: 0x%" PRIxPTR " Length: 0x%" PRIx32 "\n\n",
                reinterpret_cast<std::uintptr_t>(address), static_cast<std::uint32_t>(length));
  lines.push_back(buf);
  if (length <= 0 || address == nullptr) return lines;
  const auto* bytes = static_cast<const std::uint8_t*>(address);
  for (std::size_t offset = 0; offset < static_cast<std::size_t>(length); offset += 16) {
    const std::size_t n = std::min<std::size_t>(16, static_cast<std::size_t>(length) - offset);
    std::snprintf(buf, sizeof buf, "%03zX:", offset);
    std::string line = buf;
    for (std::size_t i = 0; i < n; ++i) {
      std::snprintf(buf, sizeof buf, "%02x ", static_cast<unsigned>(bytes[offset + i]));
      line += buf;
    }
    line += std::string(5 + 3 * (16 - n), ' ');
    for (std::size_t i = 0; i < n; ++i) {
      const std::uint8_t b = bytes[offset + i];
      line += (b >= 0x20 && b <= 0x7E) ? static_cast<char>(b) : '.';
    }
    line += '\n';
    lines.push_back(line);
  }
  return lines;
}

// The trace holds each line behind its own "kivdebug:<n> " prefix, and all
// lines of one call come from one source line.
void checkTrace(const std::string& trace, const std::vector<std::string>& lines) {
  const std::string module = "kivdebug:";
  std::size_t at = 0;
  std::string firstNumber;
  for (const std::string& line : lines) {
    if (trace.compare(at, module.size(), module) != 0) std::abort();
    at += module.size();
    const std::size_t digitsAt = at;
    while (at < trace.size() && trace[at] >= '0' && trace[at] <= '9') ++at;
    const std::string number = trace.substr(digitsAt, at - digitsAt);
    if (number.empty() || at >= trace.size() || trace[at] != ' ') std::abort();
    if (firstNumber.empty()) firstNumber = number;
    if (number != firstNumber) std::abort();
    ++at;
    if (trace.compare(at, line.size(), line) != 0) std::abort();
    at += line.size();
  }
  if (at != trace.size()) std::abort();
}

// No line of a text is longer than limit, its line end excluded.
void checkBounded(const std::string& text, std::size_t limit) {
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t nl = text.find('\n', start);
    std::size_t end = nl == std::string::npos ? text.size() : nl;
    if (end - start > limit) std::abort();
    start = end + 1;
  }
}

// A C string from the input in an allocation of its own size. Long lengths
// reach past the buffers of the module; a zero byte from the input ends the
// text early, as it would in any C string.
std::unique_ptr<char[]> takeText(Reader& in, std::size_t len) {
  auto text = std::make_unique<char[]>(len + 1);
  for (std::size_t i = 0; i < len; ++i) text[i] = in.empty() ? static_cast<char>('a' + i % 26) : static_cast<char>(in.byte());
  text[len] = '\0';
  return text;
}

std::size_t takeLength(Reader& in) {
  const std::uint8_t l = in.byte();
  return l < 0xE0 ? l % 48 : 100 + static_cast<std::size_t>(l - 0xE0) * 20;
}

void dumpOne(Reader& in) {
  const std::uint8_t flags = in.byte();
  std::unique_ptr<char[]> title;
  if ((flags & 2) == 0) title = takeText(in, takeLength(in));
  // The data: n bytes; the length given is n, less than n, zero or negative.
  const std::size_t n = in.half() % 4097;
  auto bytes = std::make_unique<std::uint8_t[]>(n);
  for (std::size_t i = 0; i < n; ++i) bytes[i] = in.byte();
  std::int32_t length = static_cast<std::int32_t>(n);
  switch ((flags >> 3) & 3) {
    case 1: length = n > 0 ? static_cast<std::int32_t>(in.half() % n) : 0; break;
    case 2: length = static_cast<std::int32_t>(in.word() | 0x80000000u); break;
    default: break;
  }
  const void* address = (flags & 4) != 0 ? nullptr : bytes.get();
  if ((flags & 4) != 0 && (flags & 0x20) != 0) length = static_cast<std::int32_t>(in.word());

  const std::vector<std::string> lines = dumpLines(title.get(), address, length);
  std::string joined;
  for (const std::string& l : lines) {
    if (l.size() > kMaxDumpLine) std::abort();
    joined += l;
  }
  clearTrace();
  if ((flags & 1) != 0) {
    const std::string out = captureStdout([&] { DumpBinaryToStdout(title.get(), address, length); });
    if (out != joined) std::abort();
  } else {
    DumpBinaryToTrace(title.get(), address, length);
  }
  const std::string trace = readAll(g_traceFd);
  checkTrace(trace, lines);
  checkBounded(trace, kMaxDumpLine + 24);
}

void recordOne(Reader& in) {
  const std::uint8_t flags = in.byte();
  const std::size_t count = in.byte() % 40;
  std::vector<std::unique_ptr<char[]>> args;
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t kind = in.byte();
    args.push_back(kind == 0xFF ? nullptr : takeText(in, takeLength(in)));
  }
  // The vector itself is exactly argc entries long, with no closing null.
  std::int32_t argc = static_cast<std::int32_t>(count);
  if ((flags & 1) != 0 && count > 0) argc = static_cast<std::int32_t>(in.byte() % count);
  if ((flags & 2) != 0) argc = -static_cast<std::int32_t>(in.half());
  const std::size_t entries = argc > 0 ? static_cast<std::size_t>(argc) : 0;
  auto argv = std::make_unique<const char*[]>(entries);
  for (std::size_t i = 0; i < entries; ++i) argv[i] = args[i].get();
  const char* const* passed = (flags & 4) != 0 ? nullptr : argv.get();

  std::string text;
  if (passed != nullptr) {
    for (std::size_t i = 0; i < entries; ++i) {
      if (args[i] != nullptr) text += args[i].get();
      text += ' ';
    }
  }
  if (text.size() > kMaxCommandLine) text.resize(kMaxCommandLine);
  clearTrace();
  RecordCommandLine(argc, passed);
  const std::string trace = readAll(g_traceFd);
  checkTrace(trace, {text + "\n"});
  checkBounded(trace, kMaxCommandLine + 24);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  openTrace();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Reader in{data, size};
  for (int step = 0; step < 16 && !in.empty(); ++step) {
    if ((in.byte() & 1) == 0) {
      dumpOne(in);
    } else {
      recordOne(in);
    }
  }
  return 0;
}
