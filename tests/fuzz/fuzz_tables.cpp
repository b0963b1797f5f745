// TwoInputStringLookup and its three wrappers on arbitrary codes, on the
// module's tables and on tables made up from the input. Every result must be
// NUL-terminated within the 256-byte buffer, be the names of the matching
// rows joined by "?" (cut at a whole name), and a lookup that matched nothing
// must leave exactly one failure line in the trace file, one that matched
// must leave none. The trace file lives in a temporary folder, never in the
// installed trace directory.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <dirent.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "debug/kivhousekeeping.h"
#include "debug/kivtables.h"
#include "debug/kivtrace.h"
#include "fuzzinput.h"

namespace {

using kivfuzz::Reader;

// ---- the trace file, in a folder of our own ----

char g_dir[4096] = "";
int g_readFd = -1;

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
  if (g_readFd >= 0) close(g_readFd);
  g_readFd = -1;
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
  std::snprintf(g_dir, sizeof g_dir, "%s/kivfuzz-tables.XXXXXX", tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp");
  if (mkdtemp(g_dir) == nullptr) std::abort();
  KIV_DebugDir = g_dir;
  KIV_TimeNow = fixedNow;
  KIV_TimeOfDayNow = fixedTimeOfDay;
  KIV_HouseKeepingNow = fixedNow;
  KIV_RunGzip = noGzip;
  std::atexit(removeTraceDir);
  if (KIV_OpenTraceFile("fuzz_tables") != 0 || GetDebugFile() == nullptr) std::abort();
  g_readFd = open(DebugStreamName, O_RDONLY | O_CLOEXEC);
  if (g_readFd < 0) std::abort();
  // Uses up the one elapsed-time text of the first trace line.
  KIV_TraceLine("fuzz", 0, "start\n");
}

void clearTrace() {
  std::FILE* f = GetDebugFile();
  std::fflush(f);
  if (ftruncate(fileno(f), 0) != 0 || std::fseek(f, 0, SEEK_SET) != 0) std::abort();
}

std::string readTrace() {
  std::string text;
  char buf[4096];
  for (off_t at = 0;;) {
    ssize_t n = pread(g_readFd, buf, sizeof buf, at);
    if (n < 0) std::abort();
    if (n == 0) return text;
    text.append(buf, static_cast<std::size_t>(n));
    at += n;
  }
}

// ---- the reference ----

struct Expected {
  std::string text;
  bool matched = false;
};

Expected reference(std::int32_t in1, std::int32_t in2, const TwoInputStringRow* table) {
  Expected e;
  for (const TwoInputStringRow* r = table; r->Input2 != kEndOfTableInput2; ++r) {
    if (r->Input1 != in1 || (in2 != 0 && r->Input2 != in2)) continue;
    e.matched = true;
    std::string name = r->Name;
    std::size_t need = (e.text.empty() ? 0 : 1) + name.size();
    if (e.text.size() + need > kErrorStringSize - 1) break;
    if (!e.text.empty()) e.text += '?';
    e.text += name;
    if (in2 != 0) break;
  }
  return e;
}

// Each "?"-separated piece of a result is the name of a row with this Input1.
void checkPieces(const std::string& text, std::int32_t in1, std::int32_t in2, std::span<const TwoInputStringRow> t) {
  if (text.empty()) return;
  std::size_t at = 0;
  for (;;) {
    std::size_t q = text.find('?', at);
    std::string piece = text.substr(at, q == std::string::npos ? std::string::npos : q - at);
    bool known = false;
    for (std::size_t i = 0; i + 1 < t.size() && !known; ++i)
      known = t[i].Input1 == in1 && (in2 == 0 || t[i].Input2 == in2) && piece == t[i].Name;
    if (!known) std::abort();
    if (q == std::string::npos) return;
    at = q + 1;
  }
}

// "kivdebug:<line> " and then the message, nothing else.
void checkFailureLine(const std::string& trace, std::int32_t in1, std::int32_t in2) {
  const std::string module = "kivdebug:";
  if (trace.compare(0, module.size(), module) != 0) std::abort();
  std::size_t at = module.size();
  std::size_t digits = 0;
  while (at < trace.size() && trace[at] >= '0' && trace[at] <= '9') ++at, ++digits;
  if (digits == 0 || at >= trace.size() || trace[at] != ' ') std::abort();
  char want[128];
  std::snprintf(want, sizeof want, "TwoInputStringLookup: Failed to match Input1 0x%x Input2 0x%x\n",
                static_cast<unsigned>(in1), static_cast<unsigned>(in2));
  if (trace.substr(at + 1) != want) std::abort();
}

const char* g_buffer = nullptr;  // the one result buffer, seen at the first lookup

void checkResult(const char* got, std::int32_t in1, std::int32_t in2, const TwoInputStringRow* table,
                 std::span<const TwoInputStringRow> knownTable) {
  if (got == nullptr) std::abort();
  if (g_buffer == nullptr) g_buffer = got;
  if (got != g_buffer) std::abort();
  if (std::memchr(got, '\0', kErrorStringSize) == nullptr) std::abort();
  const std::string text = got;
  const Expected e = reference(in1, in2, table);
  if (text != e.text) std::abort();
  if (!knownTable.empty()) checkPieces(text, in1, in2, knownTable);
  const std::string trace = readTrace();
  if (!e.matched) {
    checkFailureLine(trace, in1, in2);
  } else if (!trace.empty()) {
    std::abort();
  }
}

std::span<const TwoInputStringRow> tableNumber(std::uint8_t n) {
  switch (n % 3) {
    case 0: return KIV_ValueToStringTable();
    case 1: return KIV_AdapterServiceTransactionTable();
    default: return KIV_IaclTransactionTable();
  }
}

// A code that often hits a row: a row's value nudged a little, or any word.
std::int32_t pickInput1(Reader& in, std::span<const TwoInputStringRow> t) {
  std::uint8_t how = in.byte();
  if ((how & 0x80) != 0) return static_cast<std::int32_t>(in.word());
  std::size_t row = in.half() % t.size();
  return t[row].Input1 + static_cast<std::int32_t>(how % 5) - 2;
}

std::int32_t pickInput2(Reader& in) {
  std::uint8_t how = in.byte();
  if ((how & 0x80) != 0) return static_cast<std::int32_t>(in.word());
  return static_cast<std::int32_t>(how % 20) - 1;
}

// A table made up from the input: up to 12 rows of small codes and names
// of up to 300 characters, each name in an allocation of its own size.
void customLookup(Reader& in) {
  std::vector<std::unique_ptr<char[]>> names;
  std::vector<TwoInputStringRow> rows;
  const std::size_t count = in.byte() % 13;
  for (std::size_t i = 0; i < count; ++i) {
    std::uint8_t a = in.byte();
    std::int32_t in1 = (a & 0x80) != 0 ? static_cast<std::int32_t>(in.word()) : static_cast<std::int32_t>(a % 4) - 1;
    std::int32_t in2 = static_cast<std::int32_t>(in.byte() % 8);
    std::uint8_t l = in.byte();
    std::size_t len = l < 0xF0 ? l % 64 : 240 + static_cast<std::size_t>(l - 0xF0) * 4;
    auto name = std::make_unique<char[]>(len + 1);
    const char fill = static_cast<char>('A' + i);
    for (std::size_t k = 0; k < len; ++k) name[k] = fill;
    name[len] = '\0';
    rows.push_back(TwoInputStringRow{in1, in2, name.get()});
    names.push_back(std::move(name));
  }
  rows.push_back(TwoInputStringRow{kEndOfTableInput1, kEndOfTableInput2, "endoftable"});
  const std::uint8_t how = in.byte();
  std::int32_t in1 = (how & 0x80) != 0 ? static_cast<std::int32_t>(in.word()) : static_cast<std::int32_t>(how % 4) - 1;
  std::int32_t in2 = (how & 0x40) != 0 ? 0 : static_cast<std::int32_t>(in.byte() % 8);
  clearTrace();
  const char* got = TwoInputStringLookup(in1, in2, rows.data());
  checkResult(got, in1, in2, rows.data(), {});
}

// The reverse lookup agrees with a walk of the table.
void reverseLookup(Reader& in) {
  std::string name;
  const std::int32_t category = static_cast<std::int32_t>(in.byte() % 6);
  if ((in.byte() & 1) != 0) {
    auto t = KIV_ValueToStringTable();
    name = t[in.half() % t.size()].Name;
    std::uint8_t edit = in.byte();
    if (edit % 4 == 1) name.pop_back();
    if (edit % 4 == 2) name += static_cast<char>(in.byte() | 1);
  } else {
    for (std::size_t n = in.byte() % 40; n > 0 && !in.empty(); --n) name += static_cast<char>(in.byte() | 1);
  }
  bool want = false;
  std::int32_t wantValue = 0;
  auto t = KIV_ValueToStringTable();
  for (std::size_t i = 0; i + 1 < t.size() && !want; ++i) {
    if ((category == 0 || t[i].Input2 == category) && name == t[i].Name) {
      want = true;
      wantValue = t[i].Input1;
    }
  }
  std::int32_t value = 0x5A5A5A5A;
  clearTrace();
  const bool got = KIV_FindCodeByName(name.c_str(), category, &value);
  if (got != want || value != (want ? wantValue : 0x5A5A5A5A)) std::abort();
  if (!readTrace().empty()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  openTrace();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Reader in{data, size};
  for (int step = 0; step < 64 && !in.empty(); ++step) {
    const std::uint8_t op = in.byte();
    switch (op % 6) {
      case 0: {
        auto t = KIV_ValueToStringTable();
        std::int32_t value = pickInput1(in, t), category = pickInput2(in);
        clearTrace();
        const char* got = GetDebugErrorString(value, category);
        checkResult(got, value, category, t.data(), t);
        // A name found in one category leads back to its value.
        if (!std::string(got).empty() && category >= 1 && category <= 4) {
          const std::string name = got;
          std::int32_t back = 0;
          if (!KIV_FindCodeByName(name.c_str(), category, &back) || back != value) std::abort();
        }
        break;
      }
      case 1: {
        auto t = KIV_AdapterServiceTransactionTable();
        std::int32_t transaction = pickInput1(in, t), service = pickInput2(in);
        clearTrace();
        checkResult(GetAdapterTransactionName(service, transaction), transaction, service, t.data(), t);
        break;
      }
      case 2: {
        auto t = KIV_IaclTransactionTable();
        std::int32_t code = pickInput1(in, t);
        clearTrace();
        checkResult(GetIaclTransactionName(code), code, 1, t.data(), t);
        break;
      }
      case 3: {
        auto t = tableNumber(in.byte());
        std::int32_t in1 = pickInput1(in, t), in2 = pickInput2(in);
        clearTrace();
        checkResult(TwoInputStringLookup(in1, in2, t.data()), in1, in2, t.data(), t);
        break;
      }
      case 4:
        customLookup(in);
        break;
      default:
        reverseLookup(in);
        break;
    }
  }
  return 0;
}
