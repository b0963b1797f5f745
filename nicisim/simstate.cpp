// The simulator's state: ports, faults, enclosures and the request log,
// its text form as kept in the state file, and the text helpers that the
// state file and kivadapsim share.
#include <cerrno>
#include <charconv>
#include <cctype>
#include <cstdint>
#include <sstream>

#include "debug/kivcodes.h"
#include "nicisim/nicisim.h"
#include "cli/kivsha256.h"
#include "ses/kivsesblock.h"
#include "ses/kivsesdownloadpage.h"

namespace nicisim {

using namespace kiv::wire;

State::State() {
  for (std::size_t k = 0; k < faults.size(); ++k) {
    faults[k].value = kFaultKindInfo[k].byDefault;
    faults[k].executed = kFaultKindInfo[k].executedByDefault;
  }
}

Device* Enclosure::device(int number) {
  for (Device& d : devices)
    if (d.number == number) return &d;
  return nullptr;
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

// ---- text helpers ----

std::string rcText(std::int32_t rc) { return rc == kAuto ? "auto" : std::to_string(rc); }
bool parseRc(const std::string& v, std::int32_t& out) {
  if (v == "auto") {
    out = kAuto;
    return true;
  }
  return toInt(v, out) && out >= INT16_MIN && out <= INT16_MAX;
}

std::string countText(std::int64_t c) { return c == kAlways ? "always" : c == 0 ? "off" : std::to_string(c); }
bool parseCount(const std::string& v, std::int64_t& out) {
  if (v == "always") {
    out = kAlways;
    return true;
  }
  if (v == "off") {
    out = 0;
    return true;
  }
  return toInt(v, out) && out > 0;
}

std::string statusListText(const std::vector<std::uint8_t>& statuses) {
  std::string st;
  for (std::uint8_t v : statuses) {
    if (!st.empty()) st += ',';
    st += std::to_string(v);
  }
  return st;
}
std::optional<std::vector<std::uint8_t>> parseStatusList(const std::string& v) {
  std::vector<std::uint8_t> list;
  for (std::size_t at = 0; !v.empty();) {
    const std::size_t comma = v.find(',', at);
    const std::string one = v.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
    unsigned st = 0;
    if (!toInt(one, st) || st > UINT8_MAX || list.size() >= kMaxStatuses) return std::nullopt;
    list.push_back(static_cast<std::uint8_t>(st));
    if (comma == std::string::npos) break;
    at = comma + 1;
  }
  return list;
}

const char* onOff(bool on) { return on ? "on" : "off"; }
const char* yesNo(bool yes) { return yes ? "yes" : "no"; }
bool parseYesNo(const std::string& v, bool& out) {
  if (v != yesNo(true) && v != yesNo(false)) return false;
  out = v == yesNo(true);
  return true;
}
const char* upDown(bool up) { return up ? "up" : "down"; }

// ---- text form ----

namespace {
constexpr const char* kMagic = "kivadapsim-state";
constexpr const char* kVersion = "version=3";
constexpr const char* kChecksumKey = "sha256=";

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

// "N pages=P length=L transfer=T file=F image=I:LENGTH", image=none when
// nothing was committed
std::string deviceText(const Device& d) {
  return std::to_string(d.number) + " pages=" + std::to_string(d.pages) + " length=" + std::to_string(d.length) +
         " transfer=" + kTransferNames[d.transfer] + " file=" + std::to_string(d.file) + " image=" +
         (d.imageFile == 0 ? std::string("none") : std::to_string(d.imageFile) + ":" + std::to_string(d.imageLength));
}
bool parseDevice(const std::string& v, Device& d) {
  std::istringstream in(v);
  std::string number, pages, length, transfer, file, image, rest;
  if (!(in >> number >> pages >> length >> transfer >> file >> image) || (in >> rest)) return false;
  if (!toInt(number, d.number) || d.number < 0 || d.number > SesDownloadPage::kMaxDeviceNumber) return false;
  if (!pages.starts_with("pages=") || !toInt(pages.substr(6), d.pages)) return false;
  if (!length.starts_with("length=") || !toInt(length.substr(7), d.length) || d.length > kMaxImage) return false;
  if (!file.starts_with("file=") || !toInt(file.substr(5), d.file) || d.file == 0) return false;
  if (image != "image=none") {
    const std::size_t colon = image.find(':');
    if (!image.starts_with("image=") || colon == std::string::npos || !toInt(image.substr(6, colon - 6), d.imageFile) ||
        !toInt(image.substr(colon + 1), d.imageLength) || d.imageFile == 0 || d.imageFile > d.file ||
        d.imageLength > kMaxImage) {
      return false;
    }
  }
  if (d.pages > d.length) return false;
  for (std::size_t k = 0; k < kTransferNames.size(); ++k)
    if (transfer == std::string("transfer=") + kTransferNames[k]) {
      d.transfer = static_cast<Transfer>(k);
      // A committed transfer is the committed image.
      if (d.transfer == kCommitted && (d.imageFile != d.file || d.imageLength != d.length)) return false;
      return deviceText(d) == v;
    }
  return false;
}

}  // namespace

std::string serialize(const State& s) {
  std::string out = std::string(kMagic) + "\n" + kVersion + "\n" + "generation=" + std::to_string(s.generation) + "\n";
  for (int i = 0; i < kPorts; ++i) {
    const Port& p = s.ports[static_cast<std::size_t>(i)];
    std::string k = "port" + std::to_string(i + 1) + ".";
    out += k + "mode=" + onOff(p.serviceMode) + "\n";
    out += k + "loop=" + upDown(p.loopUp) + "\n";
    out += k + "query=" + rcText(p.forcedQuery) + "\n";
    out += k + "set=" + rcText(p.forcedSet) + "\n";
    out += k + "clear=" + rcText(p.forcedClear) + "\n";
  }
  for (std::size_t k = 0; k < s.faults.size(); ++k) {
    const Fault& f = s.faults[k];
    std::string n = std::string("fault.") + kFaultKindInfo[k].name;
    out += n + "=" + countText(f.count) + "\n";
    out += n + ".value=" + std::to_string(f.value) + "\n";
    out += n + ".after=" + std::to_string(f.after) + "\n";
    out += n + ".executed=" + yesNo(f.executed) + "\n";
  }
  out += "enclosures=" + std::to_string(s.enclosures.size()) + "\n";
  for (const Enclosure& e : s.enclosures) {
    out += "enclosure=" + e.serial + "\n";
    out += "enclosure.status=" + statusListText(e.statuses) + "\n";
    out += "enclosure.next=" + std::to_string(e.next) + "\n";
    out += "enclosure.stringin=" + toHex(e.stringIn) + "\n";
    out += "enclosure.busy=" + std::to_string(e.busy) + "\n";
    out += "enclosure.pending=" + std::to_string(e.pending) + "\n";
    out += "enclosure.devices=" + std::to_string(e.devices.size()) + "\n";
    for (const Device& d : e.devices) out += "device=" + deviceText(d) + "\n";
  }
  return out + kChecksumKey + kiv::sha256Hex({reinterpret_cast<const std::uint8_t*>(out.data()), out.size()}) + "\n";
}

bool parse(const std::string& text, State& out, std::string& why) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  if (text.empty() || text.back() != '\n') { why = "not a kivadapsim state file (no final line end)"; return false; }
  if (lines.size() < 2 || lines[0] != kMagic) { why = "not a kivadapsim state file"; return false; }
  if (lines[1] != kVersion) { why = "unsupported state version '" + lines[1].substr(0, 40) + "'"; return false; }
  // The last line checks all before it: a save cut short, or mixed with
  // the text it overwrote, reads as damaged.
  const std::size_t lastLine = text.rfind('\n', text.size() - 2) + 1;
  const std::string body = text.substr(0, lastLine);
  if (lines.back() != kChecksumKey +
                          kiv::sha256Hex({reinterpret_cast<const std::uint8_t*>(body.data()), body.size()})) {
    why = "line " + std::to_string(lines.size()) + ": checksum does not match";
    return false;
  }
  lines.pop_back();
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
  if (!take("generation", v)) return false;
  if (!toInt(v, s.generation)) return bad("generation");
  for (int i = 0; i < kPorts; ++i) {
    Port& p = s.ports[static_cast<std::size_t>(i)];
    std::string k = "port" + std::to_string(i + 1) + ".";
    if (!take(k + "mode", v)) return false;
    if (v != onOff(true) && v != onOff(false)) return bad(k + "mode");
    p.serviceMode = v == onOff(true);
    if (!take(k + "loop", v)) return false;
    if (v != upDown(true) && v != upDown(false)) return bad(k + "loop");
    p.loopUp = v == upDown(true);
    if (!take(k + "query", v) ) return false;
    if (!parseRc(v, p.forcedQuery)) return bad(k + "query");
    if (!take(k + "set", v)) return false;
    if (!parseRc(v, p.forcedSet)) return bad(k + "set");
    if (!take(k + "clear", v)) return false;
    if (!parseRc(v, p.forcedClear)) return bad(k + "clear");
  }
  for (std::size_t k = 0; k < s.faults.size(); ++k) {
    Fault& f = s.faults[k];
    const FaultKindInfo& info = kFaultKindInfo[k];
    std::string key = std::string("fault.") + info.name;
    if (!take(key, v)) return false;
    if (!parseCount(v, f.count)) return bad(key);
    if (!take(key + ".value", v)) return false;
    if (!toInt(v, f.value) || f.value < info.min || f.value > info.max) return bad(key + ".value");
    if (!take(key + ".after", v)) return false;
    if (!toInt(v, f.after) || f.after < 0 || f.after > kMaxFaultNumber) return bad(key + ".after");
    if (!take(key + ".executed", v)) return false;
    if (!parseYesNo(v, f.executed) || (!info.takesExecuted && f.executed != info.executedByDefault)) {
      return bad(key + ".executed");
    }
  }
  std::size_t count = 0;
  if (!take("enclosures", v)) return false;
  if (!toInt(v, count) || count > kMaxEnclosures) return bad("enclosures");
  for (std::size_t i = 0; i < count; ++i) {
    Enclosure e;
    if (!take("enclosure", e.serial)) return false;
    if (!validSerial(e.serial) || s.find(e.serial) != nullptr) return bad("enclosure");
    if (!take("enclosure.status", v)) return false;
    auto statuses = parseStatusList(v);
    if (!statuses) return bad("enclosure.status");
    e.statuses = std::move(*statuses);
    if (!take("enclosure.next", v)) return false;
    if (!toInt(v, e.next) || (e.next != 0 && e.next >= e.statuses.size())) return bad("enclosure.next");
    if (!take("enclosure.stringin", v)) return false;
    if (!fromHex(v, e.stringIn, kMaxStringIn)) return bad("enclosure.stringin");
    if (!take("enclosure.busy", v)) return false;
    if (!toInt(v, e.busy) || e.busy < 0) return bad("enclosure.busy");
    if (!take("enclosure.pending", v)) return false;
    if (!toInt(v, e.pending)) return bad("enclosure.pending");
    if (!take("enclosure.devices", v)) return false;
    std::size_t devices = 0, receiving = 0;
    if (!toInt(v, devices) || devices > SesDownloadPage::kMaxDeviceNumber + 1u) return bad("enclosure.devices");
    for (std::size_t k = 0; k < devices; ++k) {
      Device d;
      if (!take("device", v)) return false;
      if (!parseDevice(v, d) || (!e.devices.empty() && d.number <= e.devices.back().number)) return bad("device");
      receiving += d.transfer == kReceiving ? 1 : 0;
      e.devices.push_back(d);
    }
    if (receiving > 1) return bad("device");
    s.enclosures.push_back(std::move(e));
  }
  if (n != lines.size()) {
    why = "line " + std::to_string(n + 1) + ": unexpected";
    return false;
  }
  out = std::move(s);
  return true;
}

}  // namespace nicisim
