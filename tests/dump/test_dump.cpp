// Hex dumps and the command-line record: their exact lines on standard
// output and in the trace.
#include <regex>
#include <sstream>

#include <gtest/gtest.h>

#include "debug/kivdebug.h"
#include "kivtestsupport.h"

// Each dump goes through DumpBinaryToStdout and then DumpBinaryToTrace:
// once to standard output, twice to the trace, a trace-line prefix before
// each line written. Where full lines are skipped, the last lines are given.
TEST(Dump, Lines) {
  const std::string text = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdef", odd("\x00\x1f\x20\x7e\x7f\x80\xff" "a", 8);
  const std::string all = [] { std::string s; for (int i = 0; i < 4117; ++i) s += static_cast<char>(i); return s; }();
  const std::string line0 = "000:41 42 43 44 45 46 47 48 49 4a 4b 4c 4d 4e 4f 50      ABCDEFGHIJKLMNOP\n";
  struct Row { const char* data; std::int32_t length; std::string title, lengthHex, lines; std::size_t skipped = 0; };
  for (const Row& row : {
           Row{text.data(), 20, "T", "14", line0 + "010:51 52 53 54 " + std::string(41, ' ') + "QRST\n"},
           {text.data(), 16, "T", "10", line0},
           {text.data(), 32, "T", "20",
            line0 + "010:51 52 53 54 55 56 57 58 59 5a 61 62 63 64 65 66      QRSTUVWXYZabcdef\n"},
           {odd.data(), 8, "T", "8", "000:00 1f 20 7e 7f 80 ff 61 " + std::string(29, ' ') + ".. ~...a\n"},
           {text.data(), 0, std::string(125, 't') + "cut", "0", ""}, {text.data(), -1, "T", "ffffffff", ""},
           {all.data(), 4117, "T", "1015",
            "FF0:f0 f1 f2 f3 f4 f5 f6 f7 f8 f9 fa fb fc fd fe ff      ................\n"
            "1000:00 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f      ................\n1010:10 11 12 13 14 " +
                std::string(38, ' ') + ".....\n",
            255}}) {
    const kivtest::Traced t = kivtest::runTraced([&] {
      DumpBinaryToStdout(row.title.c_str(), row.data, row.length);
      DumpBinaryToTrace(row.title.c_str(), row.data, row.length);
    });
    std::ostringstream head;
    head << "\n" << row.title.substr(0, 125) << "\nAddress: 0x" << std::hex
         << reinterpret_cast<std::uintptr_t>(row.data) << " Length: 0x" << row.lengthHex << "\n\n";
    EXPECT_TRUE(t.out.starts_with(head.str()) && t.out.ends_with(row.lines)) << t.out;
    EXPECT_EQ(t.out.size(), head.str().size() + 74 * row.skipped + row.lines.size()) << row.length;
    const std::size_t from = t.trace.find("\n\n") + 2;
    const std::string traced = t.trace.substr(from, t.trace.rfind("\nCompleted at ") - from);
    const std::regex prefix("kivdebug:[0-9]+ ");
    EXPECT_EQ(std::regex_replace(traced, prefix, ""), "0.000\n" + t.out + t.out) << row.length;
    EXPECT_EQ(std::distance(std::sregex_iterator(traced.begin(), traced.end(), prefix), {}),
              2 * (std::count(t.out.begin(), t.out.end(), '\n') - 2)) << row.length;
  }
  const auto untraced = [&] { DumpBinaryToTrace("T", text.data(), 16); DumpBinaryToStdout("T", text.data(), 16); };
  const kivtest::Traced t = kivtest::runTraced(untraced, nullptr);  // no trace open: standard output only
  EXPECT_TRUE(t.traceName.empty() && t.out.ends_with("Length: 0x10\n\n" + line0)) << t.out;
}

// The arguments on one trace line, each followed by a blank, within 767
// characters.
TEST(Dump, CommandLine) {
  const std::string a766(766, 'a'), a767(767, 'a'), a800(800, 'a');
  struct Row { std::vector<const char*> args; std::string traced; };
  for (const Row& row : {Row{{"kivservicemode", "-p", "1L", "-q"}, "kivservicemode -p 1L -q "}, {{}, ""},
                         {{a766.c_str()}, a766 + " "}, {{a767.c_str()}, a767}, {{a800.c_str(), "b"}, a767}}) {
    const auto t = kivtest::runTraced([&] { RecordCommandLine(static_cast<int>(row.args.size()), row.args.data()); });
    EXPECT_EQ(t.out + "|" + t.events.at(0), "|kivdebug:" + row.traced) << row.args.size();
  }
}
