#include "nici/nicisim.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cctype>
#include <cstring>
#include <sstream>

#include "adapci/kivadapci.h"
#include "adapci/kivwire.h"
#include "debug/kivcodes.h"
#include "ses/kivsesblock.h"

namespace nicisim {

using namespace kiv::wire;

State::State() {
  faults[kSend].value = EIO;
  faults[kSendAnswered].value = EIO;
  faults[kDirective].value = DE_Failure;
  faults[kNetwork].value = 1;
  faults[kReplyStatus].value = 1;
}

void State::addLog(std::string line) {
  log.push_back(std::move(line));
  if (log.size() > kMaxLogLines) log.erase(log.begin(), log.begin() + static_cast<long>(log.size() - kMaxLogLines));
}

Enclosure* State::find(const std::string& serial) {
  for (Enclosure& e : enclosures)
    if (e.serial == serial) return &e;
  return nullptr;
}

bool validSerial(const std::string& serial) {
  if (serial.empty() || serial.size() > SesRequestBlock::kSerialNumberMax) return false;
  for (unsigned char c : serial)
    if (!std::isalnum(c) && c != '.' && c != '_' && c != ':' && c != '-') return false;
  return true;
}

bool fromHex(const std::string& hex, std::vector<std::uint8_t>& out, std::size_t max) {
  if (hex.size() % 2 != 0 || hex.size() / 2 > max) return false;
  std::vector<std::uint8_t> bytes;
  bytes.reserve(hex.size() / 2);
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    unsigned v = 0;
    auto [p, ec] = std::from_chars(hex.data() + i, hex.data() + i + 2, v, 16);
    if (ec != std::errc() || p != hex.data() + i + 2) return false;
    bytes.push_back(static_cast<std::uint8_t>(v));
  }
  out = std::move(bytes);
  return true;
}

bool fire(State& s, FaultKind k) {
  Fault& f = s.faults[k];
  if (f.count == 0) return false;
  if (f.after > 0) {
    --f.after;
    return false;
  }
  if (f.count > 0) --f.count;
  return true;
}

// ---- text form ----

namespace {
constexpr const char* kMagic = "kivadapsim-state";
constexpr const char* kVersion = "version=1";

std::string rcText(std::int32_t rc) { return rc == kAuto ? "auto" : std::to_string(rc); }
std::string countText(std::int64_t c) { return c == kAlways ? "always" : c == 0 ? "off" : std::to_string(c); }

template <typename T>
bool toInt(const std::string& v, T& out) {
  if (v.empty()) return false;
  auto [p, ec] = std::from_chars(v.data(), v.data() + v.size(), out);
  return ec == std::errc() && p == v.data() + v.size();
}

bool parseRc(const std::string& v, std::int32_t& out) {
  if (v == "auto") { out = kAuto; return true; }
  return toInt(v, out) && out >= -32768 && out <= 32767;
}
bool parseCount(const std::string& v, std::int64_t& out) {
  if (v == "always") { out = kAlways; return true; }
  if (v == "off") { out = 0; return true; }
  return toInt(v, out) && out > 0;
}
constexpr const char* kDownloadNames[] = {"idle", "started", "committed"};

std::string toHex(const std::vector<std::uint8_t>& bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (std::uint8_t b : bytes) {
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
  }
  return out;
}

bool printableLine(const std::string& v) {
  if (v.empty() || v.size() > 512) return false;
  for (unsigned char c : v)
    if (c < 0x20 || c > 0x7E) return false;
  return true;
}
}  // namespace

std::string serialize(const State& s) {
  std::string out = std::string(kMagic) + "\n" + kVersion + "\n";
  for (int i = 0; i < kPorts; ++i) {
    const Port& p = s.ports[static_cast<std::size_t>(i)];
    std::string k = "port" + std::to_string(i + 1) + ".";
    out += k + "mode=" + (p.serviceMode ? "on" : "off") + "\n";
    out += k + "loop=" + (p.loopUp ? "up" : "down") + "\n";
    out += k + "query=" + rcText(p.forcedQuery) + "\n";
    out += k + "set=" + rcText(p.forcedSet) + "\n";
    out += k + "clear=" + rcText(p.forcedClear) + "\n";
  }
  for (int k = 0; k < kFaultKinds; ++k) {
    std::string n = std::string("fault.") + kFaultNames[static_cast<std::size_t>(k)];
    out += n + "=" + countText(s.faults[static_cast<std::size_t>(k)].count) + "\n";
    out += n + ".value=" + std::to_string(s.faults[static_cast<std::size_t>(k)].value) + "\n";
    out += n + ".after=" + std::to_string(s.faults[static_cast<std::size_t>(k)].after) + "\n";
  }
  out += "enclosures=" + std::to_string(s.enclosures.size()) + "\n";
  for (const Enclosure& e : s.enclosures) {
    out += "enclosure=" + e.serial + "\n";
    std::string st;
    for (std::uint8_t v : e.statuses) st += (st.empty() ? "" : ",") + std::to_string(v);
    out += "enclosure.status=" + st + "\n";
    out += "enclosure.next=" + std::to_string(e.next) + "\n";
    out += "enclosure.stringin=" + toHex(e.stringIn) + "\n";
    out += "enclosure.busy=" + std::to_string(e.busy) + "\n";
    out += std::string("enclosure.download=") + kDownloadNames[e.download] + "\n";
    out += std::string("enclosure.overflow=") + (e.overflow ? "1" : "0") + "\n";
    out += "enclosure.image=" + toHex(e.image) + "\n";
  }
  for (const std::string& l : s.log) out += "log=" + l + "\n";
  return out;
}

bool parse(const std::string& text, State& out, std::string& why) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  if (text.empty() || text.back() != '\n') { why = "not a kivadapsim state file (no final line end)"; return false; }
  if (lines.size() < 2 || lines[0] != kMagic) { why = "not a kivadapsim state file"; return false; }
  if (lines[1] != kVersion) { why = "unsupported state version '" + lines[1].substr(0, 40) + "'"; return false; }
  State s;
  std::size_t n = 2;
  // Each fixed line in the order serialize writes it.
  auto take = [&](const std::string& key, std::string& value) {
    if (n >= lines.size() || !lines[n].starts_with(key + "=")) {
      why = "line " + std::to_string(n + 1) + ": expected " + key;
      return false;
    }
    value = lines[n++].substr(key.size() + 1);
    return true;
  };
  auto bad = [&](const std::string& key) {
    why = "line " + std::to_string(n) + ": bad value of " + key;
    return false;
  };
  std::string v;
  for (int i = 0; i < kPorts; ++i) {
    Port& p = s.ports[static_cast<std::size_t>(i)];
    std::string k = "port" + std::to_string(i + 1) + ".";
    if (!take(k + "mode", v)) return false;
    if (v != "on" && v != "off") return bad(k + "mode");
    p.serviceMode = v == "on";
    if (!take(k + "loop", v)) return false;
    if (v != "up" && v != "down") return bad(k + "loop");
    p.loopUp = v == "up";
    if (!take(k + "query", v) ) return false;
    if (!parseRc(v, p.forcedQuery)) return bad(k + "query");
    if (!take(k + "set", v)) return false;
    if (!parseRc(v, p.forcedSet)) return bad(k + "set");
    if (!take(k + "clear", v)) return false;
    if (!parseRc(v, p.forcedClear)) return bad(k + "clear");
  }
  for (int k = 0; k < kFaultKinds; ++k) {
    Fault& f = s.faults[static_cast<std::size_t>(k)];
    std::string key = std::string("fault.") + kFaultNames[static_cast<std::size_t>(k)];
    if (!take(key, v)) return false;
    if (!parseCount(v, f.count)) return bad(key);
    if (!take(key + ".value", v)) return false;
    if (!toInt(v, f.value) || ((k == kOpen || k == kClose) != (f.value == 0))) return bad(key + ".value");
    if ((k == kDirective || k == kNetwork) && (f.value < 1 || f.value > 255)) return bad(key + ".value");
    if ((k == kSend || k == kSendAnswered) && (f.value < 1 || f.value > 4095)) return bad(key + ".value");
    if (!take(key + ".after", v)) return false;
    if (!toInt(v, f.after) || f.after < 0 || f.after > 1000000000) return bad(key + ".after");
  }
  std::size_t count = 0;
  if (!take("enclosures", v)) return false;
  if (!toInt(v, count) || count > kMaxEnclosures) return bad("enclosures");
  for (std::size_t i = 0; i < count; ++i) {
    Enclosure e;
    if (!take("enclosure", e.serial)) return false;
    if (!validSerial(e.serial) || s.find(e.serial) != nullptr) return bad("enclosure");
    if (!take("enclosure.status", v)) return false;
    for (std::size_t at = 0; !v.empty() && at <= v.size();) {
      std::size_t comma = v.find(',', at);
      std::string one = v.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
      unsigned st = 0;
      if (!toInt(one, st) || st > 255 || e.statuses.size() >= kMaxStatuses) return bad("enclosure.status");
      e.statuses.push_back(static_cast<std::uint8_t>(st));
      if (comma == std::string::npos) break;
      at = comma + 1;
    }
    if (!take("enclosure.next", v)) return false;
    if (!toInt(v, e.next) || (e.next != 0 && e.next >= e.statuses.size())) return bad("enclosure.next");
    if (!take("enclosure.stringin", v)) return false;
    if (!fromHex(v, e.stringIn, kMaxStringIn)) return bad("enclosure.stringin");
    if (!take("enclosure.busy", v)) return false;
    if (!toInt(v, e.busy) || e.busy < 0) return bad("enclosure.busy");
    if (!take("enclosure.download", v)) return false;
    int d = -1;
    for (int k = 0; k < 3; ++k)
      if (v == kDownloadNames[k]) d = k;
    if (d < 0) return bad("enclosure.download");
    e.download = static_cast<Download>(d);
    if (!take("enclosure.overflow", v)) return false;
    if (v != "0" && v != "1") return bad("enclosure.overflow");
    e.overflow = v == "1";
    if (!take("enclosure.image", v)) return false;
    if (!fromHex(v, e.image, kMaxImage)) return bad("enclosure.image");
    s.enclosures.push_back(std::move(e));
  }
  for (; n < lines.size(); ++n) {
    if (!lines[n].starts_with("log=") || !printableLine(lines[n].substr(4))) {
      why = "line " + std::to_string(n + 1) + ": not a log line";
      return false;
    }
    if (s.log.size() >= kMaxLogLines) { why = "log longer than its limit"; return false; }
    s.log.push_back(lines[n].substr(4));
  }
  out = std::move(s);
  return true;
}

// ---- the file ----

std::string statePath() {
  if (const char* p = std::getenv("KIVADAPSIM_STATE"); p != nullptr && *p != '\0') return p;
  if (const char* x = std::getenv("XDG_STATE_HOME"); x != nullptr && x[0] == '/') return std::string(x) + "/kivadapsim/state";
  if (const char* h = std::getenv("HOME"); h != nullptr && h[0] == '/') return std::string(h) + "/.local/state/kivadapsim/state";
  return "/tmp/kivadapsim-" + std::to_string(getuid()) + "/state";
}

namespace {
struct Fd {
  int fd = -1;
  explicit Fd(int f) : fd(f) {}
  ~Fd() { if (fd >= 0) close(fd); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
};

// The lock a library user keeps until it exits (see withState).
struct Held {
  Fd fd{-1};
  std::string path;
  void release() {
    if (fd.fd >= 0) close(fd.fd);
    fd.fd = -1;
    path.clear();
  }
};

std::string sysWhy(const std::string& what) { return what + ": " + std::strerror(errno); }

// Creates the folders above path (private to the user when new).
bool makeParents(const std::string& path, std::string& why) {
  for (std::size_t at = path.find('/', 1); at != std::string::npos; at = path.find('/', at + 1)) {
    std::string dir = path.substr(0, at);
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) { why = sysWhy("cannot create " + dir); return false; }
  }
  return true;
}

bool readAll(int fd, std::string& text) {
  char buf[65536];
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    text.append(buf, static_cast<std::size_t>(n));
  }
}

bool writeAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Write a temporary beside the file, flush it to disk, rename it over.
bool replaceFile(const std::string& path, const std::string& text, std::string& why) {
  std::string tmp = path + ".tmp";
  {
    Fd f(open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (f.fd < 0) { why = sysWhy("cannot write " + tmp); return false; }
    if (!writeAll(f.fd, text) || fsync(f.fd) != 0) { why = sysWhy("cannot write " + tmp); unlink(tmp.c_str()); return false; }
  }
  if (rename(tmp.c_str(), path.c_str()) != 0) { why = sysWhy("cannot replace " + path); unlink(tmp.c_str()); return false; }
  return true;
}
}  // namespace

bool withState(const std::function<bool(State&)>& fn, std::string& why, bool holdForProcess) {
  const std::string path = statePath();
  if (!makeParents(path, why)) return false;
  // The lock lives on a file of its own that is never renamed, so every
  // process locks the same inode while the state file itself is replaced.
  const std::string lockPath = path + ".lock";
  static Held held;
  if (holdForProcess && held.path != lockPath) held.release();
  Fd lock(-1);
  if (!holdForProcess || held.fd.fd < 0) {
    lock.fd = open(lockPath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (lock.fd < 0) { why = sysWhy("cannot open " + lockPath); return false; }
    while (flock(lock.fd, LOCK_EX) != 0) {
      if (errno != EINTR) { why = sysWhy("cannot lock " + lockPath); return false; }
    }
    if (holdForProcess) {
      held.fd.fd = lock.fd;
      lock.fd = -1;
      held.path = lockPath;
    }
  }
  State s;
  bool fresh = false;
  {
    Fd f(open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (f.fd < 0 && errno == ENOENT) {
      fresh = true;
    } else if (f.fd < 0) {
      why = errno == ELOOP ? path + ": is a symbolic link, refused" : sysWhy("cannot open " + path);
      return false;
    } else {
      struct stat st {};
      if (fstat(f.fd, &st) != 0 || !S_ISREG(st.st_mode)) { why = path + ": not a regular file"; return false; }
      std::string text;
      if (!readAll(f.fd, text)) { why = sysWhy("cannot read " + path); return false; }
      std::string reason;
      if (!parse(text, s, reason)) { why = path + ": damaged state file: " + reason; return false; }
    }
  }
  bool changed = fn(s);
  if (changed || fresh) return replaceFile(path, serialize(s), why);
  return true;
}

// ---- the adapter and its request blocks ----

namespace {
namespace A = AdapterRequestBlock;
namespace S = SesRequestBlock;

constexpr std::uint32_t kLoopMapSize = 3216;
constexpr std::uint32_t kServiceModeSize = 192;
constexpr std::size_t kServiceModeWord = 3204;
constexpr std::uint32_t kServiceModeWordBase = 0x00A1B2;  // other bits set too, so a wrong mask shows
constexpr std::uint8_t kServiceModeBit = 0x40;

// Sends back a malformed block with DE_BadParameter where its layout keeps
// the directive status.
void malformed(State& s, std::span<std::uint8_t> b, std::size_t statusAt, const std::string& why) {
  put8(b, statusAt, static_cast<std::uint8_t>(DE_BadParameter));
  s.addLog("malformed: " + why);
}

std::string hex(std::uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%u", v);
  return buf;
}

// A nonzero byte where the layout has zeros, or "" when there is none.
std::string zeroCheck(ConstBytes b, std::initializer_list<std::pair<std::size_t, std::size_t>> ranges) {
  for (auto [from, to] : ranges)
    for (std::size_t i = from; i < to && i < b.size(); ++i)
      if (b[i] != 0) return "nonzero byte at offset " + hex(static_cast<std::uint32_t>(i));
  return "";
}

std::string checkAreas(ConstBytes b, std::size_t first, const std::array<Area, 4>& want) {
  for (int i = 0; i < 4; ++i) {
    std::size_t at = first + static_cast<std::size_t>(i) * AreaDescriptor::kSize;
    Area a = getArea(b, at);
    if (!(a == want[static_cast<std::size_t>(i)]))
      return "descriptor " + hex(static_cast<std::uint32_t>(i + 1)) + " is (" + hex(a.kind) + "," + hex(a.offset) + "," +
             hex(a.length) + ")";
    if (std::string z = zeroCheck(b, {{at + 1, at + 16}}); !z.empty()) return z;
  }
  return "";
}

void setResult(std::span<std::uint8_t> b, std::int32_t rc) {
  put16be(b, A::kApplicationResult, static_cast<std::uint16_t>(rc));
}

std::string adapterCheck(ConstBytes b, std::uint32_t size) {
  if (get32be(b, A::kService) != A::kServiceAdapter) return "service " + hex(get32be(b, A::kService)) + " is not 7";
  if (get8(b, A::kFixed56) != A::kFixed56Value) return "byte at offset 56 is " + hex(get8(b, A::kFixed56)) + ", not 2";
  std::uint16_t t = get16be(b, A::kTransaction);
  if (t != FN_ADAP_GetFCLoopMap && t != FN_ADAP_ServiceMode) return "transaction " + hex(t) + " not served";
  bool map = t == FN_ADAP_GetFCLoopMap;
  std::uint32_t want = map ? kLoopMapSize : kServiceModeSize;
  if (size != want) return "size " + hex(size) + " for transaction " + hex(t) + ", expected " + hex(want);
  std::string z = zeroCheck(b, {{2, 4}, {8, 52}, {57, 58}, {60, 72}, {168, 184}});
  if (!z.empty()) return z;
  std::array<Area, 4> areas = map ? std::array<Area, 4>{presentArea(0, 4), noArea(), presentArea(4, 3008), presentArea(3012, 20)}
                                  : std::array<Area, 4>{presentArea(0, 4), noArea(), noArea(), noArea()};
  if (z = checkAreas(b, A::kAreas, areas); !z.empty()) return z;
  std::uint8_t port = get8(b, A::kData), value = get8(b, A::kData + 1);
  if (port < 1 || port > kPorts) return "port " + hex(port) + " out of range";
  if (map ? value != 1 : value > 1) return "data byte 1 is " + hex(value);
  return zeroCheck(b, {{A::kData + 2, size}});
}

void answerAdapter(State& s, std::span<std::uint8_t> b) {
  std::uint16_t t = get16be(b, A::kTransaction);
  int port = get8(b, A::kData);
  Port& p = s.ports[static_cast<std::size_t>(port - 1)];
  std::int32_t rc = 0;
  std::string line;
  if (t == FN_ADAP_GetFCLoopMap) {
    rc = p.forcedQuery != kAuto ? p.forcedQuery : p.loopUp ? AS_Success : AE_LoopDown;
    if (rc == AS_Success || rc == AS_Warning) {
      // A small loop: its AL_PA count, then the AL_PAs.
      static constexpr std::array<std::uint8_t, 4> kLoop{3, 0x01, 0x02, 0xE8};
      for (std::size_t i = 0; i < kLoop.size(); ++i) put8(b, A::kData + 4 + i, kLoop[i]);
      put8(b, A::kData + 3012, static_cast<std::uint8_t>(port));
      put32le(b, kServiceModeWord, kServiceModeWordBase | (p.serviceMode ? kServiceModeBit : 0u));
    }
    line = "FN_ADAP_GetFCLoopMap port=" + std::to_string(port);
  } else {
    int value = get8(b, A::kData + 1);
    int partner = ((port - 1) ^ 1) + 1;
    if (value == 1) {
      rc = p.forcedSet != kAuto ? p.forcedSet
           : p.serviceMode ? AS_Warning
           : s.ports[static_cast<std::size_t>(partner - 1)].serviceMode ? AE_InServiceMode : AS_Success;
      if (rc == AS_Success || (rc == AS_Warning && p.forcedSet != kAuto)) p.serviceMode = true;
    } else {
      rc = p.forcedClear != kAuto ? p.forcedClear : p.serviceMode ? AS_Success : AE_IllegalRequest;
      if (rc == AS_Success || rc == AS_Warning) p.serviceMode = false;
    }
    line = "FN_ADAP_ServiceMode port=" + std::to_string(port) + " value=" + std::to_string(value);
  }
  setResult(b, rc);
  s.addLog(line + " rc=" + std::to_string(rc));
}

std::string sesCheck(ConstBytes b, std::uint32_t size, std::uint64_t dataAddress, std::uint32_t& L, bool& send) {
  if (size < S::blockSizeFor(0)) return "SES block of " + hex(size) + " bytes is too short";
  if (get16be(b, S::kTransaction) != FN_ISAL_SCSI) return "transaction " + hex(get16be(b, S::kTransaction)) + " is not 59";
  if (get16be(b, S::kFixed154) != S::kFixed154Value) return "bytes at offset 154 are not 2";
  if (get16be(b, S::kData + S::kDataFixed6) != S::kDataFixed6Value) return "data offset 6 is not 1";
  std::uint8_t op = get8(b, S::kCdb);
  send = op == S::kOpSendDiagnostic;
  if (!send && op != S::kOpReceiveDiagnosticResults) return "operation code " + hex(op) + " not served";
  L = get16be(b, S::kCdb + 3);
  if (get8(b, S::kCdb + 1) != (send ? S::kSendDiagnosticPF : S::kReceivePCV)) return "CDB byte 1 is " + hex(get8(b, S::kCdb + 1));
  if ((send && get8(b, S::kCdb + 2) != 0) || get8(b, S::kCdb + 5) != 0) return "CDB reserved byte set";
  if (size != S::blockSizeFor(L)) return "size " + hex(size) + " for page length " + hex(L);
  std::string z = zeroCheck(b, {{2, 4}, {8, 10}, {48, 56}, {156, 176}, {S::kData, S::kData + 6}, {S::kData + 14, S::kData + 20}});
  if (!z.empty()) return z;
  std::array<Area, 4> areas = send ? std::array<Area, 4>{presentArea(0, 20), presentArea(20, L), noArea(), presentArea(L + 20, 36)}
                                   : std::array<Area, 4>{presentArea(0, 20), noArea(), presentArea(20, L), presentArea(L + 20, 36)};
  if (z = checkAreas(b, S::kAreas, areas); !z.empty()) return z;
  bool terminated = false;
  for (std::size_t i = 0; i < S::kSerialNumberField && !terminated; ++i) terminated = b[S::kSerialNumber + i] == 0;
  if (!terminated) return "serial number not terminated within its field";
  if (get64be(b, S::kDataAddress) != dataAddress) return "dataAddress does not point at the data area";
  return "";
}

// The enclosure's side of one SES command. Returns the application result.
std::int32_t enclosureCommand(Enclosure& e, std::span<std::uint8_t> b, std::uint32_t L, bool send) {
  namespace S = SesRequestBlock;
  if (!send) {
    unsigned page = get8(b, S::kCdb + 2);
    std::vector<std::uint8_t> answer;
    if (page == 8) {
      std::uint8_t status = e.statuses.empty() ? 0 : e.statuses[e.next];
      if (e.next + 1 < e.statuses.size()) ++e.next;
      answer = {8, status, 0, 0};
    } else if (page == 4) {
      answer = e.stringIn;
    }
    for (std::size_t i = 0; i < answer.size() && i < L; ++i) put8(b, S::kPage + i, answer[i]);
    return AS_Success;
  }
  // A String Out page with the download command byte.
  if (L < 9 || get8(b, S::kPage) != 4 || get8(b, S::kPage + 4) != 0x3C) return AS_Success;
  std::uint32_t pageLength = get16be(b, S::kPage + 2);
  if (pageLength < 5 || pageLength + 4 > L) return AE_IllegalRequest;
  switch (get8(b, S::kPage + 8) & 0xC0) {
    case 0x40:
      e.image.clear();
      e.overflow = false;
      e.download = kStarted;
      return AS_Success;
    case 0x00: {
      if (e.download != kStarted) return AE_IllegalRequest;
      std::size_t n = pageLength - 5;
      if (e.image.size() + n > kMaxImage) {
        e.overflow = true;
        return AE_Failure;
      }
      for (std::size_t i = 0; i < n; ++i) e.image.push_back(get8(b, S::kPage + 9 + i));
      return AS_Success;
    }
    case 0x80:
      if (e.download != kStarted) return AE_IllegalRequest;
      e.download = kCommitted;
      return AS_Success;
    default:
      return AE_IllegalRequest;
  }
}

int answerSes(State& s, std::span<std::uint8_t> b, std::uint32_t L, bool send) {
  std::string serial;
  for (std::size_t i = S::kSerialNumber; b[i] != 0; ++i) serial += (b[i] >= 0x21 && b[i] <= 0x7E) ? static_cast<char>(b[i]) : '?';
  unsigned page = send ? (L > 0 ? get8(b, S::kPage) : 0) : get8(b, S::kCdb + 2);
  std::string line = "FN_ISAL_SCSI serial=" + serial + " cmd=" + (send ? "SEND_DIAGNOSTIC" : "RECEIVE_DIAGNOSTIC_RESULTS") +
                     " page=" + std::to_string(page) + " length=" + std::to_string(L);
  Enclosure* e = s.find(serial);
  if (e != nullptr && e->busy > 0) {
    --e->busy;
    s.addLog(line + " busy");
    return EBUSY;
  }
  std::int32_t rc = e == nullptr ? AE_BadSerialNumber : enclosureCommand(*e, b, L, send);
  put16be(b, S::kApplicationResult, static_cast<std::uint16_t>(rc));
  s.addLog(line + " rc=" + std::to_string(rc));
  return 0;
}
}  // namespace

int answerBlock(State& s, std::span<std::uint8_t> b, std::uint64_t dataAddress) {
  const auto size = static_cast<std::uint32_t>(b.size());
  if (size <= A::kDirectiveStatus) {
    if (size > S::kDirectiveStatus && size >= 8 && get16be(b, 0) == S::kKindSes) {
      malformed(s, b, S::kDirectiveStatus, "block of " + hex(size) + " bytes is too short");
      return 0;
    }
    s.addLog("malformed: block of " + hex(size) + " bytes is too short to answer");
    return EINVAL;
  }
  std::uint16_t kind = get16be(b, 0);
  std::uint32_t blockSize = get32be(b, 4);
  std::size_t statusAt = kind == S::kKindSes ? S::kDirectiveStatus : A::kDirectiveStatus;
  if (blockSize != size) {
    malformed(s, b, statusAt, "blockSize " + hex(blockSize) + " differs from requestSize " + hex(size));
  } else if (kind == A::kKindAdapter) {
    if (std::string why = adapterCheck(b, size); !why.empty()) malformed(s, b, statusAt, why);
    else answerAdapter(s, b);
  } else if (kind == S::kKindSes) {
    std::uint32_t L = 0;
    bool send = false;
    if (std::string why = sesCheck(b, size, dataAddress, L, send); !why.empty()) malformed(s, b, statusAt, why);
    else return answerSes(s, b, L, send);
  } else {
    malformed(s, b, statusAt, "unknown blockKind " + hex(kind));
  }
  return 0;
}

}  // namespace nicisim
