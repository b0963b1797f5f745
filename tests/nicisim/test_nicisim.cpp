// The simulated adapter's own rules: blocks checked byte by byte, the
// adapter's and the enclosure's answers and the staged faults (in memory);
// the library's contract, the state file with its lock and log, and
// kivadapsim's command line (against a state file of the test's own).
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <regex>
#include <sstream>

#include "adapci/kivadapci.h"
#include "adapci/nici.h"
#include "cli/kivsha256.h"
#include "ses/kivses.h"
#include "kivblocks.h"
#include "kivsim.h"

namespace {

using namespace kivtest;
using namespace nicisim;
namespace B = blocks;
using B::Block;
constexpr std::uint64_t kAddress = 0x7F00DEAD0000;  // where an SES block says its data area lies

std::string joinedNames(const Words& names) {
  std::string all;
  for (const std::string& n : names) all += (all.empty() ? "" : " ") + n;
  return all;
}

std::string hex(const Block& b, std::size_t from, std::size_t n) {
  std::string s;
  for (std::size_t i = from; i < from + n; ++i) s += "0123456789abcdef"[b[i] >> 4], s += "0123456789abcdef"[b[i] & 15];
  return s;
}
Block receive(int code, std::size_t length = 4, const char* serial = "ENC1") {
  return B::receiveDiagnostic(serial, code, length, kAddress);
}
Block send(const Block& page) { return B::sendDiagnostic("ENC1", page, kAddress); }
// A download page: the phase flag with the device number, then image bytes.
Block load(std::uint8_t phaseAndDevice, Block image = {}) {
  Block page{4, 0, 0, static_cast<std::uint8_t>(5 + image.size()), 0x3C, 0, 0, 0, phaseAndDevice};
  page.insert(page.end(), image.begin(), image.end());
  return send(page);
}

// A block that breaks its layout anywhere is answered with DE_BadParameter
// (244) in its directive status and nothing else, and changes no state; one
// too short to hold a directive status is refused with EINVAL.
TEST(Blocks, BrokenLayoutAnsweredAsBadParameter) {
  const Block map = B::loopMap(1), mode = B::serviceMode(1, 1), get = receive(8), put = send({4, 0, 0, 0});
  auto poke = [](std::size_t at, std::uint8_t v) { return [=](Block& b) { b[at] = v; }; };
  auto cut = [](std::uint8_t size) { return [=](Block& b) { b.resize(size), b[7] = size; }; };
  const struct { Block block; std::function<void(Block&)> spoil; std::string why; } rows[] = {
      {map, cut(60), "block of 60 bytes is too short to answer"}, {get, cut(50), "block of 50 bytes is too short"},
      {map, poke(7, 0x8C), "blockSize 3212 differs from requestSize 3216"}, {map, poke(1, 3), "unknown blockKind 3"},
      {map, poke(55, 6), "service 6 is not 7"}, {map, poke(56, 0), "byte at offset 56 is 0, not 2"},
      {map, poke(59, 83), "transaction 83 not served"}, {map, poke(170, 1), "nonzero byte at offset 170"},
      {mode, poke(59, 82), "size 192 for transaction 82, expected 3216"}, {map, poke(73, 1), "nonzero byte at offset 73"},
      {map, poke(167, 16), "descriptor 4 is (8,3012,16)"}, {map, poke(184, 5), "port 5 out of range"},
      {mode, poke(184, 0), "port 0 out of range"}, {map, poke(185, 0), "data byte 1 is 0"},
      {mode, poke(185, 2), "data byte 1 is 2"}, {mode, poke(191, 1), "nonzero byte at offset 191"},
      {get, cut(236), "SES block of 236 bytes is too short"}, {get, poke(153, 60), "transaction 60 is not 59"},
      {get, poke(155, 0), "bytes at offset 154 are not 2"}, {get, poke(191, 0), "data offset 6 is not 1"},
      {get, poke(192, 0x1E), "operation code 30 not served"}, {put, poke(193, 0), "CDB byte 1 is 0"},
      {put, poke(194, 8), "CDB reserved byte set"}, {get, poke(197, 1), "CDB reserved byte set"},
      {get, poke(196, 8), "size 244 for page length 8"}, {get, poke(48, 1), "nonzero byte at offset 48"},
      {get, poke(186, 1), "nonzero byte at offset 186"}, {put, poke(104, 8), "descriptor 3 is (8,0,0)"},
      {get, poke(40, 1), "nonzero byte at offset 40"}, {get, poke(183, 1), "dataAddress does not point at the data area"},
      {get, [](Block& b) { std::fill(&b[10], &b[48], 'A'); }, "serial number not terminated within its field"},
      {get, poke(204, 1), "nonzero byte at offset 204"}, {put, poke(208, 1), "nonzero byte at offset 208"},
  };
  for (const auto& row : rows) {
    State s;
    s.enclosures.emplace_back().serial = "ENC1";
    const std::string before = serialize(s);
    Block b = row.block, answered = (row.spoil(b), b);
    const bool refused = row.why.ends_with("to answer");
    if (!refused) answered[b[1] == 2 ? 48 : 60] = 244;
    const Answer a = answerBlock(s, b, kAddress);
    EXPECT_EQ(a.line + " " + std::to_string(a.err), "malformed: " + row.why + (refused ? " 22" : " 0"));
    EXPECT_TRUE(b == answered && serialize(s) == before) << row.why;
  }
}

// The port requests answered by the adapter's rules or as staged: the result
// (in the log line and in the block), the service-mode word of a loop map
// (the flag 0x40 among other bits, little-endian), the ports' modes after.
TEST(Adapter, AnswersByItsRules) {
  using P = Port*;
  const struct { std::function<void(P)> stage; Block request; std::string want; } rows[] = {
      {[](P) {}, B::loopMap(2), "0 b2a10000 0000"}, {[](P p) { p[1].serviceMode = 1; }, B::loopMap(2), "0 f2a10000 0100"},
      {[](P p) { p[1].serviceMode = 1, p[1].forcedQuery = 1; }, B::loopMap(2), "1 f2a10000 0100"},
      {[](P p) { p[1].serviceMode = 1, p[1].loopUp = 0; }, B::loopMap(2), "-689 00000000 0100"},
      {[](P p) { p[0].forcedQuery = -8; }, B::loopMap(1), "-8 00000000 0000"},
      {[](P) {}, B::serviceMode(1, 1), "0 1000"}, {[](P p) { p[0].serviceMode = 1; }, B::serviceMode(1, 1), "1 1000"},
      {[](P p) { p[3].serviceMode = 1; }, B::serviceMode(3, 1), "-34 0001"},
      {[](P p) { p[2].serviceMode = 1; }, B::serviceMode(3, 0), "0 0000"}, {[](P) {}, B::serviceMode(4, 0), "-8 0000"},
      {[](P p) { p[0].forcedSet = -689; }, B::serviceMode(1, 1), "-689 0000"},
      {[](P p) { p[0].forcedSet = 1; }, B::serviceMode(1, 1), "1 1000"},
      {[](P p) { p[0].forcedSet = 0, p[1].serviceMode = 1; }, B::serviceMode(1, 1), "0 0100"},  // never a pair
      {[](P p) { p[0].forcedClear = 0; }, B::serviceMode(1, 0), "0 0000"},
      {[](P p) { p[0].serviceMode = 1, p[0].forcedClear = -2; }, B::serviceMode(1, 0), "-2 1000"},
  };
  for (const auto& row : rows) {
    State s;
    row.stage(s.ports.data());
    Block b = row.request;
    const std::string line = answerBlock(s, b, kAddress).line, rc = line.substr(line.rfind('=') + 1);
    EXPECT_EQ(static_cast<std::int16_t>(b[170] << 8 | b[171]), std::stoi(rc)) << line;
    EXPECT_EQ(rc + (b.size() > 192 ? " " + hex(b, 3204, 4) : "") + " " + modes(s), row.want) << line;
  }
}

// Each fault kind on a clear of port 1, which is in service mode and whose
// clear answers AS_Warning, carried out or not where it may be: carried out,
// the port leaves service mode and the answer says 1, then the fault spoils
// it; not carried out, both stay as sent. The send's errno, answer size and
// reply status, bytes 60, 168 and 169 of the answer; nothing written past it.
TEST(Faults, EachKindCarriedOutOrNot) {
  const struct { FaultKind kind; std::int32_t value; const char* effect; } rows[] = {
      // No fault (kFaultKinds), then each kind; a send fault never reaches the adapter.
      {kFaultKinds, 0, "0 192 0 000000"}, {kSend, 16, "16 0 0 000000"}, {kSendAnswered, 4, "4 192 0 000000"},
      {kDirective, 9, "0 192 0 090000"}, {kNetwork, 7, "0 192 0 000007"}, {kResultByte, 5, "0 192 0 000500"},
      {kReplyStatus, 3, "0 192 3 000000"}, {kShort, 100, "0 100 0 000000"}, {kNoAnswer, 0, "0 0 0 000000"},
  };
  for (const auto& row : rows) {
    const bool none = row.kind == kFaultKinds;
    const std::string fault = none ? "" : std::string(" fault=") + kFaultKindInfo[row.kind].name;
    for (bool executed : {false, true}) {
      if (executed ? !none && !kFaultKindInfo[row.kind].takesExecuted : none) continue;
      State s;
      s.ports[0].serviceMode = true, s.ports[0].forcedClear = 1;
      if (!none) s.faults[row.kind] = {1, row.value, 0, executed};
      Block reply(200, 0xEE);
      const Sent sent = sendRequest(s, B::serviceMode(1, 0), reply, 0);
      EXPECT_EQ(std::to_string(sent.err) + " " + std::to_string(sent.answerSize) + " " + std::to_string(sent.replyStatus) + " " +
                    hex(reply, 60, 1) + hex(reply, 168, 2) + " " + hex(reply, 170, 2) + modes(s) + hex(reply, 192, 8),
                std::string(row.effect) + (executed ? " 00010000" : " 00001000") + std::string(16, 'e'));
      EXPECT_EQ(sent.line + std::to_string(s.faults[row.kind % kFaultKinds].count),
                "FN_ADAP_ServiceMode port=1 value=0 " + std::string(executed ? "rc=1" : "executed=no") + fault + "0");
    }
  }
  // A fault lets its after= sends pass, and one staged always never runs out.
  State s;
  s.faults[kNoAnswer] = {kAlways, 0, 1, true};
  Block reply(244);
  std::string sizes;
  for (int i = 0; i < 3; ++i) sizes += std::to_string(sendRequest(s, B::serviceMode(1, 0), reply, 0).answerSize);
  EXPECT_EQ(sizes, "19200");
  // A malformed block is answered as malformed: no fault fires or counts.
  s.faults[kDirective] = {1, 9, 0, true};
  EXPECT_EQ(sendRequest(s, B::serviceMode(1, 2), reply, 0).line, "malformed: data byte 1 is 2");
  EXPECT_EQ(s.faults[kDirective].count, 1);
  // An SES answer is spoilt at its own offsets; not carried out, its page stays as sent.
  s = {}, s.faults[kNetwork] = {1, 7, 0, false}, s.enclosures.emplace_back().serial = "ENC1";
  sendRequest(s, receive(8), reply, kAddress);
  EXPECT_EQ(hex(reply, 48, 8) + " " + hex(reply, 204, 4), "0000000000070000 00000000");
}

// One enclosure answering in turn: a busy send, its status list, String In,
// the supported pages, pages it does not support, an unknown serial number;
// and firmware transfers, one at a time, kept per device. Each answer's
// result, a read's page, and what it writes to a device's image.
TEST(Enclosure, AnswersAndTransfersPerDevice) {
  const struct { Block request; const char* want; std::function<void(Enclosure&)> stage = {}; } steps[] = {
      // A busy send; the status list in turn, the last repeating; String In; the supported pages; a page it does not support;
      // an unknown serial number; only String Out may be sent, and without the download command it is taken to no effect.
      {receive(8), "busy"}, {receive(8), "0 08030000"}, {receive(8), "0 08000000"}, {receive(8), "0 08000000"},
      {receive(4, 6), "0 414243440000"}, {receive(0, 8), "0 0000000300040800"}, {receive(2), "-87 00000000"},
      {receive(8, 4, "NOPE"), "-500 00000000"}, {send({2, 0, 0, 0}), "-87"}, {send({4, 0, 0, 1, 0}), "0"},
      // An image page with no transfer open; then a transfer to device 5.
      {load(0x05, {1}), "-8"}, {load(0x45), "0 5 start"}, {load(0x05, {1, 2}), "0 5 at 0: 2"},
      // Another device, bytes in a start page, no such phase, a page length that is not the page's, a reserved byte.
      {load(0x06, {1}), "-8"}, {load(0x45, {1}), "-8"}, {load(0xC5), "-8"},
      {send({4, 0, 0, 7, 0x3C, 0, 0, 0, 5, 1}), "-8"}, {send({4, 0, 0, 6, 0x3C, 0, 1, 0, 5, 1}), "-8"},
      // Device 5 complete: committed; nothing to commit on 6: refused, as the next read says.
      {load(0x05, {3}), "0 5 at 2: 1"}, {load(0x85), "0"}, {load(0x86), "0"}, {receive(8), "0 08020000"},
      // On device 7 a bad status stops the transfer: no more pages, no commit. On 6 an overlong image stops it.
      {load(0x47), "0 7 start"}, {load(0x07, {1}), "0 7 at 0: 1"},
      {receive(8), "0 08030000", [](auto& e) { e.statuses = {3}, e.next = 0; }}, {load(0x07, {1}), "-8"},
      {load(0x87), "0"}, {receive(8), "0 08020000"}, {load(0x46), "0 6 start"},
      {load(0x06, {1, 2}), "-82", [](auto& e) { e.device(6)->length = kMaxImage - 1; }}, {load(0x06, {1}), "-8"},
      // A start ends the transfer to 8; with no image there is no commit.
      {load(0x48), "0 8 start"}, {load(0x49), "0 9 start"}, {load(0x89), "0"},
  };
  State s;
  Enclosure& e = s.enclosures.emplace_back();
  e.serial = "ENC1", e.statuses = {3, 0}, e.stringIn = {'A', 'B', 'C', 'D'}, e.busy = 1;
  for (const auto& step : steps) {
    if (step.stage) step.stage(e);
    Block b = step.request;
    const Answer a = answerBlock(s, b, kAddress);
    std::string got = a.err == EBUSY ? "busy" : std::to_string(static_cast<std::int16_t>(b[54] << 8 | b[55]));
    if (b[192] == 0x1C && a.err == 0) got += " " + hex(b, 204, b[196]);
    if (a.image) got += std::string(" ") + std::to_string(a.image->device) + (a.image->start ? std::string(" start") :
                        std::string(" at ") + std::to_string(a.image->offset) + ": " + std::to_string(a.image->bytes.size()));
    EXPECT_EQ(got, step.want) << "step " << &step - steps;
  }
  std::string devices;
  for (const Device& d : e.devices) devices += std::to_string(d.length) + kTransferNames[d.transfer] + " ";
  EXPECT_EQ(devices, "3committed 16777215stopped 1stopped 0stopped 0receiving ");  // devices 5 to 9
}

// ---- the library and kivadapsim, against a state file of the test's own ----

std::uint64_t g_now = 0;
// Library calls as a caller makes them, one per word: open; send, of a
// loop-map request with its three option calls made (none with -nooptions,
// option 1 where option 0 belongs with -outoforder; -nobuffer and -norecord
// leave out what they say); size, status and close. sim runs a kivadapsim
// change; lock holds the state's lock elsewhere, its wait on a pinned clock.
// Each call's result, and errno when it failed.
std::string calls(Sim& sim, const std::string& script) {
  Block block = B::loopMap(1), reply(3216);
  niCIOptions options{};
  niCIStatus status{};
  niCIReply record{};
  std::istringstream words(script);
  std::string out;
  for (std::string w; words >> w;) {
    const int order[] = {2, 1, 0, 1, 1, 0, 2, 1, 1, 1, 1, 0}, *o = order + (w == "send-outoforder" ? 6 : 0);
    for (int i = 0; i < 6 && w.starts_with("send") && w != "send-nooptions"; i += 2) niCISetOptions(&options, o[i], o[i + 1]);
    record.pReplyBuffer = w == "send-nobuffer" ? nullptr : reply.data();
    long r = 0;
    if (w == "lock") {
      static const Fd held(open(lockPath().c_str(), O_RDWR));
      flock(held.fd, LOCK_EX);
      SimNowMicroseconds = [] { return g_now; };
      SimSleepMicroseconds = [](std::uint64_t us) { g_now += us; };
    }
    if (w == "open") r = niCIOpen();
    niCIReply* const to = w == "send-norecord" ? nullptr : &record;
    if (w.starts_with("send")) r = niCISendSyncRequest(block.data(), 3216, &options, &status, to);
    if (w == "size") r = niCIBGetRequestSize(&record);
    if (w == "status") r = niCIBGetRequestStatus(&record);
    if (w == "close") r = niCIClose();
    if (w == "sim") r = sim.simRaw({"port", "1L", "mode=on"}).status;
    out += w + "=" + std::to_string(r) + (r == -1 ? "/" + std::to_string(errno) : "") + " ";
  }
  return out + (g_now != 0 ? std::to_string(g_now / 1000000) + " s" : "");
}

// Calls in a process of their own, after the staging the row names: what
// the caller sees, and the log. Each fault as the library's callers see it;
// each breach of the contract refused and logged; the lock taken per call,
// so that an open connection holds none, and waited for 10 s at most.
TEST(Library, CallsAsTheirCallersSeeThem) {
  Sim sim;
  const std::string one = "open send size status close", map = "FN_ADAP_GetFCLoopMap port=1 ";
  const std::string breach = "contract: niCISendSyncRequest ", locked = "state file locked by another process for 10 s";
  const struct { Words stage; std::string script, out; Words log; } rows[] = {
      {{"fault", "open"}, "open", "open=-1/111 ", {"niCIOpen fault=open"}},
      {{"fault", "send", "errno=16"}, one, "open=0 send=-1/16 size=0 status=0 close=0 ", {map + "executed=no fault=send"}},
      {{"fault", "send-answered", "errno=4"}, one, "open=0 send=-1/4 size=3216 status=0 close=0 ",
       {map + "executed=no fault=send-answered"}},
      {{"fault", "replystatus", "value=3"}, one, "open=0 send=0 size=3216 status=3 close=0 ", {map + "rc=0 fault=replystatus"}},
      {{"fault", "short", "value=100"}, "open send size", "open=0 send=0 size=100 ", {map + "rc=0 fault=short"}},
      {{"fault", "close"}, "open close", "open=0 close=-1/5 ", {"niCIClose fault=close"}},
      {{}, "send", "send=-1/22 ", {breach + "without an open connection"}},
      {{}, "open open", "open=0 open=-1/16 ", {"contract: niCIOpen while a connection is open"}},
      {{}, "close", "close=-1/9 ", {"contract: niCIClose without an open connection"}},
      {{}, "open send-nooptions", "open=0 send-nooptions=-1/22 ",
       {breach + "before the option calls 2 = 1, 0 = 1, 1 = extra size on its record"}},
      {{}, "open send-outoforder", "open=0 send-outoforder=-1/22 ", {"contract: niCISetOptions(1, 1) out of order"}},
      {{}, "open send-nobuffer", "open=0 send-nobuffer=-1/22 ", {breach + "without a reply buffer"}},
      {{}, "open send-norecord", "open=0 send-norecord=-1/22 ", {breach + "without a reply record"}},
      {{}, "size", "size=0 ", {"contract: niCIBGetRequestSize before any send on its reply record"}},
      {{}, "open sim close", "open=0 sim=0 close=0 ", {}},
      {{}, "open lock send close", "open=0 lock=0 send=-1/16 close=-1/16 20 s",
       {"niCISendSyncRequest failed: " + locked, "niCIClose failed: " + locked}},
  };
  for (const auto& row : rows) {
    sim.sim({"reset"});
    if (!row.stage.empty()) sim.sim(row.stage);
    EXPECT_EQ(runTraced([&] { std::fputs(calls(sim, row.script).c_str(), stdout); }, nullptr).out, row.out);
    EXPECT_EQ(sim.log(), row.log);
  }
}

// A damaged state file is refused by the library and by kivadapsim, and
// reset replaces it; a state path that is not a regular file of ours is
// refused at once, by reset too, and what it leads to is left alone.
TEST(Store, DamagedOrForeignStateIsRefused) {
  Sim sim;
  const std::string state = sim.statePath(), other = state + ".other";
  auto text = [&](const char* t) { return [&, t] { return writeFile(state, t), 0; }; };
  const struct { std::function<int()> make; std::string why; } rows[] = {
      {text(""), "damaged state file: not a kivadapsim state file (no final line end)"},
      {text("kivadapsim-state\nversion=2\n"), "damaged state file: unsupported state version 'version=2'"},
      {text("kivadapsim-state\nversion=3\ngeneration=1\nport1.mode=maybe\n"), "damaged state file: line 4: checksum does not match"},
      {[&] { return symlink(other.c_str(), state.c_str()); }, "is a symbolic link, refused"},
      {[&] { return mkfifo(state.c_str(), 0600); }, "not a regular file, refused"},
      {[&] { return link(other.c_str(), state.c_str()); }, "has more than one link, refused"},
  };
  for (const auto& row : rows) {
    unlink(state.c_str()), unlink((state + ".log").c_str()), writeFile(other, "precious\n");
    ASSERT_EQ(row.make(), 0) << row.why;
    EXPECT_EQ(runTraced([&] { std::fputs(calls(sim, "open").c_str(), stdout); }, nullptr).out, "open=-1/5 ");
    const std::string log = readFile(state + ".log"), why = state + ": " + row.why;
    EXPECT_EQ(log.substr(log.find(' ') + 1), "niCIOpen failed: " + why + "\n");
    EXPECT_EQ(sim.simRaw({"show"}).err, "kivadapsim: " + why + "\n");
    const int refused = row.why.starts_with("damaged") ? 0 : 1;
    EXPECT_EQ(sim.simRaw({"reset"}).status + sim.simRaw({"show"}).status, 2 * refused) << row.why;
    EXPECT_EQ(readFile(other), "precious\n");
  }
}

// The request log keeps the newest lines: past its size bound, each visit
// cuts it back to kMaxLogLines.
TEST(Store, LogKeepsTheNewestLines) {
  Sim sim;
  std::string old;
  int lines = 0;
  for (; old.size() <= kMaxLogBytes; ++lines) old += "1 old line " + std::to_string(lines) + "\n";
  writeFile(sim.statePath() + ".log", old);
  runTraced([&] { calls(sim, "open send"); }, nullptr);
  const Words log = sim.log();  // the open cuts it, the send adds its line
  EXPECT_EQ(std::to_string(log.size()) + " " + log.front() + " " + log.back(), std::to_string(kMaxLogLines + 1) +
            " old line " + std::to_string(lines - kMaxLogLines) + " FN_ADAP_GetFCLoopMap port=1 rc=0");
}

// A crash, or a full file system, at each operation that changes the
// simulator's files during a run that sets port 1L, then transfers an image
// to device 5 and commits it over the one committed before: the state stays
// readable (the last whole copy), the log claims nothing the state does not
// show (a line whose save failed says so) and holds whole lines, and the
// committed image is whole, the old one or the new one. A reset cut short
// leaves no log that claims what its state does not show either.
TEST(Store, CrashOrFullDiskAtEachFileOperation) {
  Sim sim;
  const Block oldImage(600, 'a'), newImage(1100, 'b');
  const std::string oldDigest = kiv::sha256Hex(oldImage), newDigest = kiv::sha256Hex(newImage), set = "FN_ADAP_ServiceMode port=1 value=1 rc=0";
  const auto download = [](const Block& image) {
    if (SES_DownloadFwTransfer("ENC1", 5, image.data(), static_cast<std::uint32_t>(image.size())) == SES_Success) {
      SES_DownloadFwCommit("ENC1", 5);
    }
    SES_CloseCIConnection();
  };
  // Runs setup, then run with a crash and with a full disk staged at each of
  // its file operations in turn, until one outlasts them all; check after each.
  using Step = std::function<void()>;
  const auto atEachOperation = [](const char* what, const Step& setup, const Step& run, const Step& check) {
    for (SimFailure kind : {SimFailure::kCrash, SimFailure::kFull}) {
      for (std::uint64_t at = 1;; ++at) {
        SCOPED_TRACE(what + std::string(kind == SimFailure::kCrash ? ", crash at " : ", ENOSPC at ") +
                     std::to_string(at));
        runTraced(setup, nullptr);
        const Traced r = runTraced([&] {
          SimFailKind = kind, SimFailAt = at;
          run();
          std::printf("%llu", static_cast<unsigned long long>(SimFileOps));
        }, nullptr);
        check();
        if (r.status == 0 && std::stoull(r.out) < at) break;
        EXPECT_EQ(r.status, kind == SimFailure::kCrash ? kSimCrashStatus : 0);
      }
    }
  };
  const auto setPort1 = [] {
    Block block = B::serviceMode(1, 1);
    SendAdapCIRequest(static_cast<std::uint32_t>(block.size()), 0, block.data());
  };
  int notSaved = 0;
  atEachOperation("set and download", [&] {
    std::string why;
    resetState(why);
    withState([](State& s) { return s.enclosures.emplace_back().serial = "ENC1", true; }, why);
    download(oldImage);
    withState([](State&) { std::string ignored; return clearLog(ignored), false; }, why);
  }, [&] { setPort1(), download(newImage); }, [&] {
    EXPECT_EQ(sim.simRaw({"show"}).status, 0);
    const Words log = sim.log();
    const std::string firmware = sim.sim({"firmware", "ENC1"});
    const auto claims = [&](const std::string& line) { return std::count(log.begin(), log.end(), line); };
    const std::string whole = "(" + oldDigest + "|" + newDigest + ")";
    EXPECT_TRUE(claims(set) == 0 || modes(sim.state())[0] == '1');
    EXPECT_TRUE(std::regex_search(firmware, std::regex("sha256 " + whole + ", committed\n|; committed before: length "
                                                       "(600|1100), sha256 " + whole + "\n"))) << firmware;
    notSaved += claims(set + " not saved") > 0 && modes(sim.state())[0] == '0';
    // A line cut short by the full disk does not run into the next one.
    const auto runsOn = [](const std::string& l) { return std::regex_search(l, std::regex("[0-9] (FN_|niCI)")); };
    EXPECT_EQ(std::count_if(log.begin(), log.end(), runsOn), 0);
  });
  EXPECT_EQ(notSaved, 2);  // a full disk at either operation of the set's save: the copy written, then cut
  // A reset cut short: the log claims no request of the state it was replacing.
  atEachOperation("reset", [&] {
    std::string why;
    resetState(why);
    setPort1();
  }, [] { std::string why; resetState(why); }, [&] {
    const Words log = sim.log();
    EXPECT_TRUE(std::count(log.begin(), log.end(), set) == 0 || modes(sim.state())[0] == '1');
  });
}

// The state folder below /tmp, taken when neither XDG_STATE_HOME nor HOME
// is set, is used only when it is the user's own with mode 0700; reset
// removes the firmware images and the temporary files of killed runs, and
// nothing else.
TEST(Store, FallbackFolderAndWhatResetRemoves) {
  const TempDir tmp;
  const std::string folder = tmp.file("kivadapsim-" + std::to_string(getuid())), elsewhere = tmp.file("elsewhere");
  const std::string refused = folder + ": not a folder of this user's with mode 0700, refused";
  const struct { std::function<int()> make; std::string outcome; } rows[] = {
      {[] { return 0; }, "0 state state.lock state.notes"},
      {[&] { return mkdir(folder.c_str(), 0755); }, "2 " + refused},
      {[&] { return mkdir(elsewhere.c_str(), 0700) | symlink(elsewhere.c_str(), folder.c_str()); }, "2 " + refused},
      {[&] { return mkdir(folder.c_str(), 0700); }, "0 state state.lock state.notes"},
  };
  for (const auto& row : rows) {
    removeTree(folder), removeTree(elsewhere);
    ASSERT_EQ(row.make(), 0) << row.outcome;
    EXPECT_EQ(runTraced([&] {
      SimTmpBase = tmp.path().c_str();
      for (const char* name : {"KIVADAPSIM_STATE", "XDG_STATE_HOME", "HOME"}) unsetenv(name);
      std::string why;
      if (withState([](State&) { return true; }, why) == Access::kDone) {
        for (const char* left : {"state.ab12CD", "state.log.Zx9y8W", "state.fw.ENC1.5.1", "state.notes"}) writeFile(folder + "/" + left, "x");
        resetState(why);
      }
      std::printf("%d %s", static_cast<int>(why.empty() ? Access::kDone : Access::kRefused),
                  why.empty() ? joinedNames(listDir(folder)).c_str() : why.c_str());
    }, nullptr).out, row.outcome);
  }
}

// kivadapsim's command line, in turn against one state: a bad command line
// (status 2: what is wrong, then the usage) and a refused change (status 1)
// leave the state alone; a change prints the lines of show that it changed.
TEST(Kivadapsim, CommandLine) {
  Sim sim;
  sim.sim({"port", "2R", "mode=on"});
  const std::string usage = "usage: kivadapsim reset\n";
  const struct { Words words; int status; std::string text; } rows[] = {  // standard output, or what is wrong
      {{}, 2, "no command given"}, {{"frob"}, 2, "unknown verb 'frob'"}, {{"show", "all"}, 2, "show: unexpected argument 'all'"},
      {{"port", "3L", "mode=on"}, 2, "unknown port '3L'"}, {{"port", "1l", "mode=on", "speed=4"}, 2, "unknown key 'speed'"},
      {{"port", "1L", "mode=up"}, 2, "bad value 'up' for mode"},
      {{"port", "1L", "query=AE_Nonsense"}, 2, "unknown result code 'AE_Nonsense' for query"},
      {{"fault", "melt"}, 2, "unknown fault 'melt'"}, {{"fault", "send", "count=x"}, 2, "bad count 'x'"},
      {{"fault", "close", "executed=yes"}, 2, "unknown key 'executed=yes' for fault close"},
      {{"fault", "short", "value=65536"}, 2, "bad value '65536'"}, {{"log", "purge"}, 2, "log: unknown argument 'purge'"},
      {{"enclosure", "EN C"}, 2, "bad serial number 'EN C'"}, {{"enclosure", "ENC1", "status=3,x"}, 2, "bad status list '3,x'"},
      {{"enclosure", "ENC1", "status="}, 2, "bad status list ''"},
      {{"enclosure", "ENC1", "stringin=4"}, 2, "bad hex text for stringin"},
      {{"port", "2L", "mode=on"}, 1,
       "port 2L cannot be in service mode while its partner 2R is: the adapter holds one port of a pair in service mode at most"},
      {{"firmware", "ENC9"}, 1, "no enclosure 'ENC9'"}, {{"help"}, 0, usage}, {{"-h"}, 0, usage}, {{"--help"}, 0, usage},
      {{"--version"}, 0, "kivadapsim (kiv) " KIV_VERSION "\n"}, {{"log", "clear"}, 0, "log: 0 lines\n"},
      {{"port", "1l", "query=AE_LoopDown", "set=-8", "loop=down"}, 0,
       "port 1L (1): service mode off, loop down, query=-689 set=-8 clear=auto\n"},
      {{"fault", "directive", "after=2", "value=9", "executed=yes"}, 0, "fault directive: 1 more after=2 value=9 executed=yes\n"},
      {{"fault", "send", "always", "errno=4"}, 0, "fault send: always errno=4\n"},
      {{"fault", "send", "off"}, 0, "fault send: off errno=5\n"},
      {{"enclosure", "ENC1", "stringin=0a0B", "busy=2", "status=3,0"}, 0,
       "enclosure ENC1: status=3,0 (next read #1), stringin 2 bytes, busy=2, firmware: none\n"},
  };
  for (const auto& row : rows) {
    const auto both = [&] { return readFile(sim.statePath()) + readFile(sim.statePath() + ".alt"); };
    const std::string before = both(), what = row.text.substr(0, 30);
    const ChildResult r = sim.simRaw(row.words);
    const std::string err = row.status == 0 ? "" : "kivadapsim: " + row.text + "\n" + (row.status == 2 ? usage : "");
    EXPECT_EQ(std::to_string(r.status) + r.err.substr(0, err.size()), std::to_string(row.status) + err);
    EXPECT_EQ(row.text == usage ? r.out.substr(0, usage.size()) : r.out, row.status == 0 ? row.text : "");
    const bool changes = row.status == 0 && std::string("port fault enclosure").find(row.words[0]) != std::string::npos;
    EXPECT_EQ(both() != before, changes) << what;
  }
}

}  // namespace
