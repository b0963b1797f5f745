// The enclosure module against the fake library: its request blocks byte
// for byte, how it judges an answer, the retry schedule and every wait, the
// connection kept across operations, the string page, the refusals and the
// firmware download pages.
#include <gtest/gtest.h>

#include <cerrno>
#include <numeric>
#include <regex>

#include "kivblocks.h"
#include "kivtestsupport.h"
#include "nicifake.h"
#include "ses/kivses.h"

namespace {

using kivtest::blocks::Block;
using Sends = std::vector<nicifake::Send>;
namespace SRB = SesRequestBlock;

// The start page of a download to device 5, which the write tests send
// too, and the page that comes back when one is read.
const Block kPage{0x04, 0x00, 0x00, 0x05, 0x3C, 0x00, 0x00, 0x00, 0x45}, kAbcd{'a', 'b', 'c', 'd'};

// An answer with bytes set from `at` (a page comes back at SRB::kPage), the
// send's result and errno, the reply status, and the size reported.
nicifake::Send reply(std::size_t at = 0, Block bytes = {}, int rc = 0, int err = 0, int status = 0,
                     std::optional<std::uint32_t> size = {}) {
  return {rc, err, status, [=](Block& b) { std::copy(bytes.begin(), bytes.end(), b.begin() + at); }, size};
}
nicifake::Send shortStatus(std::uint8_t value) { return reply(SRB::kPage + 1, {value}); }
const nicifake::Send kBusy = reply(0, {}, -1, EBUSY), kFails = reply(0, {}, -1, EIO);

// A call with the library's answers, and what follows: what it returns, the
// waits, and how the trace ends: "^" for its start, then its lines, each
// followed by '|', without the module, the source line and the "SES_" of
// the function names. failAllocation n: the n-th block or reply buffer
// cannot be allocated.
struct Row { std::function<std::string()> call; Sends sends; std::string out, waits, traceEnd; int failAllocation = 0; };
const std::regex kDrop("kivses:([0-9]+ )?|SES_");
void check(const std::vector<Row>& rows) {
  for (const Row& row : rows) {
    kivtest::Traced t = kivtest::runTraced([&] {
      nicifake::state() = {.sends = {row.sends.begin(), row.sends.end()}, .failAllocation = row.failAllocation};
      std::fputs(row.call().c_str(), stdout);
    });
    std::string trace = "^";
    for (const std::string& e : t.events) trace += std::regex_replace(e, kDrop, "") + "|";
    EXPECT_EQ(t.out, row.out);
    EXPECT_EQ(t.waits, row.waits) << row.out;
    EXPECT_TRUE(trace.ends_with(row.traceEnd)) << row.out << "\n" << trace;
  }
}

// Trace lines of one operation, each followed by '|', after start.
std::string lines(const std::string& op, std::initializer_list<std::string> texts, std::string start = "") {
  for (const std::string& t : texts) start += op + ": " + t + "|";
  return start;
}

const Block kImage = [] { Block b(1500); std::iota(b.begin(), b.end(), std::uint8_t{0}); return b; }();

// Each request sent, compared byte for byte with the one of kivblocks.h for
// serial and the block's own data address: " r8/4" a RECEIVE DIAGNOSTIC
// RESULTS of 4 bytes of page 8, " s9:5:45" a SEND DIAGNOSTIC of a 9-byte
// download page with page length 5 and byte 8 0x45, followed by "!" when
// its image bytes are not kImage's next ones; " ?" any other block.
std::string sent(const std::string& serial = "ENC1") {
  const nicifake::State& s = nicifake::state();
  std::string out;
  std::size_t at = 0;
  for (std::size_t i = 0; i < s.sentBlocks.size(); ++i) {
    const Block& b = s.sentBlocks[i];
    const std::uint64_t data = s.sentAddresses[i] + SRB::kData;
    const unsigned L = kiv::wire::get16be(b, SRB::kCdb + SRB::kCdbLength), code = b[SRB::kCdb + SRB::kCdbPageCode];
    const Block page(b.begin() + SRB::kPage, b.begin() + static_cast<std::ptrdiff_t>(std::min(SRB::kPage + L, b.size())));
    char text[48] = " ?";
    if (b == kivtest::blocks::receiveDiagnostic(serial, static_cast<int>(code), L, data)) {
      std::snprintf(text, sizeof text, " r%u/%u", code, L);
    } else if (L >= 9 && b == kivtest::blocks::sendDiagnostic(serial, page, data)) {
      const bool image = std::equal(page.begin() + 9, page.end(), kImage.begin() + static_cast<std::ptrdiff_t>(at));
      std::snprintf(text, sizeof text, " s%u:%u:%02x%s", L, page[2] << 8 | page[3], page[8], image ? "" : "!");
      at += L - 9;
    }
    out += text;
  }
  return out;
}

// The code, then the requests sent.
std::string after(std::int32_t rc) { return std::to_string(rc) + sent(); }

// The code of op on a buffer of four dots, then the buffer.
std::string into4(std::int32_t (*op)(std::uint8_t*)) {
  std::uint8_t b[4] = {'.', '.', '.', '.'};
  const std::int32_t rc = op(b);
  return std::to_string(rc) + " " + std::string(b, b + 4);
}

TEST(SesRequests, EachBlockByteForByte) {
  static const std::string s37(37, 'S');
  const auto calls = [] {
    static std::uint8_t page[65535];
    SES_WritePage(s37.c_str(), 9, kPage.data());
    for (std::uint32_t L : {0u, 1u, 4u, 5u, 65535u}) SES_ReadPage(s37.c_str(), 0x82, L, page);
    SES_ReadStringPage(s37.c_str(), 9, kPage.data(), 8, page, 0);
    return sent(s37);
  };
  check({{calls, {}, " s9:5:45 r8/4 r130/0 r8/4 r130/1 r8/4 r130/4 r8/4 r130/5 r8/4 r130/65535 r8/4 s9:5:45 r4/8",
          "u0 u0 u0 u0 u0 u0 u0", ""}});
}

// One read, no retry: the code, a buffer that only a page that came back
// may change, and the trace.
TEST(SesAnswers, ReadJudgesTheAnswer) {
  const auto read = [] {
    SESRetryOne.limit = 0;
    return into4([](std::uint8_t* b) { return SES_ReadPage("ENC1", 2, 4, b); });
  };
  const nicifake::Send page = reply(SRB::kPage, kAbcd);
  const std::string failed = "4101 ....", u = "u0", ci = "SendCIRequest: CI ERROR ",
                    recv = "RecvDiagnosticResult: Exit rc = 4101|ReadPage: Exit, rc = 4101|",
                    exit = "SendCIRequest: Exit, rc = 4101|" + recv,
                    busy = ci + "conRC = -1|SendCIRequest: Exit, rc = 4107|RecvDiagnosticResult: Exit rc = 4107|" +
                           "ReadPage: Exit, rc = 4107|";
  check({
      {read, {page}, "0 abcd", u, "^ReadPage: Trying 0 0|"},
      {read, {kBusy}, "4107 ....", u, busy},
      {read, {kFails}, failed, u, ci + "conRC = -1|" + exit},
      {read, {reply(SRB::kPage, kAbcd, 0, 0, 7)}, failed, u, "|" + ci + "responseStatus = 7|" + recv},
      {read, {reply(SRB::kDirectiveStatus, {0xFD, 0, 0, 0, 0, 9, 0xFF, 0xF8})}, failed, u, "|Directive failed : -3|" + exit},
      {read, {reply(SRB::kNetworkResult, {200, 0xFD, 0x4F})}, failed, u, "|Network result    : 200|Application result: -689|" +
       exit},
      {read, {reply(SRB::kResultWordFirstByte, {1})}, failed, u, "|Network result    : 0|Application result: 0|" + exit},
      {read, {reply(SRB::kPage, kAbcd, 0, 0, 0, 100)}, failed, u, "|SendCIRequest: answer of 100 bytes, 244 expected|" + exit},
      {read, {reply(SRB::kPage, kAbcd, 0, 0, 0, 100000)}, "0 abcd", u, "|SendCIRequest: answer of 100000 bytes cut to 244|"},
      // The page came back, and then the status read failed.
      {read, {page, kBusy}, "4107 abcd", u, busy},
      {read, {}, failed, u, "|RecvDiagnosticResult: no block of 244 bytes, nothing sent|ReadPage: Exit, rc = 4101|", 1},
      {read, {}, failed, u, "|SendCIRequest: no reply buffer of 244 bytes, nothing sent|" + recv, 2},
  });
}

std::string write(SESRetrySchedule schedule) {
  SESRetryOne = schedule;
  return std::to_string(SES_WritePage("ENC1", 9, kPage.data()));
}

TEST(SesRetry, AttemptsAndWaits) {
  Sends bad;
  for (int i = 0; i < 9; ++i) bad.insert(bad.end(), {reply(), shortStatus(1)});
  const std::string b = "ShortEnc Status = 1!!!!";
  check({
      // Waits of 0, 1, 3, 6, 10, 15, 21, 28 and 36 steps: 3 s in all, the limit.
      {[] { return write({25000, 3000000}); }, bad, "86", "u0 u25000 u75000 u150000 u250000 u375000 u525000 u700000 u900000",
       lines("WritePage", {"Trying 0 0", b, "Trying 25000 0", b, "Trying 50000 25000", b, "Trying 75000 100000", b,
                                 "Trying 100000 250000", b, "Trying 125000 500000", b, "Trying 150000 875000", b,
                                 "Trying 175000 1400000", b, "Trying 200000 2100000", b, "Exit, rc = 86"}, "^")},
      {[] { return write({25000, 3000000}); }, {reply(), shortStatus(0)}, "0", "u0", "^WritePage: Trying 0 0|"},
      {[] { return write({25000, 0}); }, {kBusy}, "4107", "u0", "^WritePage: Trying 0 0|SendCIRequest: CI ERROR conRC = -1|"
       "SendCIRequest: Exit, rc = 4107|SendDiagnosticCommand: Exit, rc = 4107|WritePage: Exit, rc = 4107|"},
      // A step of 0 could never reach the limit: one attempt, not a hang.
      {[] { return write({0, 3000000}); }, bad, "86", "u0", lines("WritePage", {"Trying 0 0", b, "Exit, rc = 86"}, "^")},
      // Counters that wrapped round would start the wait afresh; they stop at their largest value.
      {[] { return write({2147483649u, 4294967295u}); }, bad, "86", "u0 u2147483649 u4294967295",
       lines("WritePage", {"Trying 0 0", b, "Trying 2147483649 0", b, "Trying 4294967295 2147483649", b, "Exit, rc = 86"}, "^")},
      // A read retries a failure, and does not judge the status page.
      {[] { std::uint8_t p[4]; return std::to_string(SES_ReadPage("ENC1", 2, 4, p)); }, {kFails, reply(), shortStatus(5)}, "0",
       "u0 u25000", "RecvDiagnosticResult: Exit rc = 4101|ReadPage: Trying 25000 0|"},
  });
}

TEST(SesConnection, OpenedOnDemandKeptAndOpenedAgainAfterClose) {
  const auto calls = [] {
    nicifake::state().openResults = {-1, -1, -1, -1, -1};
    std::uint8_t b[9] = {};
    std::string out;
    for (std::int32_t rc : {SES_WritePage("ENC1", 9, b), SES_ReadPage("ENC1", 2, 4, b), SES_ReadStringPage("ENC1", 9, b, 8, b, 9),
                            SES_DownloadFwTransfer("ENC1", 5, b, 9), SES_DownloadFwCommit("ENC1", 5),
                            SES_ReadPage("ENC1", 2, 4, b), SES_WritePage("ENC1", 9, b)})
      out += std::to_string(rc) + " ";
    for (int close = 0; close < 2; ++close) SES_CloseCIConnection();  // a second close finds nothing to close
    out += std::to_string(SES_DownloadFwCommit("ENC1", 5));
    return out + std::regex_replace(nicifake::state().calls, std::regex(" (setopt|send|status|size|request)[^ ]*"), "");
  };
  const std::string failed = "WritePage: Connection Failed (RC = -1)|";
  check({{calls, {}, "4097 4097 4097 4097 4097 0 0 0open open open open open open close open", "u0 u0 s20 s5",
          std::string("^") + failed + failed + failed + "DownloadFwTransfer: Entry SN:ENC1, Dev:5|" + failed +
              "DownloadFwCommit: Entry SN:ENC1, Dev:5|" + failed + "ReadPage: Trying 0 0|WritePage: Trying 0 0|" +
              "CloseCIConnection: Closing CI Connection|" + lines("DownloadFwCommit", {"Entry SN:ENC1, Dev:5",
                  "SendDiag Commit rc = 0", "RecvDiag ShortEncStatus rc = 0", "Exit, rc = 0"})}});
}

// One send, the caller's wait even after a failed send, one read of page 4.
TEST(SesStringPage, WaitsAndMapsTheCodes) {
  const auto call = [] { return into4([](std::uint8_t* b) { return SES_ReadStringPage("ENC1", 9, kPage.data(), 4, b, 250); }); };
  const std::string u = "u250000", busy = "4107 ....", failed = "4098 ....", send = "SendDiagnosticCommand: Exit, rc = ",
                    read = "RecvDiagnosticResult: Exit rc = ", is4107 = "4107|ReadStringPage: Exit, rc = 4107|",
                    is4098 = "ReadStringPage: Exit, rc = 4098|";
  check({
      {call, {reply(), reply(SRB::kPage, kAbcd)}, "0 abcd", u, "^"},
      {call, {kBusy}, busy, u, send + is4107},
      {call, {reply(SRB::kDirectiveStatus, {1})}, failed, u, send + "4101|" + is4098},
      {call, {reply(), kBusy}, busy, u, read + is4107},
      {call, {reply(), kFails}, failed, u, read + "4101|" + is4098},
      {call, {}, failed, u, "^SendDiagnosticCommand: no block of 252 bytes, nothing sent|" + is4098, 1},
  });
}

// Refused before the connection is even opened: 4101 at once, the reason
// and the operation's exit line, and no call of the library or wait.
TEST(SesRefusals, NothingIsOpenedSentOrWaitedFor) {
  static std::uint8_t big[65536];
  static const std::string s38(38, 'S');
  const std::pair<std::int32_t (*)(), std::string> rows[] = {
      {[] { return SES_WritePage(s38.c_str(), 9, big); }, "WritePage: serial number longer than 37 characters"},
      {[] { return SES_ReadPage(nullptr, 2, 4, big); }, "ReadPage: no serial number"},
      {[] { return SES_ReadPage("ENC1", 2, 4, nullptr); }, "ReadPage: no buffer for 4 bytes"},
      {[] { return SES_ReadStringPage("ENC1", 9, big, 65536, big, 250); }, "ReadStringPage: length 65536 over 65535"},
      {[] { return SES_DownloadFwTransfer("ENC1", 64, big, 10); }, "DownloadFwTransfer: device number 64 outside 0 to 63"},
      {[] { return SES_DownloadFwTransfer("ENC1", 5, nullptr, 10); }, "DownloadFwTransfer: no image for 10 bytes"},
      {[] { return SES_DownloadFwCommit("ENC1", -1); }, "DownloadFwCommit: device number -1 outside 0 to 63"},
  };
  for (const auto& [call, reason] : rows)
    check({{[f = call] { return std::to_string(f()) + " " + nicifake::state().calls; }, {}, "4101 ", "",
            reason + ", nothing sent|" + reason.substr(0, reason.find(':')) + ": Exit, rc = 4101|"}});
}

TEST(SesFirmware, PagesWaitsAndTrace) {
  const auto transfer = [](int device, std::uint32_t length) {
    return [=] { return after(SES_DownloadFwTransfer("ENC1", device, length == 0 ? nullptr : kImage.data(), length)); };
  };
  const auto commit = [] { return after(SES_DownloadFwCommit("ENC1", 5)); };
  const std::string T = "DownloadFwTransfer", C = "DownloadFwCommit";
  Sends pollsFail(11, kFails);
  pollsFail[0] = reply();
  check({
      {transfer(0, 0), {}, "0 s9:5:40", "s10", lines(T, {"Entry SN:ENC1, Dev:0", "SendDiag Start rc = 0", "Exit, rc = 0"}, "^")},
      {transfer(5, 503), {}, "0 s9:5:45 s512:508:05 r8/4", "s10 p503/503", ""},
      {transfer(63, 504), {}, "0 s9:5:7f s512:508:3f r8/4 s10:6:3f r8/4", "s10 p503/504 p504/504", ""},
      {transfer(5, 1006), {}, "0 s9:5:45 s512:508:05 r8/4 s512:508:05 r8/4", "s10 p503/1006 p1006/1006",
       lines(T, {"Entry SN:ENC1, Dev:5", "SendDiag Start rc = 0", "SendDiag Data rc=0, (Sent/Total): 503 / 1006 (50.000000%)",
                 "SendDiag Data rc=0, (Sent/Total): 1006 / 1006 (100.000000%)", "Exit, rc = 0"}, "^")},
      // The first bad page ends the transfer; its progress counts it as sent.
      {transfer(5, 1500), {reply(), reply(), shortStatus(0), reply(), shortStatus(3)},
       "86 s9:5:45 s512:508:05 r8/4 s512:508:05 r8/4", "s10 p503/1500 p1006/1500",
       lines(T, {"ShortEnc Status = 3!!!!", "SendDiag Data rc=86, (Sent/Total): 1006 / 1500 (67.066667%)", "Exit, rc = 86"})},
      {transfer(5, 1006), {kBusy}, "4107 s9:5:45", "", lines(T, {"SendDiag Start rc = 4107", "Exit, rc = 4107"})},
      {commit, {}, "0 s9:5:85 r8/4", "s20 s5",
       lines(C, {"Entry SN:ENC1, Dev:5", "SendDiag Commit rc = 0", "RecvDiag ShortEncStatus rc = 0", "Exit, rc = 0"}, "^")},
      {commit, {reply(), shortStatus(2)}, "86 s9:5:85 r8/4", "s20 s5", lines(C, {"ShortEnc Status = 2!!!!", "Exit, rc = 86"})},
      {commit, {reply(), kFails, kBusy, shortStatus(0)}, "0 s9:5:85 r8/4 r8/4 r8/4", "s20 s5", lines(C, {"Exit, rc = 0"})},
      {commit, pollsFail, "4101 s9:5:85 r8/4 r8/4 r8/4 r8/4 r8/4 r8/4 r8/4 r8/4 r8/4 r8/4", "s20",
       lines(C, {"RecvDiag ShortEncStatus rc = 4101", "Exit, rc = 4101"})},
      {commit, {kBusy}, "4107 s9:5:85", "", lines(C, {"SendDiag Commit rc = 4107", "Exit, rc = 4107"})},
  });
}

TEST(SesResultName, EachCodeAndAnUnknownOne) {
  std::string names;
  for (std::int32_t rc : {0, 86, 4097, 4098, 4101, 4107, 1}) names += std::to_string(rc) + " " + SES_ResultName(rc) + " ";
  EXPECT_EQ(names, "0 SES_Success 86 SES_ShortEncStatus 4097 SES_ConnectionFailed 4098 SES_StringPageFailed "
                   "4101 SES_RequestFailed 4107 SES_Busy 1 unknown ");
}

}  // namespace
