// The exchange of one adapter request block, against the fake library.
#include <cstdlib>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "adapci/kivadapci.h"
#include "debug/kivdebug.h"
#include "kivtestsupport.h"
#include "nicifake.h"

namespace {

namespace ARB = AdapterRequestBlock;
using kiv::wire::get16be;
using kiv::wire::put16be;
using kiv::wire::put8;
using Block = std::vector<std::uint8_t>;

Block requestBlock(std::size_t size) {
  Block b(size, 0);
  put16be(b, ARB::kBlockKind, 1);
  kiv::wire::put32be(b, ARB::kBlockSize, static_cast<std::uint32_t>(size));
  return b;
}

auto answerWith(std::int16_t app, std::uint8_t network = 0, std::uint8_t directive = 0) {
  return [=](Block& a) {
    put16be(a, ARB::kApplicationResult, static_cast<std::uint16_t>(app));
    put8(a, ARB::kNetworkResult, network);
    put8(a, ARB::kDirectiveStatus, directive);
    put8(a, ARB::kData + 4, 0xAB);  // some answer data
  };
}

nicifake::Send sendOf(std::function<void(Block&)> answer, std::optional<std::uint32_t> size = std::nullopt,
                      int rc = 0, int err = 0) {
  nicifake::Send s;
  s.answer = std::move(answer);
  s.size = size;
  s.rc = rc;
  s.err = err;
  return s;
}

struct Case {
  const char* name;
  std::vector<int> openResults;
  std::vector<int> closeResults;
  nicifake::Send send;
  std::int32_t expectedCode;
  const char* expectedCalls;
  std::vector<std::string> expectedEvents;
};

// Test lists show the case's name, not its bytes.
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class ExchangeTest : public ::testing::TestWithParam<Case> {};

TEST_P(ExchangeTest, CodeCallsAndTrace) {
  const Case& c = GetParam();
  kivtest::TempDir tmp;
  const std::string dir = tmp.path();
  kivtest::ChildResult r = kivtest::runInChild([&] {
    KIV_DebugDir = dir.c_str();
    KIV_OpenTraceFile("adapcitest");
    nicifake::reset();
    for (int v : c.openResults) nicifake::state().openResults.push_back(v);
    for (int v : c.closeResults) nicifake::state().closeResults.push_back(v);
    nicifake::state().sends.push_back(c.send);
    Block b = requestBlock(192);
    std::int32_t code = SendAdapCIRequest(192, 0, b.data());
    std::printf("%d|%s|%d|%02x", code, nicifake::callNames().c_str(), nicifake::state().openConnections,
                b[ARB::kData + 4]);
    std::exit(0);
  });
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.substr(0, r.out.rfind('|')),
            std::to_string(c.expectedCode) + "|" + c.expectedCalls + "|0");
  EXPECT_EQ(kivtest::traceEvents(kivtest::readOnlyTrace(dir)), c.expectedEvents);
}

const char* kFullCalls = "open setopt setopt setopt send size request close";
std::vector<std::string> answered(int network, int app, const char* exit) {
  std::vector<std::string> e = {"kivadapci:requestSize: 192", "kivadapci:headersize =20",
                                "kivadapci:requestSize: 192",
                                "kivadapci:Network result    : " + std::to_string(network),
                                "kivadapci:Application result: " + std::to_string(app)};
  if (exit != nullptr) e.push_back(std::string("kivadapci:SendAdapCIRequest: exit (RC = ") + exit + ")");
  return e;
}

INSTANTIATE_TEST_SUITE_P(
    Codes, ExchangeTest,
    ::testing::Values(
        Case{"Clean", {}, {}, sendOf(answerWith(0)), 0, kFullCalls, answered(0, 0, "0")},
        Case{"OpenFails", {5}, {}, nicifake::Send{}, 10, "open", {"kivadapci:requestSize: 192"}},
        Case{"Warning", {}, {}, sendOf(answerWith(1)), 13, kFullCalls, answered(0, 1, "13")},
        Case{"LoopDown", {}, {}, sendOf(answerWith(-689)), 13, kFullCalls, answered(0, -689, "13")},
        Case{"NetworkResult", {}, {}, sendOf(answerWith(0, 7)), 13, kFullCalls, answered(7, 0, "13")},
        Case{"DirectiveBeforeResultWord", {}, {}, sendOf(answerWith(-8, 0, 253)), 12, kFullCalls,
             answered(0, -8, "12")},
        Case{"CloseFails", {}, {9}, sendOf(answerWith(0)), 14, kFullCalls, answered(0, 0, "14")},
        Case{"CloseFailsAfterDirective", {}, {9}, sendOf(answerWith(0, 0, 1)), 14, kFullCalls,
             answered(0, 0, "14")},
        Case{"SendFailsNoAnswer", {}, {9}, sendOf(nullptr, std::nullopt, -1, 5), 11, kFullCalls,
             {"kivadapci:requestSize: 192", "kivadapci:headersize =20", "kivadapci:requestSize: 0",
              "kivadapci:Network result    : 0", "kivadapci:Application result: 0"}},
        Case{"SendFailsWithAnswer", {}, {}, sendOf(answerWith(-3), 192, -1, 5), 11,
             kFullCalls, answered(0, -3, nullptr)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Exchange, OptionsAreSetInOrderAndTheReplyBufferIsSet) {
  kivtest::ChildResult r = kivtest::runInChild([] {
    nicifake::reset();
    Block b = requestBlock(3216);
    SendAdapCIRequest(3216, 0, b.data());
    const auto& calls = nicifake::state().calls;
    std::printf("%d=%u %d=%u %d=%u %d %u", calls[1].option, calls[1].value, calls[2].option, calls[2].value,
                calls[3].option, calls[3].value, nicifake::state().replyBuffers[0] != nullptr,
                nicifake::state().sentSizes[0]);
    std::exit(0);
  });
  EXPECT_EQ(r.out, "2=1 0=1 1=0 1 3216");
}

// Whatever size the library reports, no more than the block holds is
// copied into it (the sanitizer build turns an overrun into a failure).
TEST(Exchange, ReportedSizeBeyondTheBlockIsCutToTheBlock) {
  nicifake::reset();
  nicifake::state().sends.push_back(sendOf(answerWith(0), 100000));
  Block b = requestBlock(192);
  b.shrink_to_fit();
  EXPECT_EQ(SendAdapCIRequest(192, 0, b.data()), 0);
  EXPECT_EQ(b.size(), 192u);
  EXPECT_EQ(nicifake::state().openConnections, 0);
}

TEST(Exchange, AnswerOfSizeZeroLeavesTheBlockAsSent) {
  nicifake::reset();
  nicifake::state().sends.push_back(sendOf(answerWith(-689), 0));
  Block b = requestBlock(192);
  Block sent = b;
  // Nothing came back: the block is as sent, and no answer is claimed.
  EXPECT_EQ(SendAdapCIRequest(192, 0, b.data()), 15);
  EXPECT_EQ(b, sent);
}

TEST(Exchange, ShortAnswerIsCopiedOverTheStartOnly) {
  nicifake::reset();
  nicifake::state().sends.push_back(sendOf([](Block& a) { a[0] = 0x55; a[191] = 0x66; }, 1));
  Block b = requestBlock(192);
  EXPECT_EQ(SendAdapCIRequest(192, 0, b.data()), 15);
  EXPECT_EQ(b[0], 0x55);
  EXPECT_EQ(b[191], 0);
}

}  // namespace
