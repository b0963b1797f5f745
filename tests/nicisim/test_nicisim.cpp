// The simulated adapter: request blocks decoded and answered byte by byte,
// the faults, the state file and kivadapsim's command line.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "adapci/kivwire.h"
#include "kivtestsupport.h"
#include "adapci/nici.h"
#include "nicisim/nicisim.h"
#include "nicisim/sha256.h"
#include "ses/kivsesblock.h"

namespace {

using namespace kiv::wire;
using Block = std::vector<std::uint8_t>;
using nicisim::Fd;

// The two port requests as the utility builds them.
Block loopMapRequest(int port) {
  Block b(3216, 0);
  put16be(b, 0, 1);
  put32be(b, 4, 3216);
  put32be(b, 52, 7);
  put8(b, 56, 2);
  put16be(b, 58, 82);
  putArea(b, 72, presentArea(0, 4));
  putArea(b, 96, noArea());
  putArea(b, 120, presentArea(4, 3008));
  putArea(b, 144, presentArea(3012, 20));
  put8(b, 184, static_cast<std::uint8_t>(port));
  put8(b, 185, 1);
  return b;
}

Block serviceModeRequest(int port, int value) {
  Block b(192, 0);
  put16be(b, 0, 1);
  put32be(b, 4, 192);
  put32be(b, 52, 7);
  put8(b, 56, 2);
  put16be(b, 58, 96);
  putArea(b, 72, presentArea(0, 4));
  for (std::size_t at : {96u, 120u, 144u}) putArea(b, at, noArea());
  put8(b, 184, static_cast<std::uint8_t>(port));
  put8(b, 185, static_cast<std::uint8_t>(value));
  return b;
}

// An SES request as kivses lays it out: a SEND DIAGNOSTIC of page, or a
// RECEIVE DIAGNOSTIC RESULTS of L bytes of page code `code`. Its data
// address is filled in where the block is answered.
Block sesRequest(const std::string& serial, bool send, std::uint8_t code, std::uint32_t L, const Block& page = {}) {
  const std::uint32_t size = SesRequestBlock::blockSizeFor(L);
  Block b(size, 0);
  put16be(b, 0, 2);
  put32be(b, 4, size);
  std::memcpy(b.data() + 10, serial.c_str(), serial.size() + 1);
  putArea(b, 56, presentArea(0, 20));
  putArea(b, 80, send ? presentArea(20, L) : noArea());
  putArea(b, 104, send ? noArea() : presentArea(20, L));
  putArea(b, 128, presentArea(L + 20, 36));
  put16be(b, 152, 59);
  put16be(b, 154, 2);
  put16be(b, 190, 1);
  const std::uint8_t cdb[6] = {static_cast<std::uint8_t>(send ? 0x1D : 0x1C), static_cast<std::uint8_t>(send ? 0x10 : 0x01),
                               code, static_cast<std::uint8_t>(L >> 8), static_cast<std::uint8_t>(L), 0};
  for (std::size_t i = 0; i < 6; ++i) put8(b, 192 + i, cdb[i]);
  if (!page.empty()) std::memcpy(b.data() + 204, page.data(), page.size());
  return b;
}
Block receive(std::uint8_t code, std::uint32_t L = 4, const std::string& serial = "ENC1") {
  return sesRequest(serial, false, code, L);
}
Block sendPage(const Block& page) { return sesRequest("ENC1", true, 0, static_cast<std::uint32_t>(page.size()), page); }

// A download page: phase flag, device number, and image bytes.
Block downloadPage(std::uint8_t flag, int device, const Block& image = {}) {
  Block p(9 + image.size(), 0);
  put8(p, 0, 4);
  put16be(p, 2, static_cast<std::uint16_t>(5 + image.size()));
  put8(p, 4, 0x3C);
  put8(p, 8, static_cast<std::uint8_t>(flag | device));
  if (!image.empty()) std::memcpy(p.data() + 9, image.data(), image.size());
  return p;
}
Block start(int device) { return sendPage(downloadPage(0x40, device)); }
Block image(int device, const Block& bytes) { return sendPage(downloadPage(0x00, device, bytes)); }
Block commit(int device) { return sendPage(downloadPage(0x80, device)); }

nicisim::Enclosure enclosure(const std::string& serial, Block statuses = {}, Block stringIn = {}, std::int64_t busy = 0) {
  nicisim::Enclosure e;
  e.serial = serial;
  e.statuses = std::move(statuses);
  e.stringIn = std::move(stringIn);
  e.busy = busy;
  return e;
}

std::int16_t appResult(const Block& b) { return static_cast<std::int16_t>(get16be(b, 170)); }

// Answers a block against a state, as the library does; line receives the
// log line.
nicisim::Answer answerIn(nicisim::State& s, Block& b, std::uint64_t addressDelta = 0) {
  const auto address = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(b.data() + 184));
  if (get16be(b, 0) == 2 && b.size() >= 184) put64be(b, 176, address);
  return nicisim::answerBlock(s, b, address + addressDelta);
}
Block answer(nicisim::State& s, Block b, std::string* line = nullptr) {
  nicisim::Answer a = answerIn(s, b);
  EXPECT_EQ(a.err, 0);
  if (line != nullptr) *line = a.line;
  return b;
}

TEST(Adapter, LoopMapAnswerCarriesTheServiceModeWord) {
  for (bool on : {false, true}) {
    nicisim::State s;
    s.ports[1].serviceMode = on;
    std::string line;
    Block a = answer(s, loopMapRequest(2), &line);
    EXPECT_EQ(appResult(a), 0);
    EXPECT_EQ(get8(a, 60), 0);
    EXPECT_EQ(get8(a, 169), 0);
    EXPECT_EQ(get32le(a, 3204), on ? 0x00A1F2u : 0x00A1B2u);
    EXPECT_EQ(get8(a, 188), 3);  // the loop map holds entries
    EXPECT_EQ(line, "FN_ADAP_GetFCLoopMap port=2 rc=0");
  }
}

TEST(Adapter, LoopDownAnswersWithoutAMap) {
  nicisim::State s;
  s.ports[0].loopUp = false;
  std::string line;
  Block a = answer(s, loopMapRequest(1), &line);
  EXPECT_EQ(appResult(a), -689);
  EXPECT_EQ(get32le(a, 3204), 0u);
  EXPECT_EQ(line, "FN_ADAP_GetFCLoopMap port=1 rc=-689");
}

struct RuleCase {
  const char* name;
  std::function<void(nicisim::State&)> stage;
  int port, value;
  int rc;
  bool modeAfter;
};

TEST(Adapter, ServiceModeRules) {
  const RuleCase cases[] = {
      {"set", [](auto&) {}, 1, 1, 0, true},
      {"set again warns", [](auto& s) { s.ports[0].serviceMode = true; }, 1, 1, 1, true},
      {"set with partner in", [](auto& s) { s.ports[3].serviceMode = true; }, 3, 1, -34, false},
      {"clear", [](auto& s) { s.ports[2].serviceMode = true; }, 3, 0, 0, false},
      {"clear when out", [](auto&) {}, 4, 0, -8, false},
      {"forced set error changes nothing", [](auto& s) { s.ports[0].forcedSet = -689; }, 1, 1, -689, false},
      {"forced set warning applies", [](auto& s) { s.ports[0].forcedSet = 1; }, 1, 1, 1, true},
      {"forced set never makes a pair", [](auto& s) { s.ports[0].forcedSet = 0, s.ports[1].serviceMode = true; }, 1, 1,
       0, false},
      {"forced clear 0 applies", [](auto& s) { s.ports[0].serviceMode = true; s.ports[0].forcedClear = 0; }, 1, 0, 0,
       false},
      {"forced clear error keeps it", [](auto& s) { s.ports[0].serviceMode = true; s.ports[0].forcedClear = -2; }, 1, 0,
       -2, true},
  };
  for (const RuleCase& c : cases) {
    nicisim::State s;
    c.stage(s);
    std::string line;
    Block a = answer(s, serviceModeRequest(c.port, c.value), &line);
    EXPECT_EQ(appResult(a), c.rc) << c.name;
    EXPECT_EQ(s.ports[static_cast<std::size_t>(c.port - 1)].serviceMode, c.modeAfter) << c.name;
    EXPECT_EQ(line, "FN_ADAP_ServiceMode port=" + std::to_string(c.port) + " value=" + std::to_string(c.value) +
                                " rc=" + std::to_string(c.rc))
        << c.name;
  }
}

TEST(Adapter, ForcedQueryStillReportsTheFlagOnAWarning) {
  nicisim::State s;
  s.ports[0].serviceMode = true;
  s.ports[0].forcedQuery = 1;
  Block a = answer(s, loopMapRequest(1));
  EXPECT_EQ(appResult(a), 1);
  EXPECT_EQ(get8(a, 3204) & 0x40, 0x40);
}

TEST(Adapter, MalformedBlocksAnswerBadParameter) {
  struct Case {
    const char* name;
    std::function<void(Block&)> spoil;
    const char* reason;
  };
  const Case cases[] = {
      {"blockSize", [](Block& b) { put32be(b, 4, 3212); }, "malformed: blockSize 3212 differs from requestSize 3216"},
      {"service", [](Block& b) { put32be(b, 52, 6); }, "malformed: service 6 is not 7"},
      {"fixed56", [](Block& b) { put8(b, 56, 0); }, "malformed: byte at offset 56 is 0, not 2"},
      {"transaction", [](Block& b) { put16be(b, 58, 96); }, "malformed: size 3216 for transaction 96, expected 192"},
      {"descriptor", [](Block& b) { putArea(b, 144, presentArea(3012, 16)); }, "malformed: descriptor 4 is (8,3012,16)"},
      {"port", [](Block& b) { put8(b, 184, 5); }, "malformed: port 5 out of range"},
      {"port zero", [](Block& b) { put8(b, 184, 0); }, "malformed: port 0 out of range"},
      {"data byte", [](Block& b) { put8(b, 185, 0); }, "malformed: data byte 1 is 0"},
      {"zero byte", [](Block& b) { put8(b, 170, 1); }, "malformed: nonzero byte at offset 170"},
      {"kind", [](Block& b) { put16be(b, 0, 3); }, "malformed: unknown blockKind 3"},
  };
  for (const Case& c : cases) {
    nicisim::State s;
    Block b = loopMapRequest(1);
    c.spoil(b);
    std::string line;
    Block a = answer(s, b, &line);
    EXPECT_EQ(get8(a, 60), 244) << c.name;
    EXPECT_EQ(line, c.reason) << c.name;
  }
  nicisim::State s;
  std::string line;
  EXPECT_EQ(get8(answer(s, serviceModeRequest(1, 2), &line), 60), 244);
  EXPECT_EQ(line, "malformed: data byte 1 is 2");
}

// Every byte of an SES block is checked: a block that breaks its layout is
// answered with DE_BadParameter and changes nothing.
TEST(Ses, MalformedBlocksAnswerBadParameter) {
  struct Case {
    std::function<void(Block&)> spoil;
    std::uint64_t addressDelta;
    const char* reason;
  };
  const Case cases[] = {
      {[](Block&) {}, 8, "dataAddress does not point at the data area"},
      {[](Block& b) { put16be(b, 152, 60); }, 0, "transaction 60 is not 59"},
      {[](Block& b) { put16be(b, 154, 0); }, 0, "bytes at offset 154 are not 2"},
      {[](Block& b) { put16be(b, 190, 0); }, 0, "data offset 6 is not 1"},
      {[](Block& b) { put8(b, 196, 8); }, 0, "size 244 for page length 8"},
      {[](Block& b) { putArea(b, 80, presentArea(20, 4)); }, 0, "descriptor 2 is (8,20,4)"},
      {[](Block& b) { std::memset(b.data() + 10, 'A', 38); }, 0, "serial number not terminated within its field"},
      {[](Block& b) { put8(b, 40, 1); }, 0, "nonzero byte at offset 40"},         // after the serial's NUL
      {[](Block& b) { put8(b, 48, 1); }, 0, "nonzero byte at offset 48"},         // directive status
      {[](Block& b) { put8(b, 52, 1); }, 0, "nonzero byte at offset 52"},         // result word
      {[](Block& b) { put8(b, 205, 1); }, 0, "nonzero byte at offset 205"},       // a receive's data-in area
      {[](Block& b) { put8(b, 243, 1); }, 0, "nonzero byte at offset 243"},       // trailing area
  };
  for (const Case& c : cases) {
    nicisim::State s;
    s.enclosures.push_back(enclosure("ENC1"));
    const std::string before = nicisim::serialize(s);
    Block m = receive(8);
    c.spoil(m);
    const nicisim::Answer a = answerIn(s, m, c.addressDelta);
    EXPECT_EQ(a.err, 0);
    EXPECT_EQ(get8(m, 48), 244) << c.reason;
    EXPECT_EQ(a.line, std::string("malformed: ") + c.reason);
    EXPECT_EQ(nicisim::serialize(s), before);
  }
}

// One enclosure answering in turn: busy sends, the staged status list, a
// refused commit's status, String In, the supported pages, unsupported
// page codes, unknown serial numbers; and its firmware transfers, one at a
// time, kept per device.
TEST(Ses, EnclosureAnswersAndKeepsScorePerDevice) {
  using Stage = std::function<void(nicisim::Enclosure&)>;
  struct Step {
    Stage stage;
    Block request;
    int rc;            // applicationResult, or EBUSY for a busy send
    const char* page;  // the first bytes of a read's answer, in hex
    const char* image; // what the answer does to an image file
  };
  const Block pageTwo{2, 0, 0, 4, 1, 2, 3, 4};
  Block tooLong = downloadPage(0x00, 5, {'x'});
  put16be(tooLong, 2, 7);
  Block reserved = downloadPage(0x00, 5, {'x'});
  put8(reserved, 6, 1);
  Block startWithBytes = downloadPage(0x40, 5, {'x'});
  const Step steps[] = {
      {{}, receive(8), EBUSY, "", ""},
      {{}, receive(8), 0, "08030000", ""},
      {{}, receive(8), 0, "08000000", ""},
      {{}, receive(8), 0, "08000000", ""},  // the last status repeats
      {{}, receive(4, 6), 0, "414243440000", ""},
      {{}, receive(0, 8), 0, "0000000300040800", ""},
      {{}, receive(2), -87, "00000000", ""},
      {{}, receive(8, 4, "NOPE"), -500, "00000000", ""},
      {{}, sendPage(pageTwo), -87, "", ""},
      {{}, sendPage({4, 0, 0, 1, 0}), 0, "", ""},  // String Out without the download command
      {{}, image(5, {'a'}), -8, "", ""},           // no transfer open
      {{}, start(5), 0, "", "5 start"},
      {{}, image(5, {'a', 'b'}), 0, "", "5 at 0: 2"},
      {{}, image(6, {'x'}), -8, "", ""},  // not the device of the open transfer
      {{}, sendPage(tooLong), -8, "", ""},
      {{}, sendPage(reserved), -8, "", ""},
      {{}, sendPage(startWithBytes), -8, "", ""},
      {{}, image(5, {'c'}), 0, "", "5 at 2: 1"},
      {{}, commit(5), 0, "", ""},
      {{}, commit(6), 0, "", ""},  // nothing to commit: refused, as the next status read says
      {{}, receive(8), 0, "08020000", ""},
      {{}, receive(8), 0, "08000000", ""},
      {{}, start(7), 0, "", "7 start"},
      {{}, image(7, {'z'}), 0, "", "7 at 0: 1"},
      {[](nicisim::Enclosure& e) { e.statuses = {3}, e.next = 0; }, receive(8), 0, "08030000", ""},  // stops the transfer
      {{}, image(7, {'z'}), -8, "", ""},
      {{}, commit(7), 0, "", ""},
      {{}, receive(8), 0, "08020000", ""},
      {{}, start(6), 0, "", "6 start"},
      {[](nicisim::Enclosure& e) { e.device(6)->length = nicisim::kMaxImage - 1; }, image(6, {'a', 'b'}), -82, "", ""},
      {{}, start(8), 0, "", "8 start"},
      {{}, start(9), 0, "", "9 start"},  // ends the transfer to device 8
  };
  nicisim::State s;
  s.enclosures.push_back(enclosure("ENC1", {3, 0}, {'A', 'B', 'C', 'D'}, 1));
  int n = 0;
  for (const Step& step : steps) {
    ++n;
    if (step.stage) step.stage(s.enclosures[0]);
    Block b = step.request;
    const nicisim::Answer a = answerIn(s, b);
    EXPECT_EQ(a.err != 0 ? a.err : static_cast<std::int16_t>(get16be(b, 54)), step.rc) << "step " << n;
    std::string page, image;
    char hex[3];
    for (std::size_t i = 0; i < std::strlen(step.page) / 2; ++i) {
      std::snprintf(hex, sizeof hex, "%02x", b[204 + i]);
      page += hex;
    }
    if (a.image) {
      image = std::to_string(a.image->device) +
              (a.image->start ? std::string(" start")
                              : " at " + std::to_string(a.image->offset) + ": " + std::to_string(a.image->bytes.size()));
    }
    EXPECT_EQ(page, step.page) << "step " << n;
    EXPECT_EQ(image, step.image) << "step " << n;
  }
  std::string devices;
  for (const nicisim::Device& d : s.enclosures[0].devices) {
    devices += std::to_string(d.number) + ":" + std::to_string(d.pages) + "/" + std::to_string(d.length) + " " +
               nicisim::kTransferNames[d.transfer] + "; ";
  }
  EXPECT_EQ(devices,
            "5:2/3 committed; 6:0/16777215 stopped; 7:1/1 stopped; 8:0/0 stopped; 9:0/0 receiving; ");
}

// Each fault kind on a clear of port 1, which is in service mode and whose
// clear answers AS_Warning: carried out, the port leaves service mode and
// the answer says 1; not carried out, the port keeps it and the answer is
// the request as it was sent.
TEST(Faults, EachKindCarriedOutOrNot) {
  using nicisim::FaultKind;
  struct Case {
    FaultKind kind;
    std::int32_t value;
    bool executed;
    int err;
    std::uint32_t size;
    std::int32_t status;
    std::uint8_t directive, firstByte, network;
    bool modeAfter;
    const char* line;
  };
  const char* const clear = "FN_ADAP_ServiceMode port=1 value=0 ";
  const Case cases[] = {
      {nicisim::kFaultKinds, 0, true, 0, 192, 0, 0, 0, 0, false, "rc=1"},
      {nicisim::kSend, 16, false, 16, 0, 0, 0, 0, 0, true, "executed=no fault=send"},
      {nicisim::kSendAnswered, 4, false, 4, 192, 0, 0, 0, 0, true, "executed=no fault=send-answered"},
      {nicisim::kSendAnswered, 4, true, 4, 192, 0, 0, 0, 0, false, "rc=1 fault=send-answered"},
      {nicisim::kDirective, 9, false, 0, 192, 0, 9, 0, 0, true, "executed=no fault=directive"},
      {nicisim::kDirective, 9, true, 0, 192, 0, 9, 0, 0, false, "rc=1 fault=directive"},
      {nicisim::kNetwork, 7, false, 0, 192, 0, 0, 0, 7, true, "executed=no fault=network"},
      {nicisim::kNetwork, 7, true, 0, 192, 0, 0, 0, 7, false, "rc=1 fault=network"},
      {nicisim::kResultByte, 5, false, 0, 192, 0, 0, 5, 0, true, "executed=no fault=resultbyte"},
      {nicisim::kResultByte, 5, true, 0, 192, 0, 0, 5, 0, false, "rc=1 fault=resultbyte"},
      {nicisim::kReplyStatus, 3, false, 0, 192, 3, 0, 0, 0, true, "executed=no fault=replystatus"},
      {nicisim::kReplyStatus, 3, true, 0, 192, 3, 0, 0, 0, false, "rc=1 fault=replystatus"},
      {nicisim::kShort, 100, false, 0, 100, 0, 0, 0, 0, true, "executed=no fault=short"},
      {nicisim::kShort, 100, true, 0, 100, 0, 0, 0, 0, false, "rc=1 fault=short"},
      {nicisim::kNoAnswer, 0, false, 0, 0, 0, 0, 0, 0, true, "executed=no fault=noanswer"},
      {nicisim::kNoAnswer, 0, true, 0, 0, 0, 0, 0, 0, false, "rc=1 fault=noanswer"},
  };
  for (const Case& c : cases) {
    const std::string name = c.line;
    nicisim::State s;
    s.ports[0].serviceMode = true;
    s.ports[0].forcedClear = 1;
    if (c.kind != nicisim::kFaultKinds) s.faults[c.kind] = {1, c.value, 0, c.executed};
    const Block request = serviceModeRequest(1, 0);
    Block reply(request.size() + 8, 0xEE);  // room for extra size 8, never used
    const auto address = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(request.data() + 184));
    const nicisim::Sent sent = nicisim::sendRequest(s, request, reply, address);
    EXPECT_EQ(sent.err, c.err) << name;
    EXPECT_EQ(sent.answerSize, c.size) << name;
    EXPECT_EQ(sent.replyStatus, c.status) << name;
    EXPECT_EQ(get8(reply, 60), c.directive) << name;
    EXPECT_EQ(get8(reply, 168), c.firstByte) << name;
    EXPECT_EQ(get8(reply, 169), c.network) << name;
    if (c.err != 16) {
      EXPECT_EQ(appResult(reply), c.modeAfter ? 0 : 1) << name;
    }
    EXPECT_EQ(get8(reply, 192), 0xEE) << name;
    EXPECT_EQ(s.ports[0].serviceMode, c.modeAfter) << name;
    EXPECT_EQ(sent.line, clear + name) << name;
    EXPECT_EQ(s.faults[c.kind == nicisim::kFaultKinds ? 0 : c.kind].count, 0) << name;
  }
  // The same faults spoil an SES answer at its own offsets; not carried
  // out, a read's page stays as sent.
  nicisim::State ses;
  ses.enclosures.push_back(enclosure("ENC1"));
  ses.faults[nicisim::kDirective] = {1, 9, 0, false};
  Block read = receive(8);
  put64be(read, 176, static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(read.data() + 184)));
  Block readReply(read.size());
  nicisim::sendRequest(ses, read, readReply, get64be(read, 176));
  EXPECT_EQ(get8(readReply, 48), 9);
  EXPECT_EQ(get32be(readReply, 204), 0u);

  // A malformed block is answered as malformed: no fault fires or counts.
  nicisim::State s;
  s.faults[nicisim::kDirective] = {1, 9, 0, true};
  Block request = serviceModeRequest(1, 2), reply(192);
  const nicisim::Sent sent = nicisim::sendRequest(s, request, reply, 0);
  EXPECT_EQ(sent.line, "malformed: data byte 1 is 2");
  EXPECT_EQ(get8(reply, 60), 244);
  EXPECT_EQ(s.faults[nicisim::kDirective].count, 1);
}

// ---- through the library and kivadapsim, against a state file of the test's own ----

class Sim : public ::testing::Test {
 protected:
  void SetUp() override { setenv("KIVADAPSIM_STATE", state.c_str(), 1); }
  void TearDown() override { unsetenv("KIVADAPSIM_STATE"); }
  kivtest::ChildResult sim(const std::vector<std::string>& words) {
    std::vector<std::string> argv{"kivadapsim"};
    argv.insert(argv.end(), words.begin(), words.end());
    return kivtest::runProgram(KIVADAPSIM_PATH, argv, {{"KIVADAPSIM_STATE", state}});
  }
  // Library calls run in a child: each has a connection state of its own.
  kivtest::ChildResult lib(const std::function<void()>& body) { return kivtest::runInChild(body); }
  std::string log() { return sim({"log"}).out; }
  kivtest::TempDir tmp;
  std::string state = tmp.file("adapter.state");
};

// The records of one request, set up as the contract asks: the three
// option calls, and a reply buffer of block size + extra size bytes.
struct Request {
  Block block, buffer;
  niCIOptions options{};
  niCIStatus status{};
  niCIReply reply{};
  explicit Request(Block b, std::uint32_t extra = 0, bool setOptions = true)
      : block(std::move(b)), buffer(block.size() + extra, 0) {
    if (get16be(block, 0) == 2) {
      put64be(block, 176, static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(block.data() + 184)));
    }
    if (setOptions) {
      niCISetOptions(&options, 2, 1);
      niCISetOptions(&options, 0, 1);
      niCISetOptions(&options, 1, extra);
    }
    reply.pReplyBuffer = buffer.data();
  }
  int send() {
    return niCISendSyncRequest(block.data(), static_cast<std::uint32_t>(block.size()), &options, &status, &reply);
  }
};

// One exchange the way SendAdapCIRequest makes it; prints what came back.
void exchange(Block b) {
  if (niCIOpen() != 0) {
    std::printf("open failed\n");
    return;
  }
  Request r(std::move(b));
  errno = 0;
  int rc = r.send();
  int err = errno;
  std::uint32_t size = niCIBGetRequestSize(&r.reply);
  const auto* a = static_cast<const std::uint8_t*>(niCIBGetRequest(&r.reply));
  std::printf("send=%d errno=%d size=%u status=%d", rc, rc != 0 ? err : 0, size, niCIBGetRequestStatus(&r.reply));
  if (size >= 172) std::printf(" ds=%u nr=%u ar=%d", a[60], a[169], static_cast<std::int16_t>((a[170] << 8) | a[171]));
  std::printf(" close=%d\n", niCIClose());
}

TEST(Sha256, KnownVectors) {
  EXPECT_EQ(kiv::sha256Hex(Block{'a', 'b', 'c'}), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(kiv::sha256Hex(Block{}), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  std::string two = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
  EXPECT_EQ(kiv::sha256Hex(Block(two.begin(), two.end())),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
}

// What the library's callers see of each fault: the open's and the
// close's result, the send's result and errno, the answer size and the
// reply status; and the log line of each failed call.
TEST_F(Sim, FaultsAsTheCallerSeesThem) {
  struct Case {
    std::vector<std::string> fault;
    const char* out;
    const char* log;
  };
  const Case cases[] = {
      {{"open"}, "open failed\n", "niCIOpen fault=open\n"},
      {{"send", "errno=16"}, "send=-1 errno=16 size=0 status=0 close=0\n",
       "FN_ADAP_ServiceMode port=1 value=0 executed=no fault=send\n"},
      {{"send-answered", "errno=4", "executed=yes"}, "send=-1 errno=4 size=192 status=0 ds=0 nr=0 ar=0 close=0\n",
       "FN_ADAP_ServiceMode port=1 value=0 rc=0 fault=send-answered\n"},
      {{"close"}, "send=0 errno=0 size=192 status=0 ds=0 nr=0 ar=0 close=-1\n",
       "FN_ADAP_ServiceMode port=1 value=0 rc=0\nniCIClose fault=close\n"},
      {{"replystatus", "value=3"}, "send=0 errno=0 size=192 status=3 ds=0 nr=0 ar=0 close=0\n",
       "FN_ADAP_ServiceMode port=1 value=0 rc=0 fault=replystatus\n"},
      {{"short", "value=100"}, "send=0 errno=0 size=100 status=0 close=0\n",
       "FN_ADAP_ServiceMode port=1 value=0 rc=0 fault=short\n"},
      {{"noanswer"}, "send=0 errno=0 size=0 status=0 close=0\n",
       "FN_ADAP_ServiceMode port=1 value=0 rc=0 fault=noanswer\n"},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(sim({"reset"}).status, 0);
    ASSERT_EQ(sim({"port", "1L", "mode=on"}).status, 0);
    std::vector<std::string> words{"fault"};
    words.insert(words.end(), c.fault.begin(), c.fault.end());
    ASSERT_EQ(sim(words).status, 0) << c.fault[0];
    // count 1 by default: the fault fires once, then the adapter is clean.
    EXPECT_EQ(lib([] { exchange(serviceModeRequest(1, 0)); }).out, c.out) << c.fault[0];
    EXPECT_EQ(log(), c.log) << c.fault[0];
  }
  ASSERT_EQ(sim({"fault", "open", "always"}).status, 0);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(lib([] { exchange(loopMapRequest(1)); }).out, "open failed\n");
  ASSERT_EQ(sim({"fault", "open", "off"}).status, 0);
  EXPECT_EQ(lib([] { exchange(loopMapRequest(1)); }).out, "send=0 errno=0 size=3216 status=0 ds=0 nr=0 ar=0 close=0\n");
}

// after=K lets K chances pass, so a fault can hit the third request of a run.
TEST_F(Sim, FaultAfterSkipsTheFirstRequests) {
  ASSERT_EQ(sim({"fault", "directive", "after=2", "value=9"}).status, 0);
  EXPECT_NE(sim({"show"}).out.find("fault directive: 1 more after=2 value=9 executed=no\n"), std::string::npos) << sim({"show"}).out;
  const std::string clean = "send=0 errno=0 size=3216 status=0 ds=0 nr=0 ar=0 close=0\n";
  const std::string spoilt = "send=0 errno=0 size=3216 status=0 ds=9 nr=0 ar=0 close=0\n";
  for (const std::string& expected : {clean, clean, spoilt, clean})
    EXPECT_EQ(lib([] { exchange(loopMapRequest(1)); }).out, expected);
  EXPECT_EQ(sim({"fault", "send", "after=x"}).status, 2);
  EXPECT_EQ(sim({"fault", "send", "after=-1"}).status, 2);
}

TEST_F(Sim, StateFileCreatedOnFirstUse) {
  EXPECT_NE(access(state.c_str(), F_OK), 0);
  EXPECT_EQ(lib([] { exchange(loopMapRequest(3)); }).out, "send=0 errno=0 size=3216 status=0 ds=0 nr=0 ar=0 close=0\n");
  std::string text = kivtest::readFile(state);
  EXPECT_TRUE(text.starts_with("kivadapsim-state\nversion=2\nport1.mode=off\nport1.loop=up\n")) << text;
  EXPECT_EQ(log(), "FN_ADAP_GetFCLoopMap port=3 rc=0\n");
}

// A damaged state file is refused by the library and by kivadapsim, and
// replaced by reset. A state path that is not a regular file of ours (a
// link, a FIFO, a folder, a file with a second link) is refused at once,
// by reset too, and what it leads to is left alone.
TEST_F(Sim, DamagedOrForeignStateIsRefused) {
  const std::string other = tmp.file("other");
  struct Case {
    std::function<int(const std::string&)> make;
    std::string why;
    bool resettable;
  };
  auto text = [](const char* t) {
    return [t](const std::string& p) { return kivtest::writeFile(p, t), 0; };
  };
  const Case cases[] = {
      {text(""), "damaged state file: not a kivadapsim state file (no final line end)", true},
      {text("hello\n"), "damaged state file: not a kivadapsim state file", true},
      {text("kivadapsim-state\nversion=1\n"), "damaged state file: unsupported state version 'version=1'", true},
      {text("kivadapsim-state\nversion=2\nport1.mode=maybe\n"), "damaged state file: line 3: bad value of port1.mode",
       true},
      {[&](const std::string& p) { return symlink(other.c_str(), p.c_str()); }, "is a symbolic link, refused", false},
      {[](const std::string& p) { return mkfifo(p.c_str(), 0600); }, "not a regular file, refused", false},
      {[](const std::string& p) { return mkdir(p.c_str(), 0700); }, "not a regular file, refused", false},
      {[&](const std::string& p) { return link(other.c_str(), p.c_str()); }, "has more than one link, refused", false},
  };
  for (const Case& c : cases) {
    unlink(state.c_str()), rmdir(state.c_str()), unlink((state + ".log").c_str());
    kivtest::writeFile(other, "precious\n");
    ASSERT_EQ(c.make(state), 0) << c.why;
    const std::string why = state + ": " + c.why;
    kivtest::ChildResult r = lib([] { exchange(loopMapRequest(1)); });
    EXPECT_EQ(r.out, "open failed\n") << c.why;
    EXPECT_EQ(kivtest::readFile(state + ".log"), std::to_string(r.pid) + " niCIOpen failed: " + why + "\n");
    r = sim({"show"});
    EXPECT_EQ(r.status, 1) << c.why;
    EXPECT_EQ(r.err, "kivadapsim: " + why + "\n");
    r = sim({"reset"});
    EXPECT_EQ(r.status, c.resettable ? 0 : 1) << c.why;
    EXPECT_EQ(sim({"show"}).status, c.resettable ? 0 : 1) << c.why;
    EXPECT_EQ(kivtest::readFile(other), "precious\n");
  }
}

// kivadapsim's command line, in turn against one state: a bad command line
// (status 2, its line and the usage) and a refused change (status 1) leave
// the state alone; a change prints the lines of show that it changed.
TEST_F(Sim, CommandLine) {
  ASSERT_EQ(sim({"port", "2R", "mode=on"}).status, 0);
  struct Case {
    std::vector<std::string> words;
    int status;
    std::string out, err;
    bool changes;
  };
  const std::string usage = "usage: kivadapsim reset\n";
  const Case cases[] = {
      {{}, 2, "", "kivadapsim: no command given\n", false},
      {{"frob"}, 2, "", "kivadapsim: unknown verb 'frob'\n", false},
      {{"show", "all"}, 2, "", "kivadapsim: show: unexpected argument 'all'\n", false},
      {{"port", "3L", "mode=on"}, 2, "", "kivadapsim: unknown port '3L'\n", false},
      {{"port", "1l", "mode=on", "speed=4"}, 2, "", "kivadapsim: unknown key 'speed'\n", false},
      {{"port", "1L", "mode=up"}, 2, "", "kivadapsim: bad value 'up' for mode\n", false},
      {{"port", "1L", "mode=on", "query=AE_Nonsense"}, 2, "", "kivadapsim: unknown result code 'AE_Nonsense' for query\n",
       false},
      {{"port", "1L", "set=40000"}, 2, "", "kivadapsim: unknown result code '40000' for set\n", false},
      {{"fault", "melt"}, 2, "", "kivadapsim: unknown fault 'melt'\n", false},
      {{"fault", "send", "count=x"}, 2, "", "kivadapsim: bad count 'x'\n", false},
      {{"fault", "open", "errno=5"}, 2, "", "kivadapsim: unknown key 'errno=5' for fault open\n", false},
      {{"fault", "close", "executed=yes"}, 2, "", "kivadapsim: unknown key 'executed=yes' for fault close\n", false},
      {{"fault", "short", "value=65536"}, 2, "", "kivadapsim: bad value '65536'\n", false},
      {{"log", "purge"}, 2, "", "kivadapsim: log: unknown argument 'purge'\n", false},
      {{"enclosure", "EN C"}, 2, "", "kivadapsim: bad serial number 'EN C'\n", false},
      {{"enclosure", "ENC1", "status=3,x"}, 2, "", "kivadapsim: bad status list '3,x'\n", false},
      {{"enclosure", "ENC1", "stringin=4"}, 2, "", "kivadapsim: bad hex text for stringin\n", false},
      {{"enclosure", "ENC1", "color=red"}, 2, "", "kivadapsim: unknown key 'color'\n", false},
      {{"help"}, 0, usage, "", false},
      {{"-h"}, 0, usage, "", false},
      {{"--help"}, 0, usage, "", false},
      {{"--version"}, 0, "kivadapsim (kiv) " KIV_VERSION "\n", "", false},
      {{"port", "2L", "mode=on"}, 1, "",
       "kivadapsim: port 2L cannot be in service mode while its partner 2R is: the adapter holds one port of a pair in "
       "service mode at most\n",
       false},
      {{"firmware", "ENC9"}, 1, "", "kivadapsim: no enclosure 'ENC9'\n", false},
      {{"port", "1l", "query=AE_LoopDown", "set=-8", "clear=auto"}, 0,
       "port 1L (1): service mode off, loop up, query=-689 set=-8 clear=auto\n", "", true},
      {{"fault", "directive", "after=2", "value=9", "executed=yes"}, 0,
       "fault directive: 1 more after=2 value=9 executed=yes\n", "", true},
      {{"enclosure", "ENC1", "status=3,0", "busy=2"}, 0,
       "enclosure ENC1: status=3,0 (next read #1), stringin 0 bytes, busy=2, firmware: none\n", "", true},
      {{"firmware", "ENC1"}, 0, "serial: ENC1\nno firmware received\n", "", false},
      {{"log", "clear"}, 0, "log: 0 lines\n", "", false},
  };
  for (const Case& c : cases) {
    const std::string before = kivtest::readFile(state);
    kivtest::ChildResult r = sim(c.words);
    const std::string what = c.words.empty() ? "(none)" : c.words[0] + (c.words.size() > 1 ? " " + c.words[1] : "");
    EXPECT_EQ(r.status, c.status) << what;
    if (c.status == 2) {
      EXPECT_EQ(r.err.substr(0, c.err.size() + usage.size()), c.err + usage) << what;
    } else {
      EXPECT_EQ(r.err, c.err) << what;
    }
    EXPECT_EQ(c.out == usage ? r.out.substr(0, usage.size()) : r.out, c.out) << what;
    EXPECT_EQ(kivtest::readFile(state) != before, c.changes) << what;
  }
}

// Each breach of the library's contract is refused, logged, and leaves no
// answer behind.
TEST_F(Sim, ContractBreachesAreRefusedAndLogged) {
  struct Case {
    std::function<void()> body;
    const char* out;
    const char* log;
  };
  auto sendOnly = [](Request& r) {
    const int rc = r.send();
    std::printf("send=%d errno=%d size=%u", rc, errno, r.reply.requestSize);
  };
  const Case cases[] = {
      {[&] {
         Request r(loopMapRequest(1));
         sendOnly(r);
       },
       "send=-1 errno=22 size=0",
       "contract: niCISendSyncRequest without an open connection"},
      {[] {
         const int first = niCIOpen(), second = niCIOpen();
         std::printf("%d %d errno=%d", first, second, errno);
       },
       "0 -1 errno=16",
       "contract: niCIOpen while a connection is open"},
      {[] {
         const int rc = niCIClose();
         std::printf("%d errno=%d", rc, errno);
       },
       "-1 errno=9",
       "contract: niCIClose without an open connection"},
      {[&] {
         niCIOpen();
         Request r(loopMapRequest(1), 0, false);
         sendOnly(r);
       },
       "send=-1 errno=22 size=0",
       "contract: niCISendSyncRequest before the option calls 2 = 1, 0 = 1, 1 = extra size on its record"},
      {[&] {
         niCIOpen();
         Request r(loopMapRequest(1), 0, false);
         niCISetOptions(&r.options, 2, 1);
         niCISetOptions(&r.options, 1, 0);
         niCISetOptions(&r.options, 0, 1);
         sendOnly(r);
       },
       "send=-1 errno=22 size=0", "contract: niCISetOptions(1, 0) out of order"},
      {[&] {
         niCIOpen();
         Request r(loopMapRequest(1));
         r.reply.pReplyBuffer = nullptr;
         sendOnly(r);
       },
       "send=-1 errno=22 size=0", "contract: niCISendSyncRequest without a reply buffer"},
      {[] {
         niCIOpen();
         const int rc = niCISendSyncRequest(nullptr, 0, nullptr, nullptr, nullptr);
         std::printf("send=%d errno=%d", rc, errno);
       },
       "send=-1 errno=22", "contract: niCISendSyncRequest without a reply record"},
      {[] {
         niCIOpen();
         niCIReply reply{};
         std::printf("size=%u", niCIBGetRequestSize(&reply));
       },
       "size=0", "contract: niCIBGetRequestSize before any send on its reply record"},
      {[] {
         niCIOpen();
         niCIReply reply{};
         std::printf("answer=%p", niCIBGetRequest(&reply));
       },
       "answer=(nil)", "contract: niCIBGetRequest before any send on its reply record"},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(sim({"reset"}).status, 0);
    EXPECT_EQ(lib(c.body).out, c.out) << c.log;
    EXPECT_EQ(log(), std::string(c.log) + "\n");
  }
}

// A lock held elsewhere is waited for 10 s at most, on the clock the test
// pins: the open fails, and the log says why; the held lock is never
// entered.
TEST_F(Sim, LockWaitIsBounded) {
  ASSERT_EQ(sim({"reset"}).status, 0);
  Fd held(open((state + ".lock").c_str(), O_RDWR));
  ASSERT_EQ(flock(held.fd, LOCK_EX), 0);
  kivtest::ChildResult r = lib([] {
    static std::uint64_t now = 0;
    static int pauses = 0;
    nicisim::SimNowMicroseconds = [] { return now; };
    nicisim::SimSleepMicroseconds = [](std::uint64_t us) { now += us, ++pauses; };
    const int rc = niCIOpen();
    std::printf("open=%d errno=%d waited=%llus pauses>100=%d", rc, errno,
                static_cast<unsigned long long>(now / 1000000), pauses > 100);
  });
  EXPECT_EQ(r.out, "open=-1 errno=16 waited=10s pauses>100=1");
  EXPECT_EQ(kivtest::readFile(state + ".log").substr(std::to_string(r.pid).size()),
            " niCIOpen failed: state file locked by another process for 10 s\n");
}

// Nothing is held between requests: while one process has a connection
// open, kivadapsim answers and another process's requests go through.
TEST_F(Sim, ConnectionsHoldNoLock) {
  ASSERT_EQ(sim({"port", "1L", "mode=on"}).status, 0);
  int opened[2], done[2];
  ASSERT_EQ(pipe(opened), 0);
  ASSERT_EQ(pipe(done), 0);
  const pid_t holder = fork();
  ASSERT_GE(holder, 0);
  if (holder == 0) {
    char c = 0;
    const bool ok = niCIOpen() == 0 && write(opened[1], "o", 1) == 1 && read(done[0], &c, 1) == 1;
    _exit(ok && niCIClose() == 0 ? 0 : 1);
  }
  char c = 0;
  ASSERT_EQ(read(opened[0], &c, 1), 1);
  EXPECT_EQ(sim({"show"}).status, 0);
  EXPECT_EQ(lib([] { exchange(serviceModeRequest(1, 0)); }).out,
            "send=0 errno=0 size=192 status=0 ds=0 nr=0 ar=0 close=0\n");
  ASSERT_EQ(write(done[1], "d", 1), 1);
  int status = -1;
  waitpid(holder, &status, 0);
  EXPECT_EQ(status, 0);
  for (int fd : {opened[0], opened[1], done[0], done[1]}) close(fd);
}

// The log holds the newest requests: past its size bound it is cut back to
// the newest kMaxLogLines.
TEST_F(Sim, LogIsBounded) {
  ASSERT_EQ(sim({"reset"}).status, 0);
  std::string big;
  for (std::size_t i = 0; big.size() <= nicisim::kMaxLogBytes; ++i) big += "1 old line " + std::to_string(i) + "\n";
  kivtest::writeFile(state + ".log", big);
  lib([] { exchange(loopMapRequest(2)); });
  const std::string l = log();
  const auto lines = static_cast<std::size_t>(std::count(l.begin(), l.end(), '\n'));
  EXPECT_GE(lines, nicisim::kMaxLogLines);
  EXPECT_LE(lines, nicisim::kMaxLogLines + 1);
  EXPECT_TRUE(l.ends_with("\nFN_ADAP_GetFCLoopMap port=2 rc=0\n"));
}

TEST(StateText, RoundTrips) {
  nicisim::State s;
  s.ports[2].forcedSet = -34;
  s.faults[nicisim::kSend] = {nicisim::kAlways, 16, 3, false};
  nicisim::State t;
  std::string why;
  ASSERT_TRUE(nicisim::parse(nicisim::serialize(s), t, why)) << why;
  EXPECT_EQ(nicisim::serialize(t), nicisim::serialize(s));
  const std::string text = nicisim::serialize(s);
  EXPECT_FALSE(nicisim::parse(text + "log=x\n", t, why));
  EXPECT_EQ(why, "line " + std::to_string(std::count(text.begin(), text.end(), '\n') + 1) + ": unexpected");
}

}  // namespace
