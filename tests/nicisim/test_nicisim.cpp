// The simulated adapter: request blocks decoded and answered byte by byte,
// the faults, the state file and kivadapsim's command line.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
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

// The two port requests as the utility builds them: the loop-map query
// (3216 bytes, transaction 82) and the service-mode change (192, 96).
Block portRequest(bool map, int port, int value) {
  Block b(map ? 3216 : 192, 0);
  put16be(b, 0, 1);
  put32be(b, 4, static_cast<std::uint32_t>(b.size()));
  put32be(b, 52, 7);
  put8(b, 56, 2);
  put16be(b, 58, map ? 82 : 96);
  putArea(b, 72, presentArea(0, 4));
  putArea(b, 96, noArea());
  putArea(b, 120, map ? presentArea(4, 3008) : noArea());
  putArea(b, 144, map ? presentArea(3012, 20) : noArea());
  put8(b, 184, static_cast<std::uint8_t>(port));
  put8(b, 185, static_cast<std::uint8_t>(value));
  return b;
}
Block loopMapRequest(int port) { return portRequest(true, port, 1); }
Block serviceModeRequest(int port, int value) { return portRequest(false, port, value); }

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

// Answers a block against a state, as the library does.
nicisim::Answer answerIn(nicisim::State& s, Block& b, std::uint64_t addressDelta = 0) {
  const auto address = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(b.data() + 184));
  if (get16be(b, 0) == 2 && b.size() >= 184) put64be(b, 176, address);
  return nicisim::answerBlock(s, b, address + addressDelta);
}

// The loop-map answer: the adapter's result, the service-mode word (its
// flag bit among others, little-endian) and the loop map.
TEST(Adapter, LoopMapAnswers) {
  struct Case {
    std::function<void(nicisim::Port&)> stage;
    int rc;
    std::uint32_t word;
    std::uint8_t loopEntries;
  };
  const Case cases[] = {
      {[](auto&) {}, 0, 0x00A1B2, 3},
      {[](auto& p) { p.serviceMode = true; }, 0, 0x00A1F2, 3},
      {[](auto& p) { p.serviceMode = true, p.forcedQuery = 1; }, 1, 0x00A1F2, 3},
      {[](auto& p) { p.serviceMode = true, p.loopUp = false; }, -689, 0, 0},
  };
  for (const Case& c : cases) {
    nicisim::State s;
    c.stage(s.ports[1]);
    Block a = loopMapRequest(2);
    EXPECT_EQ(answerIn(s, a).line, "FN_ADAP_GetFCLoopMap port=2 rc=" + std::to_string(c.rc));
    EXPECT_EQ(appResult(a), c.rc);
    EXPECT_EQ(get32le(a, 3204), c.word);
    EXPECT_EQ(get8(a, 188), c.loopEntries);
  }
}

TEST(Adapter, ServiceModeRules) {
  struct Case {
    const char* name;
    std::function<void(nicisim::State&)> stage;
    int port, value;
    int rc;
    bool modeAfter;
  };
  const Case cases[] = {
      {"set", [](auto&) {}, 1, 1, 0, true},
      {"set again warns", [](auto& s) { s.ports[0].serviceMode = true; }, 1, 1, 1, true},
      {"set with partner in", [](auto& s) { s.ports[3].serviceMode = true; }, 3, 1, -34, false},
      {"clear", [](auto& s) { s.ports[2].serviceMode = true; }, 3, 0, 0, false},
      {"clear when out", [](auto&) {}, 4, 0, -8, false},
      {"forced set error changes nothing", [](auto& s) { s.ports[0].forcedSet = -689; }, 1, 1, -689, false},
      {"forced set warning applies", [](auto& s) { s.ports[0].forcedSet = 1; }, 1, 1, 1, true},
      {"forced set never makes a pair", [](auto& s) { s.ports[0].forcedSet = 0, s.ports[1].serviceMode = true; }, 1, 1,
       0, false},
      {"forced clear 0 applies", [](auto& s) { s.ports[0].serviceMode = true, s.ports[0].forcedClear = 0; }, 1, 0, 0,
       false},
      {"forced clear error keeps it", [](auto& s) { s.ports[0].serviceMode = true, s.ports[0].forcedClear = -2; }, 1, 0,
       -2, true},
  };
  for (const Case& c : cases) {
    nicisim::State s;
    c.stage(s);
    Block a = serviceModeRequest(c.port, c.value);
    const std::string line = answerIn(s, a).line;
    EXPECT_EQ(appResult(a), c.rc) << c.name;
    EXPECT_EQ(s.ports[static_cast<std::size_t>(c.port - 1)].serviceMode, c.modeAfter) << c.name;
    EXPECT_EQ(line, "FN_ADAP_ServiceMode port=" + std::to_string(c.port) + " value=" + std::to_string(c.value) +
                        " rc=" + std::to_string(c.rc))
        << c.name;
  }
}

// Every byte of a block of either kind is checked: one that breaks its
// layout is answered with DE_BadParameter in its directive status and
// changes nothing.
TEST(Blocks, MalformedAnswerBadParameter) {
  struct Case {
    Block request;
    std::function<void(Block&)> spoil;
    const char* reason;
    std::uint64_t addressDelta = 0;
  };
  const Block map = loopMapRequest(1), ses = receive(8);
  const Case cases[] = {
      {map, [](Block& b) { put32be(b, 4, 3212); }, "blockSize 3212 differs from requestSize 3216"},
      {map, [](Block& b) { put16be(b, 0, 3); }, "unknown blockKind 3"},
      {map, [](Block& b) { put32be(b, 52, 6); }, "service 6 is not 7"},
      {map, [](Block& b) { put8(b, 56, 0); }, "byte at offset 56 is 0, not 2"},
      {map, [](Block& b) { put16be(b, 58, 96); }, "size 3216 for transaction 96, expected 192"},
      {map, [](Block& b) { putArea(b, 144, presentArea(3012, 16)); }, "descriptor 4 is (8,3012,16)"},
      {map, [](Block& b) { put8(b, 184, 5); }, "port 5 out of range"},
      {map, [](Block& b) { put8(b, 185, 0); }, "data byte 1 is 0"},
      {map, [](Block& b) { put8(b, 170, 1); }, "nonzero byte at offset 170"},
      {serviceModeRequest(1, 2), [](Block&) {}, "data byte 1 is 2"},
      {ses, [](Block&) {}, "dataAddress does not point at the data area", 8},
      {ses, [](Block& b) { put16be(b, 152, 60); }, "transaction 60 is not 59"},
      {ses, [](Block& b) { put16be(b, 154, 0); }, "bytes at offset 154 are not 2"},
      {ses, [](Block& b) { put16be(b, 190, 0); }, "data offset 6 is not 1"},
      {ses, [](Block& b) { put8(b, 196, 8); }, "size 244 for page length 8"},
      {ses, [](Block& b) { putArea(b, 80, presentArea(20, 4)); }, "descriptor 2 is (8,20,4)"},
      {ses, [](Block& b) { std::memset(b.data() + 10, 'A', 38); }, "serial number not terminated within its field"},
      {ses, [](Block& b) { put8(b, 40, 1); }, "nonzero byte at offset 40"},    // after the serial's NUL
      {ses, [](Block& b) { put8(b, 48, 1); }, "nonzero byte at offset 48"},    // directive status
      {ses, [](Block& b) { put8(b, 52, 1); }, "nonzero byte at offset 52"},    // result word
      {ses, [](Block& b) { put8(b, 205, 1); }, "nonzero byte at offset 205"},  // a receive's data-in area
      {ses, [](Block& b) { put8(b, 243, 1); }, "nonzero byte at offset 243"},  // trailing area
  };
  for (const Case& c : cases) {
    nicisim::State s;
    s.enclosures.push_back(enclosure("ENC1"));
    const std::string before = nicisim::serialize(s);
    Block b = c.request;
    const std::size_t statusAt = get16be(b, 0) == 2 ? 48 : 60;
    c.spoil(b);
    const nicisim::Answer a = answerIn(s, b, c.addressDelta);
    EXPECT_EQ(a.err, 0);
    EXPECT_EQ(get8(b, statusAt), 244) << c.reason;
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
// clear answers AS_Warning, carried out or not: carried out, the port
// leaves service mode and the answer says 1; not carried out, the port
// keeps it and the answer is the request as it was sent. Either way the
// fault's field is set, and nothing is written past the block.
TEST(Faults, EachKindCarriedOutOrNot) {
  struct Case {
    nicisim::FaultKind kind;
    std::int32_t value;
    int err;
    std::uint32_t size;
    std::int32_t status;
    std::size_t field;  // the byte the fault sets, 0 for none
  };
  const Case cases[] = {
      {nicisim::kFaultKinds, 0, 0, 192, 0, 0},  // no fault
      {nicisim::kSendAnswered, 4, 4, 192, 0, 0},
      {nicisim::kDirective, 9, 0, 192, 0, 60},
      {nicisim::kNetwork, 7, 0, 192, 0, 169},
      {nicisim::kResultByte, 5, 0, 192, 0, 168},
      {nicisim::kReplyStatus, 3, 0, 192, 3, 0},
      {nicisim::kShort, 100, 0, 100, 0, 0},
      {nicisim::kNoAnswer, 0, 0, 0, 0, 0},
      {nicisim::kSend, 16, 16, 0, 0, 0},  // never reaches the adapter
  };
  for (const Case& c : cases) {
    for (bool executed : {false, true}) {
      const bool none = c.kind == nicisim::kFaultKinds, send = c.kind == nicisim::kSend;
      if ((none || send) && executed == send) continue;
      const std::string name = none ? "" : std::string(nicisim::kFaultKindInfo[c.kind].name);
      nicisim::State s;
      s.ports[0].serviceMode = true;
      s.ports[0].forcedClear = 1;
      if (!none) s.faults[c.kind] = {1, c.value, 0, executed};
      const Block request = serviceModeRequest(1, 0);
      Block reply(request.size() + 8, 0xEE);  // room for extra size 8, never used
      const nicisim::Sent sent = nicisim::sendRequest(s, request, reply, 0);
      EXPECT_EQ(sent.err, c.err) << name;
      EXPECT_EQ(sent.answerSize, c.size) << name;
      EXPECT_EQ(sent.replyStatus, c.status) << name;
      EXPECT_EQ(c.field != 0 ? get8(reply, c.field) : c.value, c.value) << name;
      EXPECT_EQ(appResult(reply), executed ? 1 : 0) << name;
      EXPECT_EQ(get8(reply, 192), 0xEE) << name;
      EXPECT_EQ(s.ports[0].serviceMode, !executed) << name;
      EXPECT_EQ(sent.line, std::string("FN_ADAP_ServiceMode port=1 value=0 ") + (executed ? "rc=1" : "executed=no") +
                               (none ? "" : " fault=" + name));
      EXPECT_EQ(s.faults[none ? 0 : c.kind].count, 0) << name;
    }
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
  explicit Request(Block b, bool setOptions = true) : block(std::move(b)), buffer(block.size(), 0) {
    if (setOptions) niCISetOptions(&options, 2, 1), niCISetOptions(&options, 0, 1), niCISetOptions(&options, 1, 0);
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
  const int rc = r.send(), err = rc != 0 ? errno : 0;
  const unsigned size = niCIBGetRequestSize(&r.reply);
  const bool inBuffer = niCIBGetRequest(&r.reply) == r.buffer.data();
  std::printf("send=%d errno=%d size=%u status=%d answer=%d", rc, err, size, niCIBGetRequestStatus(&r.reply), inBuffer);
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
    std::string out, log;
  };
  const std::string clear = "FN_ADAP_ServiceMode port=1 value=0 ";
  const Case cases[] = {
      {{"open"}, "open failed\n", "niCIOpen fault=open\n"},
      {{"send", "errno=16"}, "send=-1 errno=16 size=0 status=0 answer=1 close=0\n", clear + "executed=no fault=send\n"},
      {{"send-answered", "errno=4"}, "send=-1 errno=4 size=192 status=0 answer=1 close=0\n",
       clear + "executed=no fault=send-answered\n"},
      {{"close"}, "send=0 errno=0 size=192 status=0 answer=1 close=-1\n", clear + "rc=0\nniCIClose fault=close\n"},
      {{"replystatus", "value=3"}, "send=0 errno=0 size=192 status=3 answer=1 close=0\n", clear + "rc=0 fault=replystatus\n"},
      {{"short", "value=100"}, "send=0 errno=0 size=100 status=0 answer=1 close=0\n", clear + "rc=0 fault=short\n"},
      {{"noanswer"}, "send=0 errno=0 size=0 status=0 answer=1 close=0\n", clear + "rc=0 fault=noanswer\n"},
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
      {{"fault", "melt"}, 2, "", "kivadapsim: unknown fault 'melt'\n", false},
      {{"fault", "send", "count=x"}, 2, "", "kivadapsim: bad count 'x'\n", false},
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

// Each breach of the library's contract is refused (the call fails with
// its errno), logged, and leaves no answer behind.
TEST_F(Sim, ContractBreachesAreRefusedAndLogged) {
  struct Case {
    bool open, options;  // a connection opened, the option calls made
    std::function<long(Request&)> call;
    int err;
    const char* log;
  };
  auto send = [](Request& r) -> long { return r.send(); };
  niCIReply fresh{};
  const Case cases[] = {
      {false, true, send, EINVAL, "niCISendSyncRequest without an open connection"},
      {true, true, [](Request&) -> long { return niCIOpen(); }, EBUSY, "niCIOpen while a connection is open"},
      {false, true, [](Request&) -> long { return niCIClose(); }, EBADF, "niCIClose without an open connection"},
      {true, false, send, EINVAL,
       "niCISendSyncRequest before the option calls 2 = 1, 0 = 1, 1 = extra size on its record"},
      {true, false,
       [](Request& r) -> long {
         niCISetOptions(&r.options, 2, 1), niCISetOptions(&r.options, 1, 0), niCISetOptions(&r.options, 0, 1);
         return r.send();
       },
       EINVAL, "niCISetOptions(1, 0) out of order"},
      {true, true, [](Request& r) -> long { return r.reply.pReplyBuffer = nullptr, r.send(); }, EINVAL,
       "niCISendSyncRequest without a reply buffer"},
      {true, true, [](Request&) -> long { return niCISendSyncRequest(nullptr, 0, nullptr, nullptr, nullptr); }, EINVAL,
       "niCISendSyncRequest without a reply record"},
      {true, true, [&](Request&) -> long { return niCIBGetRequestSize(&fresh) != 0 ? 1 : -1; }, EINVAL,
       "niCIBGetRequestSize before any send on its reply record"},
      {true, true, [&](Request&) -> long { return niCIBGetRequest(&fresh) != nullptr ? 1 : -1; }, EINVAL,
       "niCIBGetRequest before any send on its reply record"},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(sim({"reset"}).status, 0);
    kivtest::ChildResult r = lib([&] {
      if (c.open) niCIOpen();
      Request request(loopMapRequest(1), c.options);
      const long result = c.call(request);
      std::printf("%ld %d %u", result, errno, request.reply.requestSize);
    });
    EXPECT_EQ(r.out, "-1 " + std::to_string(c.err) + " 0") << c.log;
    EXPECT_EQ(log(), std::string("contract: ") + c.log + "\n");
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

// Nothing is held between requests: kivadapsim changes the state while
// a program has a connection open (the concurrency test shows two programs
// interleaving).
TEST_F(Sim, ConnectionsHoldNoLock) {
  kivtest::ChildResult r = lib([this] {
    if (niCIOpen() != 0) return;
    std::printf("%d", sim({"port", "1L", "mode=on"}).status);
    niCIClose();
  });
  EXPECT_EQ(r.out, "0");
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

}  // namespace
