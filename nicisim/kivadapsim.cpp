// kivadapsim: shows and stages the simulated adapter that the stand-in
// client library answers from. Every argument is checked before the state
// is touched, so a bad command line leaves the state file as it was; a verb
// that changes the state prints the lines of show that it changed.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "debug/kivtables.h"
#include "nicisim/nicisim.h"
#include "cli/kivsha256.h"
#include "servicemode/kivportrequests.h"

namespace {

using nicisim::State;

constexpr const char* kUsage =
    "usage: kivadapsim reset\n"
    "       kivadapsim show\n"
    "       kivadapsim port PORT key=value...\n"
    "         PORT: 1L 1R 2L 2R; keys: mode=on|off loop=up|down query=RC set=RC clear=RC\n"
    "         RC: a decimal code, a result code name such as AE_LoopDown, or auto\n"
    "       kivadapsim fault KIND [count=N|always|off] [after=K] [errno=N] [value=N] [executed=yes|no]\n"
    "         KIND: open send send-answered close directive network replystatus\n"
    "               resultbyte short noanswer\n"
    "       kivadapsim log [clear|pids]\n"
    "       kivadapsim enclosure SERIAL key=value...\n"
    "         keys: status=N[,N...] stringin=HEX busy=N\n"
    "       kivadapsim firmware SERIAL\n"
    "       kivadapsim help | -h | --help\n"
    "       kivadapsim --version\n";

[[noreturn]] void badInput(const std::string& what) {
  std::fprintf(stderr, "kivadapsim: %s\n%s", what.c_str(), kUsage);
  std::exit(2);
}

using nicisim::toInt;

std::int32_t resultCode(const std::string& key, const std::string& v) {
  std::int32_t rc = 0;
  if (nicisim::parseRc(v, rc)) return rc;
  if (KIV_FindCodeByName(v.c_str(), kCategoryAdapterResult, &rc)) return rc;
  badInput("unknown result code '" + v + "' for " + key);
}

std::pair<std::string, std::string> keyValue(const std::string& arg) {
  std::size_t eq = arg.find('=');
  if (eq == std::string::npos) return {arg, ""};
  return {arg.substr(0, eq), arg.substr(eq + 1)};
}

// ---- the lines of show ----

std::string portLine(const State& s, int port) {
  using nicisim::rcText;
  const nicisim::Port& p = s.ports[static_cast<std::size_t>(port - 1)];
  return std::string("port ") + PortRequest::portName(port) + " (" + std::to_string(port) + "): service mode " +
         nicisim::onOff(p.serviceMode) + ", loop " + nicisim::upDown(p.loopUp) + ", query=" + rcText(p.forcedQuery) +
         " set=" + rcText(p.forcedSet) + " clear=" + rcText(p.forcedClear) + "\n";
}

std::string faultLine(const State& s, std::size_t kind) {
  const nicisim::FaultKindInfo& info = nicisim::kFaultKindInfo[kind];
  const nicisim::Fault& f = s.faults[kind];
  std::string line = std::string("fault ") + info.name + ": " + nicisim::countText(f.count) + (f.count > 0 ? " more" : "");
  if (f.after > 0) line += " after=" + std::to_string(f.after);
  if (info.number == nicisim::FaultNumber::kErrno) line += " errno=" + std::to_string(f.value);
  if (info.number == nicisim::FaultNumber::kValue) line += " value=" + std::to_string(f.value);
  if (info.takesExecuted) line += std::string(" executed=") + nicisim::yesNo(f.executed);
  return line + "\n";
}

std::string enclosureLine(const nicisim::Enclosure& e) {
  const std::string st = nicisim::statusListText(e.statuses);
  std::string line = "enclosure " + e.serial + ": status=" + (st.empty() ? "0" : st);
  line += e.pending != 0 ? " (next read " + std::to_string(e.pending) + ", a refused commit)"
                         : " (next read #" + std::to_string(e.next + 1) + ")";
  line += ", stringin " + std::to_string(e.stringIn.size()) + " bytes, busy=" + std::to_string(e.busy) + ", firmware:";
  if (e.devices.empty()) line += " none";
  for (const nicisim::Device& d : e.devices) {
    line += std::string(&d == &e.devices.front() ? " " : ", ") + "device " + std::to_string(d.number) + " " +
            nicisim::kTransferNames[d.transfer];
  }
  return line + "\n";
}

std::string logLine(std::string& why) { return "log: " + std::to_string(nicisim::readLog(why).size()) + " lines\n"; }

std::string showText(const State& s) {
  std::string text = "state file: " + nicisim::statePath() + "\n";
  for (int port = 1; port <= nicisim::kPorts; ++port) text += portLine(s, port);
  for (std::size_t k = 0; k < s.faults.size(); ++k) text += faultLine(s, k);
  for (const nicisim::Enclosure& e : s.enclosures) text += enclosureLine(e);
  std::string why;
  return text + logLine(why);
}

// ---- running a verb ----

// What a visit prints, or why it refused the change.
struct Outcome {
  std::string out;
  std::string refused;
};

// One visit of the state for a verb: fn returns true when it changed the
// state, or sets refused (and changes nothing). Prints out, or the reason.
int run(const std::function<bool(State&, Outcome&)>& fn) {
  Outcome o;
  std::string why;
  if (nicisim::withState([&](State& s) { return fn(s, o) && o.refused.empty(); }, why) != nicisim::Access::kDone) {
    o.refused = why;
  }
  if (!o.refused.empty()) {
    std::fprintf(stderr, "kivadapsim: %s\n", o.refused.c_str());
    return 1;
  }
  std::fputs(o.out.c_str(), stdout);
  return 0;
}

int cmdReset() {
  std::string why;
  if (nicisim::resetState(why) != nicisim::Access::kDone) {
    std::fprintf(stderr, "kivadapsim: %s\n", why.c_str());
    return 1;
  }
  return run([](State& s, Outcome& o) {
    o.out = showText(s);
    return false;
  });
}

int cmdPort(const std::vector<std::string>& a) {
  if (a.size() < 2) badInput("port: no port given");
  const int port = PortRequest::portNumber(a[1]);
  if (port == 0) badInput("unknown port '" + a[1] + "'");
  if (a.size() < 3) badInput("port: no key=value given");
  std::vector<std::function<void(nicisim::Port&)>> changes;
  for (std::size_t i = 2; i < a.size(); ++i) {
    auto [k, v] = keyValue(a[i]);
    if (k == "mode" && (v == nicisim::onOff(true) || v == nicisim::onOff(false))) {
      changes.push_back([on = v == nicisim::onOff(true)](nicisim::Port& p) { p.serviceMode = on; });
    } else if (k == "loop" && (v == nicisim::upDown(true) || v == nicisim::upDown(false))) {
      changes.push_back([up = v == nicisim::upDown(true)](nicisim::Port& p) { p.loopUp = up; });
    } else if (k == "query" || k == "set" || k == "clear") {
      std::int32_t rc = resultCode(k, v);
      if (k == "query") changes.push_back([rc](nicisim::Port& p) { p.forcedQuery = rc; });
      if (k == "set") changes.push_back([rc](nicisim::Port& p) { p.forcedSet = rc; });
      if (k == "clear") changes.push_back([rc](nicisim::Port& p) { p.forcedClear = rc; });
    } else if (k == "mode" || k == "loop") {
      badInput("bad value '" + v + "' for " + k);
    } else {
      badInput("unknown key '" + k + "'");
    }
  }
  return run([&](State& s, Outcome& o) {
    nicisim::Port& p = s.ports[static_cast<std::size_t>(port - 1)];
    for (auto& c : changes) c(p);
    const int partner = PortRequest::partnerOf(port);
    if (p.serviceMode && s.ports[static_cast<std::size_t>(partner - 1)].serviceMode) {
      o.refused = std::string("port ") + PortRequest::portName(port) + " cannot be in service mode while its partner " +
                  PortRequest::portName(partner) + " is: the adapter holds one port of a pair in service mode at most";
      return false;
    }
    o.out = portLine(s, port);
    return true;
  });
}

int cmdFault(const std::vector<std::string>& a) {
  if (a.size() < 2) badInput("fault: no kind given");
  std::size_t kind = nicisim::kFaultKinds;
  for (std::size_t k = 0; k < nicisim::kFaultKindInfo.size(); ++k)
    if (a[1] == nicisim::kFaultKindInfo[k].name) kind = k;
  if (kind == nicisim::kFaultKinds) badInput("unknown fault '" + a[1] + "'");
  const nicisim::FaultKindInfo& info = nicisim::kFaultKindInfo[kind];
  // Every key not given takes its default: the command line says it all.
  nicisim::Fault f;
  f.count = 1;
  f.value = info.byDefault;
  f.executed = info.executedByDefault;
  const char* numberKey = info.number == nicisim::FaultNumber::kErrno   ? "errno"
                          : info.number == nicisim::FaultNumber::kValue ? "value"
                                                                        : nullptr;
  for (std::size_t i = 2; i < a.size(); ++i) {
    auto [k, v] = keyValue(a[i]);
    if (a[i] == "always" || a[i] == "count=always") {
      f.count = nicisim::kAlways;
    } else if (a[i] == "off" || a[i] == "count=off") {
      f.count = 0;
    } else if (k == "count") {
      if (!toInt(v, f.count) || f.count < 0 || f.count > nicisim::kMaxFaultNumber) badInput("bad count '" + v + "'");
    } else if (k == "after") {
      if (!toInt(v, f.after) || f.after < 0 || f.after > nicisim::kMaxFaultNumber) badInput("bad after '" + v + "'");
    } else if (numberKey != nullptr && k == numberKey) {
      if (!toInt(v, f.value) || f.value < info.min || f.value > info.max) badInput("bad " + k + " '" + v + "'");
    } else if (k == "executed" && info.takesExecuted) {
      if (!nicisim::parseYesNo(v, f.executed)) badInput("bad executed '" + v + "'");
    } else {
      badInput("unknown key '" + a[i] + "' for fault " + a[1]);
    }
  }
  if (f.count == 0) f.after = 0;
  return run([&](State& s, Outcome& o) {
    s.faults[kind] = f;
    o.out = faultLine(s, kind);
    return true;
  });
}

int cmdLog(const std::vector<std::string>& a) {
  if (a.size() > 2 || (a.size() == 2 && a[1] != "clear" && a[1] != "pids")) {
    badInput("log: unknown argument '" + a[1] + "'");
  }
  const bool clear = a.size() == 2 && a[1] == "clear";
  const bool pids = a.size() == 2 && a[1] == "pids";
  return run([&](State&, Outcome& o) {
    std::string why;
    if (clear) {
      if (nicisim::clearLog(why)) o.out = logLine(why);
    } else {
      for (const auto& l : nicisim::readLog(why)) o.out += (pids ? l.pid + " " : "") + l.line + "\n";
    }
    o.refused = why;
    return false;
  });
}

int cmdEnclosure(const std::vector<std::string>& a) {
  if (a.size() < 2) badInput("enclosure: no serial number given");
  const std::string serial = a[1];
  if (!nicisim::validSerial(serial)) badInput("bad serial number '" + serial + "'");
  if (a.size() < 3) badInput("enclosure: no key=value given");
  std::vector<std::function<void(nicisim::Enclosure&)>> changes;
  for (std::size_t i = 2; i < a.size(); ++i) {
    auto [k, v] = keyValue(a[i]);
    if (k == "status") {
      auto parsed = nicisim::parseStatusList(v);
      if (!parsed || parsed->empty()) badInput("bad status list '" + v + "'");
      changes.push_back([list = *parsed](nicisim::Enclosure& e) {
        e.statuses = list;
        e.next = 0;
      });
    } else if (k == "stringin") {
      std::vector<std::uint8_t> bytes;
      if (!nicisim::fromHex(v, bytes, nicisim::kMaxStringIn)) badInput("bad hex text for stringin");
      changes.push_back([bytes](nicisim::Enclosure& e) { e.stringIn = bytes; });
    } else if (k == "busy") {
      std::int64_t n = 0;
      if (!toInt(v, n) || n < 0 || n > nicisim::kMaxFaultNumber) badInput("bad busy count '" + v + "'");
      changes.push_back([n](nicisim::Enclosure& e) { e.busy = n; });
    } else {
      badInput("unknown key '" + k + "'");
    }
  }
  return run([&](State& s, Outcome& o) {
    nicisim::Enclosure* e = s.find(serial);
    if (e == nullptr) {
      if (s.enclosures.size() >= nicisim::kMaxEnclosures) {
        o.refused = "no room for another enclosure (at most " + std::to_string(nicisim::kMaxEnclosures) + ")";
        return false;
      }
      e = &s.enclosures.emplace_back();
      e->serial = serial;
    }
    for (auto& c : changes) c(*e);
    o.out = enclosureLine(*e);
    return true;
  });
}

// The SHA-256 of an image: the first length bytes of a transfer's file.
std::string imageDigest(const std::string& serial, int device, std::uint64_t file, std::uint64_t length) {
  std::string why;
  nicisim::Fd f(nicisim::openOurs(nicisim::imagePath(serial, device, file), O_RDONLY, why));
  std::vector<std::uint8_t> image(length);
  std::size_t got = 0;
  while (f.fd >= 0 && got < image.size()) {
    const ssize_t n = read(f.fd, image.data() + got, image.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  if (got != image.size()) return "unavailable (" + (why.empty() ? "image file too short" : why) + ")";
  return kiv::sha256Hex(image);
}

int cmdFirmware(const std::vector<std::string>& a) {
  if (a.size() != 2) badInput("firmware: give one serial number");
  if (!nicisim::validSerial(a[1])) badInput("bad serial number '" + a[1] + "'");
  return run([&](State& s, Outcome& o) {
    const nicisim::Enclosure* e = s.find(a[1]);
    if (e == nullptr) {
      o.refused = "no enclosure '" + a[1] + "'";
      return false;
    }
    o.out = "serial: " + e->serial + "\n";
    if (e->devices.empty()) o.out += "no firmware received\n";
    for (const nicisim::Device& d : e->devices) {
      o.out += "device " + std::to_string(d.number) + ": pages " + std::to_string(d.pages) + ", length " +
               std::to_string(d.length) + ", sha256 " + imageDigest(e->serial, d.number, d.file, d.length) + ", ";
      if (d.transfer == nicisim::kCommitted) {
        o.out += "committed\n";
        continue;
      }
      o.out += std::string("not committed (") + nicisim::kTransferNames[d.transfer] + ")";
      if (d.imageFile != 0) {
        o.out += "; committed before: length " + std::to_string(d.imageLength) + ", sha256 " +
                 imageDigest(e->serial, d.number, d.imageFile, d.imageLength);
      }
      o.out += "\n";
    }
    return false;
  });
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> a(argv + 1, argv + argc);
  if (a.empty()) badInput("no command given");
  const std::string& verb = a[0];
  auto only = [&] {
    if (a.size() != 1) badInput(verb + ": unexpected argument '" + a[1] + "'");
  };
  if (verb == "help" || verb == "-h" || verb == "--help") {
    only();
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (verb == "--version") {
    only();
    std::printf("kivadapsim (kiv) %s\n", KIV_VERSION);
    return 0;
  }
  if (verb == "reset") {
    only();
    return cmdReset();
  }
  if (verb == "show") {
    only();
    return run([](State& s, Outcome& o) {
      o.out = showText(s);
      return false;
    });
  }
  if (verb == "port") return cmdPort(a);
  if (verb == "fault") return cmdFault(a);
  if (verb == "log") return cmdLog(a);
  if (verb == "enclosure") return cmdEnclosure(a);
  if (verb == "firmware") return cmdFirmware(a);
  badInput("unknown verb '" + verb + "'");
}
