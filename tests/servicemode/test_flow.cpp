// The decision flow: which requests go to the adapter for each state of the
// port and its partner, what the operator is told, and the exit status.
#include <gtest/gtest.h>

#include <ostream>

#include "adapci/kivadapci.h"
#include "debug/kivdebug.h"
#include "nicifake.h"
#include "servicemode/kivservicemode.h"
#include "smtest.h"

namespace {

using smtest::Answer;

const Answer kIn{0, true};
const Answer kOut{0, false};
const Answer kWarnIn{1, true};
const Answer kLoopDown{-689, false};
const Answer kOk{0, false};
const Answer kIllegal{-8, false};
const Answer kInServiceMode{-34, false};

struct FlowCase {
  const char* name;
  std::vector<std::string> args;
  std::vector<Answer> answers;  // in the order the requests are made
  std::string requests;
  std::string err;
  int status;
  int usingIntelligentTracing;
};

// Test lists show the case's name, not its bytes.
void PrintTo(const FlowCase& c, std::ostream* os) { *os << c.name; }

class FlowTest : public ::testing::TestWithParam<FlowCase> {};

TEST_P(FlowTest, RequestsMessageAndStatus) {
  const FlowCase& c = GetParam();
  smtest::Run run = smtest::runUtility(c.args, c.answers);
  EXPECT_EQ(run.requests, c.requests);
  EXPECT_EQ(run.child.err, c.err);
  EXPECT_EQ(run.child.status, c.status);
  EXPECT_EQ(run.usingIntelligentTracing, c.usingIntelligentTracing);
  if (c.usingIntelligentTracing == 1) {
    EXPECT_EQ(run.finalReturnCode, 0);
  }
}

const std::vector<std::string> kQuery1{"-a", "A0", "-p", "1L", "-q"};
const std::vector<std::string> kEnable1{"-a", "A0", "-p", "1L", "-y"};
const std::vector<std::string> kDisable1{"-a", "A0", "-p", "1L", "-n"};

INSTANTIATE_TEST_SUITE_P(
    States, FlowTest,
    ::testing::Values(
        FlowCase{"QueryInServiceMode", kQuery1, {kIn, kOut}, "Q1 Q2", "Port 1 is in Service Mode\n", 1, 0},
        FlowCase{"QueryWarningCountsAsSuccess", kQuery1, {kWarnIn, kOut}, "Q1 Q2", "Port 1 is in Service Mode\n", 1, 0},
        FlowCase{"QueryBothOut", kQuery1, {kOut, kOut}, "Q1 Q2", "Port 1 is not in Service Mode\n", 0, 1},
        FlowCase{"QueryPartnerIn", kQuery1, {kOut, kIn}, "Q1 Q2", "Port 1 is not in Service Mode\n", 0, 0},
        FlowCase{"QueryPartnerQueryFails", kQuery1, {kOut, kLoopDown}, "Q1 Q2",
                 "Port 1 is not in Service Mode\n", 0, 1},
        FlowCase{"QueryOtherPortTest", kQuery1, {kLoopDown, kIn}, "Q1 Q2",
                 "Query Service Mode failed, rc=FFFFFD4F\n", 47, 0},
        FlowCase{"QueryClearTestSucceeds", kQuery1, {kLoopDown, kOut, kOk, kOk}, "Q1 Q2 C1 S1",
                 "Port 1 is in Service Mode\n", 1, 0},
        FlowCase{"QueryClearTestIllegal", kQuery1, {kLoopDown, kLoopDown, kIllegal}, "Q1 Q2 C1",
                 "Port 1 is not in Service Mode\n", 0, 1},
        FlowCase{"QueryClearTestOtherFailureKeepsQueryResult", kQuery1, {kLoopDown, kOut, Answer{-2}}, "Q1 Q2 C1",
                 "Query Service Mode failed, rc=FFFFFD4F\n", 47, 0},
        // A clear test whose re-set fails has left the port out of service
        // mode: the port counts as unread, with the re-set's result.
        FlowCase{"QueryClearTestResetFails", kQuery1, {kLoopDown, kOut, kOk, Answer{0, false, 253}}, "Q1 Q2 C1 S1",
                 "Query Service Mode failed, rc=FFFFFFFD\n", 47, 0},
        FlowCase{"EnableClearTestResetFailsSetsAsUnread", kEnable1, {kLoopDown, kLoopDown, kOk, Answer{-2}, kIllegal, kOk},
                 "Q1 Q2 C1 S1 C2 S1", "Service Mode 1 to port 1 success\n", 0, 0},
        FlowCase{"DisableClearTestResetFailsClearsAgain", kDisable1, {kLoopDown, kOut, kOk, Answer{-2}, kOk},
                 "Q1 Q2 C1 S1 C1", "Service Mode 0 to port 1 success\n", 0, 0},
        FlowCase{"EnableNoWork", kEnable1, {kIn, kOut}, "Q1 Q2", "Service Mode 1 to port 1 success\n", 0, 0},
        FlowCase{"EnableSetsOwn", kEnable1, {kOut, kOut, kOk}, "Q1 Q2 S1", "Service Mode 1 to port 1 success\n", 0, 0},
        FlowCase{"EnableClearsPartnerFirst", {"-a", "A0", "-p", "2L", "-y"}, {kOut, kIn, kOk, kOk}, "Q3 Q4 C4 S3",
                 "Service Mode 1 to port 3 success\n", 0, 0},
        FlowCase{"EnableClearsUnreadPartner", kEnable1, {kOut, kLoopDown, kIllegal, kOk}, "Q1 Q2 C2 S1",
                 "Service Mode 1 to port 1 success\n", 0, 0},
        FlowCase{"EnableRefused", kEnable1, {kOut, kOut, kInServiceMode}, "Q1 Q2 S1",
                 "Service Mode 1 to port 1 failed, rc=FFFFFFDE\n", 47, 0},
        FlowCase{"EnableUnreadOwnClearTestFails", kEnable1, {kLoopDown, kOut, kLoopDown, kLoopDown}, "Q1 Q2 C1 S1",
                 "Service Mode 1 to port 1 failed, rc=FFFFFD4F\n", 47, 0},
        FlowCase{"DisableNoWork", kDisable1, {kOut, kIn}, "Q1 Q2", "Service Mode 0 to port 1 success\n", 0, 0},
        FlowCase{"DisableClearsOwn", kDisable1, {kIn, kOut, kOk}, "Q1 Q2 C1", "Service Mode 0 to port 1 success\n", 0, 0},
        FlowCase{"DisableRefused", kDisable1, {kIn, kOut, kIllegal}, "Q1 Q2 C1",
                 "Service Mode 0 to port 1 failed, rc=FFFFFFF8\n", 47, 0},
        FlowCase{"DisableUnreadOwnClearsAgain", kDisable1, {kLoopDown, kOut, kOk, kOk, kOk}, "Q1 Q2 C1 S1 C1",
                 "Service Mode 0 to port 1 success\n", 0, 0},
        // A directive failure must not read as a clean "not in service mode".
        FlowCase{"QueryDirectiveFailureIsAFailure", kQuery1, {Answer{0, false, 253}, kIn}, "Q1 Q2",
                 "Query Service Mode failed, rc=FFFFFFFD\n", 47, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Flow, LibraryThatCannotOpenReportsAFailureNotAnAnswer) {
  smtest::Run run = smtest::runUtility({"-a", "A0", "-p", "1R", "-q"}, {}, {10, 10, 10, 10});
  EXPECT_EQ(run.child.err, "Query Service Mode failed, rc=FFFFFFFD\n");
  EXPECT_EQ(run.child.status, 47);
  EXPECT_EQ(run.requests, "");
  EXPECT_EQ(run.usingIntelligentTracing, 0);
  EXPECT_NE(run.trace.find("isServiceMode: exchange failed, SendAdapCIRequest rc: 10, rc: FFFFFFFD"),
            std::string::npos);
}

TEST(Flow, TraceOfAClearTest) {
  smtest::Run run = smtest::runUtility({"-a", "A0", "-p", "1L", "-q"}, {kLoopDown, kOut, kOk, kWarnIn});
  std::vector<std::string> mine;
  for (const auto& e : kivtest::traceEvents(run.trace)) {
    if (e.starts_with("kivservicemode:") && !e.starts_with("kivservicemode:ParseParams")) mine.push_back(e.substr(15));
  }
  EXPECT_EQ(mine, (std::vector<std::string>{
                      "isServiceMode: Entry, port=1.",
                      "isServiceMode: SendAdapCIRequest rc: 13",
                      "isServiceMode: AE_LoopDown",
                      "isServiceMode: exit port(1) *pSM(0) rc: FFFFFD4F",
                      "isServiceMode: Entry, port=2.",
                      "isServiceMode: SendAdapCIRequest rc: 0",
                      "isServiceMode: exit port(2) *pSM(0) rc: 0",
                      "SetServiceMode: Entry, port=1 bServiceMode=0.",
                      "SetServiceMode: SendAdapCIRequest, rc: 0",
                      "SetServiceMode: exiting function rc: 0",
                      "SetServiceMode: Entry, port=1 bServiceMode=1.",
                      "SetServiceMode: SendAdapCIRequest, rc: 13",
                      "SetServiceMode: AS_Warning",
                      "SetServiceMode: exiting function rc: 0",
                      "main: clear test, port 1 is in servicemode",
                      "main: Port 1 is in Service Mode",
                  }));
}

// Every byte of both request blocks that is not zero, as offset=value.
std::string nonZeroBytes(const std::vector<std::uint8_t>& b) {
  std::string out;
  for (std::size_t i = 0; i < b.size(); ++i) {
    if (b[i] != 0) out += std::to_string(i) + "=" + std::to_string(b[i]) + " ";
  }
  return out + "size=" + std::to_string(b.size());
}

TEST(Flow, RequestBlocksCarryExactlyTheirFields) {
  kivtest::ChildResult r = kivtest::runInChild([] {
    nicifake::reset();
    std::int32_t flag = 7;
    isServiceMode(3, &flag);
    SetServiceMode(4, 1);
    SetServiceMode(2, 0);
    for (const auto& b : nicifake::state().sentBlocks) std::printf("%s\n", nonZeroBytes(b).c_str());
    std::exit(0);
  });
  // Header: kind 1, size, service 7, fixed 2, transaction; descriptors at 72,
  // 96, 120, 144 (kind at +0, offset at +16..19, length at +20..23).
  EXPECT_EQ(r.out,
            "1=1 6=12 7=144 55=7 56=2 59=82 72=8 95=4 96=1 120=8 139=4 142=11 143=192 144=8 162=11 163=196 167=20 "
            "184=3 185=1 size=3216\n"
            "1=1 7=192 55=7 56=2 59=96 72=8 95=4 96=1 120=1 144=1 184=4 185=1 size=192\n"
            "1=1 7=192 55=7 56=2 59=96 72=8 95=4 96=1 120=1 144=1 184=2 size=192\n");
}

TEST(Flow, FlagIsBit0x40OfTheByteAt3204Only) {
  kivtest::ChildResult r = kivtest::runInChild([] {
    std::string out;
    for (std::uint32_t word : {0x40u, 0xFFFFFFBFu, 0x4000u, 0x40000000u}) {
      nicifake::reset();
      nicifake::Send s;
      s.answer = [word](std::vector<std::uint8_t>& b) { kiv::wire::put32le(b, 3204, word); };
      nicifake::state().sends.push_back(s);
      std::int32_t flag = -1;
      std::int32_t rc = isServiceMode(1, &flag);
      out += std::to_string(rc) + ":" + std::to_string(flag) + " ";
    }
    std::fputs(out.c_str(), stdout);
    std::exit(0);
  });
  EXPECT_EQ(r.out, "0:1 0:0 0:0 0:0 ");
}

}  // namespace
