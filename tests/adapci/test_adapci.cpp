// The exchange of one adapter request block against the fake library: the
// exchange code of each way it goes, the library calls in their order, what
// is copied back over the block, and the trace lines.
#include <gtest/gtest.h>

#include "adapci/kivadapci.h"
#include "kivblocks.h"
#include "kivtestsupport.h"
#include "nicifake.h"

namespace {

namespace ARB = AdapterRequestBlock;

// An answer with the application result and one more header byte set, and
// two marks that show how far it was copied back: the low byte of the block
// kind (byte 1) and the first byte of the data area.
nicifake::Send answer(std::int16_t app, std::size_t at = 0, std::uint8_t value = 0,
                      std::optional<std::uint32_t> size = {}, int rc = 0) {
  return {rc, 5, 0, [=](std::vector<std::uint8_t>& b) {
            kiv::wire::put16be(b, ARB::kApplicationResult, static_cast<std::uint16_t>(app));
            b[at] |= value;
            b[1] = 0x77;
            b[ARB::kData] = 0xAB;
          }, size};
}

std::string answered(const std::string& size, int network, int app, const std::string& code) {
  return "requestSize: 192|headersize =20|requestSize: " + size + "|Network result    : " + std::to_string(network) +
         "|Application result: " + std::to_string(app) + (code.empty() ? "|" : "|SendAdapCIRequest: exit (RC = " + code + ")|");
}

// Each row: the results of open and close, the n-th nothrow allocation
// that fails (0: none), the send; then the code, the calls, the two marks,
// and the trace lines (module left out) each followed by '|'.
TEST(Exchange, CodeCallsCopyAndTrace) {
  struct Row { int open, close, failAllocation; nicifake::Send send; std::string out, trace; };
  const std::string calls = " open setopt2=1 setopt0=1 setopt1=0 send size request close ",
                    answerOf = "SendAdapCIRequest: answer of ",
                    incomplete = " bytes, 192 expected|SendAdapCIRequest: exit (RC = 15)|";
  const Row rows[] = {
      {0, 0, 0, answer(0), "0" + calls + "77:ab", answered("192", 0, 0, "0")},
      {5, 0, 0, answer(0), "10 open 01:01", "requestSize: 192|"},
      {0, 0, 0, answer(1), "13" + calls + "77:ab", answered("192", 0, 1, "13")},
      {0, 0, 0, answer(-689), "13" + calls + "77:ab", answered("192", 0, -689, "13")},
      {0, 0, 0, answer(0, ARB::kNetworkResult, 7), "13" + calls + "77:ab", answered("192", 7, 0, "13")},
      {0, 0, 0, answer(0, ARB::kResultWordFirstByte, 1), "13" + calls + "77:ab", answered("192", 0, 0, "13")},
      {0, 0, 0, answer(-8, ARB::kDirectiveStatus, 253), "12" + calls + "77:ab", answered("192", 0, -8, "12")},
      {0, 9, 0, answer(0), "14" + calls + "77:ab", answered("192", 0, 0, "14")},
      {0, 9, 0, answer(0, ARB::kDirectiveStatus, 1), "14" + calls + "77:ab", answered("192", 0, 0, "14")},
      // A failed send: what the library reports is still copied and traced.
      {0, 9, 0, answer(-3, 0, 0, {}, -1), "11" + calls + "01:01", answered("0", 0, 0, "")},
      {0, 0, 0, answer(-3, 0, 0, 192, -1), "11" + calls + "77:ab", answered("192", 0, -3, "")},
      // A failed send with no answer (size 0): the address that comes with it is not read.
      {0, 0, 0, [] { nicifake::Send s = answer(-3, 0, 0, 0, -1); s.unreadable = true; return s; }(), "11" + calls + "01:01",
       answered("0", 0, 0, "")},
      // Less than the block came back: the rest still holds the request.
      {0, 9, 0, answer(-3, 0, 0, 0), "15" + calls + "01:01", answered("0", 0, 0, "") + answerOf + "0" + incomplete},
      {0, 0, 0, answer(-3, 0, 0, 100), "15" + calls + "77:01", answered("100", 0, 0, "") + answerOf + "100" + incomplete},
      // More than the block holds is reported: only the block is written.
      {0, 0, 0, answer(0, 0, 0, 100000), "0" + calls + "77:ab", "requestSize: 192|headersize =20|requestSize: 100000|"
       "SendAdapCIRequest: answer of 100000 bytes cut to 192|Network result    : 0|Application result: 0|"
       "SendAdapCIRequest: exit (RC = 0)|"},
      {0, 0, 1, answer(0), "11 open setopt2=1 setopt0=1 setopt1=0 close 01:01",
       "requestSize: 192|SendAdapCIRequest: no reply buffer of 192 bytes, nothing sent|"},
  };
  for (const Row& row : rows) {
    kivtest::Traced t = kivtest::runTraced([&] {
      std::vector<std::uint8_t> block = kivtest::blocks::serviceMode(1, 1);
      nicifake::state() = {.openResults = {row.open}, .closeResults = {row.close}, .sends = {row.send},
                           .failAllocation = row.failAllocation};
      const std::int32_t code = SendAdapCIRequest(192, 0, block.data());
      std::printf("%d %s %02x:%02x%s", code, nicifake::state().calls.c_str(), block[1], block[ARB::kData],
                  nicifake::state().openConnections == 0 ? "" : " (left open)");
    });
    std::string trace;
    for (const std::string& e : t.events) trace += e.substr(e.find(':') + 1) + "|";
    EXPECT_EQ(t.out, row.out) << row.trace;
    EXPECT_EQ(trace, row.trace);
  }
}

}  // namespace
