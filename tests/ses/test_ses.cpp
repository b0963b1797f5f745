// Enclosure page access against the fake library: the request blocks byte
// for byte, the judging of answers, the retry schedule and its waits, the
// connection kept across operations, firmware download and the refusals.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <initializer_list>
#include <regex>
#include <string>
#include <vector>

#include "kivtestsupport.h"
#include "nicifake.h"
#include "ses/kivses.h"
#include "sestest.h"

namespace {

using Block = std::vector<std::uint8_t>;
using Events = std::vector<std::string>;

void set(Block& b, std::size_t at, std::initializer_list<std::uint8_t> bytes) {
  for (std::uint8_t v : bytes) b.at(at++) = v;
}

// A 24-byte area descriptor: kind, 15 zero bytes, offset and length.
void area(Block& b, std::size_t at, std::uint8_t kind, std::uint32_t offset, std::uint32_t length) {
  b.at(at) = kind;
  for (int i = 0; i < 4; ++i) {
    b.at(at + 16 + i) = static_cast<std::uint8_t>(offset >> (24 - 8 * i));
    b.at(at + 20 + i) = static_cast<std::uint8_t>(length >> (24 - 8 * i));
  }
}

// The fixed header of a request block of the given size for "ENC1".
Block header(std::size_t size) {
  Block b(size, 0);
  set(b, 0, {0x00, 0x02});
  set(b, 4, {0x00, 0x00, static_cast<std::uint8_t>(size >> 8), static_cast<std::uint8_t>(size)});
  set(b, 10, {'E', 'N', 'C', '1', 0});
  set(b, 152, {0x00, 59, 0x00, 0x02});
  set(b, 190, {0x00, 0x01});
  return b;
}

// The data address is the only field that depends on where the block lay.
void takeAddress(Block& expected, const Block& sent) {
  for (std::size_t i = 176; i < 184; ++i) expected[i] = sent[i];
}

nicifake::Send answering(std::function<void(Block&)> f) {
  nicifake::Send s;
  s.answer = std::move(f);
  return s;
}
nicifake::Send status(std::uint8_t value) {
  return answering([=](Block& a) { a.at(205) = value; });
}
nicifake::Send failedSend(int err) {
  nicifake::Send s;
  s.rc = -1;
  s.err = err;
  return s;
}
void queue(std::initializer_list<nicifake::Send> sends) {
  for (const nicifake::Send& s : sends) nicifake::state().sends.push_back(s);
}

const std::uint8_t kPage9[9] = {0x04, 0x00, 0x00, 0x05, 0x3C, 0x00, 0x00, 0x00, 0x45};

TEST(SesBlocks, SendOfNineBytesAndReceiveOfPageEight) {
  sestest::Run r = sestest::run([] {
    nicifake::reset();
    std::printf("%d %d\n", SES_WritePage("ENC1", 9, kPage9), 0);
    const auto& blocks = nicifake::state().sentBlocks;
    for (const Block& b : blocks) {
      for (std::uint8_t v : b) std::printf("%02x", v);
      std::printf("\n");
    }
  });
  ASSERT_EQ(r.status, 0);
  std::vector<Block> sent;
  std::size_t at = r.out.find('\n') + 1;
  while (at < r.out.size()) {
    std::size_t end = r.out.find('\n', at);
    Block b;
    for (std::size_t i = at; i + 1 < end; i += 2) b.push_back(static_cast<std::uint8_t>(std::stoi(r.out.substr(i, 2), nullptr, 16)));
    sent.push_back(b);
    at = end + 1;
  }
  EXPECT_EQ(r.out.substr(0, 4), "0 0\n");
  ASSERT_EQ(sent.size(), 2u);

  Block send = header(252);
  area(send, 56, 8, 0, 20);
  area(send, 80, 8, 20, 9);
  area(send, 104, 1, 0, 0);
  area(send, 128, 8, 29, 36);
  set(send, 192, {0x1D, 0x10, 0x00, 0x00, 0x09, 0x00});
  set(send, 204, {0x04, 0x00, 0x00, 0x05, 0x3C, 0x00, 0x00, 0x00, 0x45});
  takeAddress(send, sent[0]);
  EXPECT_EQ(sent[0], send);

  Block receive = header(244);
  area(receive, 56, 8, 0, 20);
  area(receive, 80, 1, 0, 0);
  area(receive, 104, 8, 20, 4);
  area(receive, 128, 8, 24, 36);
  set(receive, 192, {0x1C, 0x01, 0x08, 0x00, 0x04, 0x00});
  takeAddress(receive, sent[1]);
  EXPECT_EQ(sent[1], receive);
  // Each block names its own data area, eight bytes wide.
  EXPECT_NE(Block(sent[0].begin() + 176, sent[0].begin() + 184), Block(8, 0));
}

TEST(SesBlocks, SizesFollowThePageLength) {
  sestest::Run r = sestest::run([] {
    nicifake::reset();
    std::uint8_t page[5] = {};
    for (std::uint32_t L = 0; L <= 5; ++L) SES_ReadPage("ENC1", 2, L, page);
    for (std::uint32_t s : nicifake::state().sentSizes) std::printf("%u ", s);
  });
  // Each read is the page, then the four-byte status page (244 bytes).
  EXPECT_EQ(r.out, "240 244 244 244 244 244 244 244 244 244 248 244 ");
}

struct AnswerCase {
  const char* name;
  nicifake::Send send;
  std::int32_t rc;
  Events events;
};
void PrintTo(const AnswerCase& c, std::ostream* os) { *os << c.name; }

class SesAnswers : public ::testing::TestWithParam<AnswerCase> {};

// One receive with no retries: the code, the trace, and a buffer that only
// a good answer may change.
TEST_P(SesAnswers, ReadJudgesTheAnswer) {
  const AnswerCase& c = GetParam();
  sestest::Run r = sestest::run([&] {
    nicifake::reset();
    queue({c.send, status(0)});
    SESRetryOne.limit = 0;
    std::uint8_t buffer[4] = {0xAA, 0xAA, 0xAA, 0xAA};
    std::int32_t rc = SES_ReadPage("ENC1", 2, 4, buffer);
    std::printf("%d %02x%02x%02x%02x", rc, buffer[0], buffer[1], buffer[2], buffer[3]);
  });
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.out, std::to_string(c.rc) + (c.rc == 0 ? " 01020304" : " aaaaaaaa"));
  Events expected{"kivses:SES_ReadPage: Trying 0 0"};
  expected.insert(expected.end(), c.events.begin(), c.events.end());
  if (c.rc != 0) expected.push_back("kivses:SES_ReadPage: Exit, rc = " + std::to_string(c.rc));
  EXPECT_EQ(r.events, expected);
}

auto page = [](Block& a) { set(a, 204, {1, 2, 3, 4}); };

INSTANTIATE_TEST_SUITE_P(
    Table, SesAnswers,
    ::testing::Values(
        AnswerCase{"Good", answering(page), 0, {}},
        AnswerCase{"Busy", failedSend(EBUSY), 4107,
                   {"kivses:SES_SendCIRequest: CI ERROR conRC = -1", "kivses:SES_SendCIRequest: Exit, rc = 4107",
                    "kivses:SES_RecvDiagnosticResult: Exit rc = 4107"}},
        AnswerCase{"SendFails", failedSend(EIO), 4101,
                   {"kivses:SES_SendCIRequest: CI ERROR conRC = -1", "kivses:SES_SendCIRequest: Exit, rc = 4101",
                    "kivses:SES_RecvDiagnosticResult: Exit rc = 4101"}},
        AnswerCase{"ReplyStatus",
                   [] {
                     nicifake::Send s = answering(page);
                     s.replyStatus = 7;
                     return s;
                   }(),
                   4101,
                   {"kivses:SES_SendCIRequest: CI ERROR responseStatus = 7",
                    "kivses:SES_RecvDiagnosticResult: Exit rc = 4101"}},
        AnswerCase{"DirectiveHidesResults",
                   answering([](Block& a) { set(a, 48, {0xFD, 0, 0, 0, 0, 9, 0xFF, 0xF8}); }), 4101,
                   {"kivses:Directive failed : -3", "kivses:SES_SendCIRequest: Exit, rc = 4101",
                    "kivses:SES_RecvDiagnosticResult: Exit rc = 4101"}},
        AnswerCase{"ResultWord", answering([](Block& a) { set(a, 53, {200, 0xFD, 0x4F}); }), 4101,
                   {"kivses:Network result    : 200", "kivses:Application result: -689",
                    "kivses:SES_SendCIRequest: Exit, rc = 4101", "kivses:SES_RecvDiagnosticResult: Exit rc = 4101"}},
        AnswerCase{"FirstResultByteAlone", answering([](Block& a) { set(a, 52, {1}); }), 4101,
                   {"kivses:Network result    : 0", "kivses:Application result: 0",
                    "kivses:SES_SendCIRequest: Exit, rc = 4101", "kivses:SES_RecvDiagnosticResult: Exit rc = 4101"}},
        AnswerCase{"OversizedAnswerIsCut",
                   [] {
                     nicifake::Send s = answering(page);
                     s.size = 100000;
                     return s;
                   }(),
                   0, {"kivses:SES_SendCIRequest: answer of 100000 bytes cut to 244"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SesRetry, WriteRetriesOnTheScheduleUntilTheLimit) {
  sestest::Run r = sestest::run([] {
    nicifake::reset();
    for (int i = 0; i < 20; ++i) queue({nicifake::Send{}, status(3)});
    std::int32_t rc = SES_WritePage("ENC1", 9, kPage9);
    std::printf("%d|%s|%s", rc, sestest::waitList().c_str(), nicifake::callNames().c_str());
  });
  ASSERT_EQ(r.status, 0);
  // Waits of 0, 1, 3, 6, 10, 15, 21, 28 and 36 steps of 25000 microseconds.
  EXPECT_EQ(r.out.substr(0, r.out.rfind('|')),
            "86|u0 u25000 u75000 u150000 u250000 u375000 u525000 u700000 u900000");
  Events expected;
  const std::pair<unsigned, unsigned> trying[] = {{0, 0},        {25000, 0},      {50000, 25000},
                                                  {75000, 100000}, {100000, 250000}, {125000, 500000},
                                                  {150000, 875000}, {175000, 1400000}, {200000, 2100000}};
  for (auto [steps, waited] : trying) {
    expected.push_back("kivses:SES_WritePage: Trying " + std::to_string(steps) + " " + std::to_string(waited));
    expected.push_back("kivses:SES_WritePage: ShortEnc Status = 3!!!!");
  }
  expected.push_back("kivses:SES_WritePage: Exit, rc = 86");
  EXPECT_EQ(r.events, expected);
  // One open for all nine attempts, and the connection stays open.
  EXPECT_EQ(r.out.substr(r.out.rfind('|') + 1).find("open"), 0u);
  EXPECT_EQ(r.out.find("close"), std::string::npos);
}

TEST(SesRetry, SuccessAtOnceAndOneAttemptSchedules) {
  struct Case {
    SESRetrySchedule schedule;
    std::vector<nicifake::Send> sends;
    const char* out;
    Events events;
  };
  const Case cases[] = {
      {{25000, 3000000}, {nicifake::Send{}, status(0)}, "0|u0", {"kivses:SES_WritePage: Trying 0 0"}},
      {{25000, 0}, {failedSend(EBUSY)}, "4107|u0",
       {"kivses:SES_WritePage: Trying 0 0", "kivses:SES_SendCIRequest: CI ERROR conRC = -1",
        "kivses:SES_SendCIRequest: Exit, rc = 4107", "kivses:SES_SendDiagnosticCommand: Exit, rc = 4107",
        "kivses:SES_WritePage: Exit, rc = 4107"}},
      // A step of 0 could never reach the limit: one attempt, not a hang.
      {{0, 3000000}, {nicifake::Send{}, status(1)}, "86|u0",
       {"kivses:SES_WritePage: Trying 0 0", "kivses:SES_WritePage: ShortEnc Status = 1!!!!",
        "kivses:SES_WritePage: Exit, rc = 86"}},
      // Counters that wrapped round would start the wait afresh; capped, the
      // time waited reaches the limit at the third attempt.
      {{2147483649u, 4294967295u},
       {nicifake::Send{}, status(1), nicifake::Send{}, status(1), nicifake::Send{}, status(1)},
       "86|u0 u2147483649 u4294967295",
       {"kivses:SES_WritePage: Trying 0 0", "kivses:SES_WritePage: ShortEnc Status = 1!!!!",
        "kivses:SES_WritePage: Trying 2147483649 0", "kivses:SES_WritePage: ShortEnc Status = 1!!!!",
        "kivses:SES_WritePage: Trying 4294967295 2147483649", "kivses:SES_WritePage: ShortEnc Status = 1!!!!",
        "kivses:SES_WritePage: Exit, rc = 86"}},
  };
  for (const Case& c : cases) {
    sestest::Run r = sestest::run([&] {
      nicifake::reset();
      SESRetryOne = c.schedule;
      for (const nicifake::Send& send : c.sends) nicifake::state().sends.push_back(send);
      std::int32_t rc = SES_WritePage("ENC1", 9, kPage9);
      std::printf("%d|%s", rc, sestest::waitList().c_str());
    });
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.events, c.events);
  }
}

TEST(SesRetry, ReadIgnoresTheStatusAndRetriesFailures) {
  sestest::Run r = sestest::run([] {
    nicifake::reset();
    queue({failedSend(EIO), answering(page), status(5)});
    std::uint8_t buffer[4] = {};
    std::int32_t rc = SES_ReadPage("ENC1", 2, 4, buffer);
    std::printf("%d|%s", rc, sestest::waitList().c_str());
  });
  EXPECT_EQ(r.out, "0|u0 u25000");
  EXPECT_EQ(r.events.front(), "kivses:SES_ReadPage: Trying 0 0");
  EXPECT_EQ(r.events.back(), "kivses:SES_ReadPage: Trying 25000 0");
}

TEST(SesConnection, OpenOnDemandKeptAndReopenedAfterClose) {
  sestest::Run r = sestest::run([] {
    nicifake::reset();
    nicifake::state().openResults = {-1, 0, 0};
    std::uint8_t buffer[4] = {};
    std::printf("%d ", SES_ReadPage("ENC1", 2, 4, buffer));  // the open fails
    std::printf("%d ", SES_ReadPage("ENC1", 2, 4, buffer));  // opens
    std::printf("%d ", SES_WritePage("ENC1", 9, kPage9));    // reuses it
    SES_CloseCIConnection();
    SES_CloseCIConnection();  // already closed: nothing
    std::printf("%d ", SES_DownloadFwCommit("ENC1", 5));     // opens again
    std::printf("%d %d %d", nicifake::state().openCount, nicifake::state().closeCount,
                nicifake::state().openConnections);
  });
  EXPECT_EQ(r.out, "4097 0 0 0 3 1 1");
  EXPECT_EQ(r.events[0], "kivses:SES_WritePage: Connection Failed (RC = -1)");
  int closing = 0;
  for (const std::string& e : r.events) closing += e == "kivses:SES_CloseCIConnection: Closing CI Connection";
  EXPECT_EQ(closing, 1);
}

TEST(SesStringPage, WaitsEvenAfterAFailedSendAndMapsCodes) {
  struct Case {
    nicifake::Send send;
    const char* out;
  };
  const Case cases[] = {
      {answering([](Block&) {}), "0|u250000|8 "},
      {failedSend(EBUSY), "4107|u250000|"},
      {failedSend(EIO), "4098|u250000|"},
      {answering([](Block& a) { set(a, 48, {1}); }), "4098|u250000|"},
  };
  for (const Case& c : cases) {
    sestest::Run r = sestest::run([&] {
      nicifake::reset();
      queue({c.send, answering([](Block& a) { set(a, 204, {4, 0, 0, 4, 'a', 'b', 'c', 'd'}); })});
      std::uint8_t in[8] = {};
      std::int32_t rc = SES_ReadStringPage("ENC1", 9, kPage9, 8, in, 250);
      std::printf("%d|%s|", rc, sestest::waitList().c_str());
      if (rc == 0) std::printf("%u ", static_cast<unsigned>(in[3] + in[0]));
    });
    EXPECT_EQ(r.out, c.out);
    if (std::string(c.out).starts_with("0|")) continue;
    EXPECT_EQ(r.events.back(), "kivses:SES_ReadStringPage: Exit, rc = " + std::string(c.out).substr(0, 4));
  }
}

// Refused before the connection is even opened: 4101 at once, with the
// reason and the operation's exit line, and no attempt, send or wait.
TEST(SesRefusals, NothingIsOpenedSentOrWaitedFor) {
  struct Case {
    std::function<std::int32_t()> call;
    const char* reason;
    const char* op;
  };
  static std::uint8_t big[65536];
  static const std::string longSerial(38, 'S');
  const Case cases[] = {
      {[] { return SES_WritePage(longSerial.c_str(), 9, kPage9); },
       "serial number longer than 37 characters, nothing sent", "SES_WritePage"},
      {[] { return SES_WritePage("ENC1", 65536, big); }, "length 65536 over 65535, nothing sent", "SES_WritePage"},
      {[] { return SES_ReadPage(nullptr, 2, 4, big); }, "no serial number, nothing sent", "SES_ReadPage"},
      {[] { return SES_ReadPage("ENC1", 2, 4, nullptr); }, "no buffer for 4 bytes, nothing sent", "SES_ReadPage"},
      {[] { return SES_ReadStringPage(longSerial.c_str(), 9, kPage9, 8, big, 250); },
       "serial number longer than 37 characters, nothing sent", "SES_ReadStringPage"},
      {[] { return SES_ReadStringPage("ENC1", 9, kPage9, 65536, big, 250); }, "length 65536 over 65535, nothing sent",
       "SES_ReadStringPage"},
      {[] { return SES_DownloadFwTransfer("ENC1", 64, big, 10); }, "device number 64 outside 0 to 63, nothing sent",
       "SES_DownloadFwTransfer"},
      {[] { return SES_DownloadFwTransfer(longSerial.c_str(), 5, big, 10); },
       "serial number longer than 37 characters, nothing sent", "SES_DownloadFwTransfer"},
      {[] { return SES_DownloadFwTransfer("ENC1", 5, nullptr, 10); }, "no image for 10 bytes, nothing sent",
       "SES_DownloadFwTransfer"},
      {[] { return SES_DownloadFwCommit("ENC1", -1); }, "device number -1 outside 0 to 63, nothing sent",
       "SES_DownloadFwCommit"},
  };
  for (const Case& c : cases) {
    sestest::Run r = sestest::run([&] {
      nicifake::reset();
      std::int32_t rc = c.call();
      std::printf("%d|%d|%zu|%s", rc, nicifake::state().openCount, nicifake::state().sentBlocks.size(),
                  sestest::waitList().c_str());
    });
    EXPECT_EQ(r.out, "4101|0|0|") << c.reason;
    ASSERT_GE(r.events.size(), 2u) << c.reason;
    const std::string op = std::string("kivses:") + c.op + ": ";
    EXPECT_EQ(Events(r.events.end() - 2, r.events.end()), (Events{op + c.reason, op + "Exit, rc = 4101"}));
  }
}

// The largest serial number and page length that fit are sent.
TEST(SesRefusals, LimitsThemselvesAreSent) {
  sestest::Run r = sestest::run([] {
    nicifake::reset();
    static std::uint8_t page[65535];
    const std::string serial(37, 'S');
    std::printf("%d ", SES_ReadPage(serial.c_str(), 2, 65535, page));
    const Block& b = nicifake::state().sentBlocks.at(0);
    std::printf("%zu %c %u", b.size(), b.at(46), b.at(47));
  });
  EXPECT_EQ(r.out, "0 65776 S 0");
}

// Whichever operation opens, a failed open traces the same text, sends
// nothing, and leaves the next operation to open again.
TEST(SesConnection, EveryOperationReportsTheFailedOpenAlike) {
  sestest::Run r = sestest::run([] {
    nicifake::reset();
    nicifake::state().openResults = {-1, -1, -1, -1, -1};
    std::uint8_t buffer[8] = {};
    std::printf("%d ", SES_WritePage("ENC1", 9, kPage9));
    std::printf("%d ", SES_ReadPage("ENC1", 2, 4, buffer));
    std::printf("%d ", SES_ReadStringPage("ENC1", 9, kPage9, 8, buffer, 250));
    std::printf("%d ", SES_DownloadFwTransfer("ENC1", 5, kPage9, 9));
    std::printf("%d|", SES_DownloadFwCommit("ENC1", 5));
    std::printf("%d %zu|%s", nicifake::state().openCount, nicifake::state().sentBlocks.size(),
                sestest::waitList().c_str());
  });
  EXPECT_EQ(r.out, "4097 4097 4097 4097 4097|5 0|");
  Events failed(5, "kivses:SES_WritePage: Connection Failed (RC = -1)");
  Events others;
  for (const std::string& e : r.events) {
    if (e.find("Connection Failed") == std::string::npos) others.push_back(e);
  }
  // Only the download entry lines besides: no exit line after a failed open.
  EXPECT_EQ(others, (Events{"kivses:SES_DownloadFwTransfer: Entry SN:ENC1, Dev:5",
                            "kivses:SES_DownloadFwCommit: Entry SN:ENC1, Dev:5"}));
  EXPECT_EQ(r.events.size(), 7u);
}

// The progress line continues the unended data line after its own prefix,
// whose source line number is not the test's business.
Events withoutLineNumbers(Events events) {
  for (std::string& e : events) e = std::regex_replace(e, std::regex(", kivses:[0-9]+ "), ", kivses:N ");
  return events;
}

// Image pages as sent: length, page length, byte 8 and the first image byte.
std::string pageSummary() {
  std::string text;
  for (const Block& b : nicifake::state().sentBlocks) {
    if (b[192] != 0x1D) continue;
    char one[64];
    std::snprintf(one, sizeof one, "%u:%u:%02x:%02x ", (b[195] << 8) | b[196], (b[206] << 8) | b[207], b[212],
                  b.size() > 213 ? b[213] : 0);
    text += one;
  }
  return text;
}

// The clock is pinned: a millisecond passing between the two halves of a
// progress line would put a time line between them.
TEST(SesFirmware, TransferPagesProgressAndWaits) {
  kivtest::Traced r = kivtest::runTraced([] {
    nicifake::reset();
    Block image(1006);
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 7);
    std::int32_t rc = SES_DownloadFwTransfer("ENC1", 5, image.data(), 1006);
    std::printf("%d|%s", rc, pageSummary().c_str());
  });
  // Start page (no status check), then 503 + 503 image bytes, each checked.
  EXPECT_EQ(r.out, "0|9:5:45:00 512:508:05:00 512:508:05:c1 ");
  EXPECT_EQ(r.waits, "s10 p503/1006 p1006/1006");
  EXPECT_EQ(withoutLineNumbers(r.events), (Events{"kivses:SES_DownloadFwTransfer: Entry SN:ENC1, Dev:5",
                              "kivses:SES_DownloadFwTransfer: SendDiag Start rc = 0",
                              "kivses:SES_DownloadFwTransfer: SendDiag Data rc=0, kivses:N (Sent/Total): 503 / 1006 (50.000000%)",
                              "kivses:SES_DownloadFwTransfer: SendDiag Data rc=0, kivses:N (Sent/Total): 1006 / 1006 (100.000000%)",
                              "kivses:SES_DownloadFwTransfer: Exit, rc = 0"}));
}

TEST(SesFirmware, TransferStopsAtTheFirstBadPage) {
  kivtest::Traced r = kivtest::runTraced([] {
    nicifake::reset();
    queue({nicifake::Send{}, nicifake::Send{}, status(0), nicifake::Send{}, status(3)});
    Block image(1500, 0x11);
    std::int32_t rc = SES_DownloadFwTransfer("ENC1", 5, image.data(), 1500);
    std::printf("%d|%s", rc, pageSummary().c_str());
  });
  EXPECT_EQ(r.out, "86|9:5:45:00 512:508:05:11 512:508:05:11 ");
  EXPECT_EQ(r.waits, "s10 p503/1500 p1006/1500");
  ASSERT_GE(r.events.size(), 3u);
  Events events = withoutLineNumbers(r.events);
  EXPECT_EQ(Events(events.end() - 3, events.end()),
            (Events{"kivses:SES_DownloadFwTransfer: ShortEnc Status = 3!!!!",
                    "kivses:SES_DownloadFwTransfer: SendDiag Data rc=86, kivses:N (Sent/Total): 1006 / 1500 (67.066667%)",
                    "kivses:SES_DownloadFwTransfer: Exit, rc = 86"}));
}

TEST(SesFirmware, EmptyImageAndFailedStart) {
  sestest::Run r = sestest::run([] {
    nicifake::reset();
    std::int32_t rc = SES_DownloadFwTransfer("ENC1", 0, nullptr, 0);
    std::printf("%d|%s|", rc, sestest::waitList().c_str());
    queue({failedSend(EBUSY)});
    rc = SES_DownloadFwTransfer("ENC1", 0, nullptr, 0);
    std::printf("%d|%s", rc, sestest::waitList().c_str());
  });
  // The failed start page ends the transfer at once, with no wait.
  EXPECT_EQ(r.out, "0|s10|4107|s10");
}

// Every result code has its name; any other value is unknown.
TEST(SesResultNames, OneForEachCode) {
  const std::pair<std::int32_t, const char*> rows[] = {
      {0, "SES_Success"},          {86, "SES_ShortEncStatus"}, {4097, "SES_ConnectionFailed"},
      {4098, "SES_StringPageFailed"}, {4101, "SES_RequestFailed"}, {4107, "SES_Busy"},
      {1, "unknown"},              {-1, "unknown"}};
  for (const auto& [rc, name] : rows) EXPECT_STREQ(SES_ResultName(rc), name) << rc;
}

TEST(SesFirmware, CommitPollsAndWaits) {
  struct Case {
    std::vector<nicifake::Send> after;  // answers after the commit page
    const char* out;
  };
  std::vector<nicifake::Send> allFail(10, failedSend(EIO));
  std::vector<nicifake::Send> thirdGood{failedSend(EIO), failedSend(EBUSY), status(0)};
  const Case cases[] = {
      {{status(0)}, "0|s20 s5|2"},
      {{status(2)}, "86|s20 s5|2"},
      {thirdGood, "0|s20 s5|4"},
      {allFail, "4101|s20|11"},
  };
  for (const Case& c : cases) {
    sestest::Run r = sestest::run([&] {
      nicifake::reset();
      queue({nicifake::Send{}});
      for (const nicifake::Send& s : c.after) nicifake::state().sends.push_back(s);
      std::int32_t rc = SES_DownloadFwCommit("ENC1", 5);
      std::printf("%d|%s|%zu", rc, sestest::waitList().c_str(), nicifake::state().sentBlocks.size());
    });
    EXPECT_EQ(r.out, c.out);
    int polls = 0;
    for (const std::string& e : r.events) polls += e.starts_with("kivses:SES_DownloadFwCommit: RecvDiag ShortEncStatus rc = ");
    EXPECT_EQ(polls, std::stoi(std::string(c.out).substr(std::string(c.out).rfind('|') + 1)) - 1);
  }
}

}  // namespace
