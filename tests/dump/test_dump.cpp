// Hex dumps and the command-line record: exact lines on standard output and
// in the trace, with and without an open trace file.
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "debug/kivdebug.h"
#include "kivtestsupport.h"

namespace {

using kivtest::TempDir;

constexpr std::time_t kStart = 1796375107;
std::time_t fixedNow() { return kStart; }
// A clock that stands still: one time line before the first trace line only.
void fixedTimeOfDay(struct timeval* tv) {
  tv->tv_sec = kStart;
  tv->tv_usec = 0;
}

struct DumpRun {
  int status = -1;
  std::string out;        // standard output
  std::string trace;      // trace lines with their prefixes removed
  int tracedLines = 0;    // number of "kivdebug:<n> " prefixes
  bool traceFile = false;
};

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::string::size_type start = 0;
  while (start <= text.size()) {
    std::string::size_type nl = text.find('\n', start);
    if (nl == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, nl - start));
    start = nl + 1;
  }
  return lines;
}

// Runs body in a child, with a trace file open when withTrace is set. The
// trace's opening lines, time lines and completion line are checked and
// dropped, and each "kivdebug:<n> " prefix is checked and removed.
DumpRun runDump(bool withTrace, const std::function<void()>& body) {
  TempDir dir;
  const std::string path = dir.path();
  kivtest::ChildResult r = kivtest::runInChild([&] {
    KIV_DebugDir = path.c_str();
    KIV_TimeNow = fixedNow;
    KIV_TimeOfDayNow = fixedTimeOfDay;
    if (withTrace && KIV_OpenTraceFile("dumptest") != 0) std::_Exit(3);
    body();
  });
  DumpRun run;
  run.status = r.status;
  run.out = r.out;
  const std::vector<std::string> names = kivtest::listDir(path);
  run.traceFile = !names.empty();
  if (!run.traceFile) return run;

  const std::string text = kivtest::readOnlyTrace(path);
  const std::string opening = "Program dumptest started.\n";
  EXPECT_EQ(text.compare(0, opening.size(), opening), 0) << text;
  std::string::size_type bodyStart = text.find("\n\n", opening.size());
  std::string::size_type completed = text.rfind("\nCompleted at ");
  if (bodyStart == std::string::npos || completed == std::string::npos || completed < bodyStart + 2) {
    ADD_FAILURE() << "malformed trace:\n" << text;
    return run;
  }
  const std::string traceBody = text.substr(bodyStart + 2, completed - bodyStart - 2);

  static const std::regex timeLine("[0-9]+\\.[0-9]{3}");
  static const std::regex prefix("^kivdebug:[0-9]+ ");
  std::string kept;
  std::vector<std::string> lines = splitLines(traceBody);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::string line = lines[i];
    if (std::regex_match(line, timeLine)) continue;
    std::smatch m;
    if (std::regex_search(line, m, prefix)) {
      ++run.tracedLines;
      line = m.suffix();
    }
    kept += line;
    if (i + 1 < lines.size()) kept += '\n';
  }
  run.trace = kept;
  return run;
}

std::string addressText(const void* p) {
  std::ostringstream s;
  s << std::hex << reinterpret_cast<std::uintptr_t>(p);
  return s.str();
}

std::string header(const std::string& title, const void* p, const char* lengthHex) {
  return "\n" + title + "\nAddress: 0x" + addressText(p) + " Length: 0x" + lengthHex + "\n\n";
}

std::string bytesOf(std::size_t n) {
  std::string b(n, '\0');
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<char>(i & 0xFF);
  return b;
}

struct DumpCase {
  const char* name;
  std::string data;
  std::int32_t length;
  const char* lengthHex;
  std::vector<std::string> dataLines;
};

std::vector<DumpCase> smallCases() {
  const std::string twenty = "ABCDEFGHIJKLMNOPQRST";
  const std::string line0 = "000:41 42 43 44 45 46 47 48 49 4a 4b 4c 4d 4e 4f 50      ABCDEFGHIJKLMNOP\n";
  const std::string line1 = "010:51 52 53 54 " + std::string(41, ' ') + "QRST\n";
  const std::string line1Full = "010:51 52 53 54 55 56 57 58 59 5a 61 62 63 64 65 66      QRSTUVWXYZabcdef\n";
  const std::string thirtyTwo = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdef";
  const std::string mixed("\x00\x1f\x20\x7e\x7f\x80\xff" "a", 8);
  return {
      {"twenty bytes", twenty, 20, "14", {line0, line1}},
      {"sixteen bytes", twenty, 16, "10", {line0}},
      {"thirty-two bytes", thirtyTwo, 32, "20", {line0, line1Full}},
      {"one byte", "A", 1, "1", {"000:41 " + std::string(50, ' ') + "A\n"}},
      {"fifteen bytes", twenty, 15, "f",
       {"000:41 42 43 44 45 46 47 48 49 4a 4b 4c 4d 4e 4f " + std::string(8, ' ') + "ABCDEFGHIJKLMNO\n"}},
      {"edge characters", mixed, 8, "8", {"000:00 1f 20 7e 7f 80 ff 61 " + std::string(29, ' ') + ".. ~...a\n"}},
      {"zero length", twenty, 0, "0", {}},
      {"negative length", twenty, -1, "ffffffff", {}},
      {"most negative length", twenty, INT32_MIN, "80000000", {}},
  };
}

TEST(DumpBinary, LinesOnStdoutAndInTrace) {
  for (const DumpCase& c : smallCases()) {
    SCOPED_TRACE(c.name);
    const void* p = c.data.data();
    std::string expected = header("Dump title", p, c.lengthHex);
    for (const std::string& l : c.dataLines) expected += l;

    DumpRun run = runDump(true, [&] { DumpBinaryToStdout("Dump title", p, c.length); });
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, expected);
    EXPECT_EQ(run.trace, expected);
    EXPECT_EQ(run.tracedLines, static_cast<int>(2 + c.dataLines.size()));

    run = runDump(true, [&] { DumpBinaryToTrace("Dump title", p, c.length); });
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.trace, expected);
    EXPECT_EQ(run.tracedLines, static_cast<int>(2 + c.dataLines.size()));
  }
}

TEST(DumpBinary, TraceLinePrefixesFollowTheConvention) {
  const std::string data = "ABCDEFGHIJKLMNOPQRST";
  TempDir dir;
  const std::string path = dir.path();
  kivtest::runInChild([&] {
    KIV_DebugDir = path.c_str();
    KIV_TimeNow = fixedNow;
    KIV_TimeOfDayNow = fixedTimeOfDay;
    KIV_OpenTraceFile("dumptest");
    DumpBinaryToTrace("T", data.data(), 20);
  });
  const std::string text = kivtest::readOnlyTrace(path);
  // The first trace line carries the time line; the title follows the
  // prefix on a line of its own.
  std::regex shape(
      "\n\n0\\.000\nkivdebug:([0-9]+) \nT\nkivdebug:\\1 Address: 0x[0-9a-f]+ Length: 0x14\n\n"
      "kivdebug:\\1 000:41 [^\n]*\nkivdebug:\\1 010:51 [^\n]*QRST\n\nCompleted at ");
  EXPECT_TRUE(std::regex_search(text, shape)) << text;
}

TEST(DumpBinary, WithoutTraceOnlyStdoutIsWritten) {
  const std::string data = "ABCDEFGHIJKLMNOPQRST";
  const void* p = data.data();
  DumpRun run = runDump(false, [&] { DumpBinaryToTrace("Dump title", p, 20); });
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "");
  EXPECT_FALSE(run.traceFile);

  run = runDump(false, [&] { DumpBinaryToStdout("Dump title", p, 20); });
  EXPECT_EQ(run.out, header("Dump title", p, "14") + smallCases()[0].dataLines[0] + smallCases()[0].dataLines[1]);
  EXPECT_FALSE(run.traceFile);
}

TEST(DumpBinary, EveryByteValue) {
  const std::string data = bytesOf(256);
  DumpRun run = runDump(false, [&] { DumpBinaryToStdout("all", data.data(), 256); });
  EXPECT_EQ(run.status, 0);
  std::vector<std::string> lines = splitLines(run.out);
  // "", "all", address line, "", 16 data lines, "" after the last newline.
  ASSERT_EQ(lines.size(), 21u) << run.out;
  EXPECT_EQ(lines[4], "000:00 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f      ................");
  EXPECT_EQ(lines[5], "010:10 11 12 13 14 15 16 17 18 19 1a 1b 1c 1d 1e 1f      ................");
  EXPECT_EQ(lines[6], "020:20 21 22 23 24 25 26 27 28 29 2a 2b 2c 2d 2e 2f       !\"#$%&'()*+,-./");
  EXPECT_EQ(lines[11], "070:70 71 72 73 74 75 76 77 78 79 7a 7b 7c 7d 7e 7f      pqrstuvwxyz{|}~.");
  EXPECT_EQ(lines[19], "0F0:f0 f1 f2 f3 f4 f5 f6 f7 f8 f9 fa fb fc fd fe ff      ................");
  for (int i = 12; i <= 19; ++i) {
    EXPECT_EQ(lines[i].size(), 73u);
    EXPECT_EQ(lines[i].substr(52), "     ................") << lines[i];
  }
}

TEST(DumpBinary, WideOffsetsPushTheLineRight) {
  const std::string data = bytesOf(4117);
  DumpRun run = runDump(true, [&] { DumpBinaryToStdout("wide", data.data(), 4117); });
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.trace, run.out);
  EXPECT_EQ(run.tracedLines, 2 + 258);
  std::vector<std::string> lines = splitLines(run.out);
  ASSERT_EQ(lines.size(), 4u + 258u + 1u);
  EXPECT_EQ(lines[4 + 255], "FF0:f0 f1 f2 f3 f4 f5 f6 f7 f8 f9 fa fb fc fd fe ff      ................");
  EXPECT_EQ(lines[4 + 256], "1000:00 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f      ................");
  EXPECT_EQ(lines[4 + 257], "1010:10 11 12 13 14 " + std::string(38, ' ') + ".....");
}

TEST(DumpBinary, LongTitleIsCutAndNullAddressDumpsNothing) {
  const std::string data = "ABC";
  const std::string title125(125, 't');
  const std::string title200 = title125 + std::string(75, 'x');
  struct Case {
    const char* name;
    const char* title;
    const void* address;
    std::int32_t length;
    std::string expected;
  };
  const Case cases[] = {
      {"125 characters kept", title125.c_str(), data.data(), 0, header(title125, data.data(), "0")},
      {"200 characters cut", title200.c_str(), data.data(), 0, header(title125, data.data(), "0")},
      {"null address", "n", nullptr, 5, "\nn\nAddress: 0x0 Length: 0x5\n\n"},
      {"null title", nullptr, data.data(), 3,
       header("", data.data(), "3") + "000:41 42 43 " + std::string(44, ' ') + "ABC\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DumpRun run = runDump(true, [&] { DumpBinaryToStdout(c.title, c.address, c.length); });
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, c.expected);
    EXPECT_EQ(run.trace, c.expected);
  }
}

TEST(RecordCommandLine, TracesTheArgumentsAsOneLine) {
  const std::string a300(300, 'a'), b300(300, 'b'), c300(300, 'c');
  const std::string a766(766, 'a'), a767(767, 'a'), a800(800, 'a');
  struct Case {
    const char* name;
    std::vector<const char*> args;
    bool nullArgv;
    std::string expected;
  };
  const Case cases[] = {
      {"service mode query", {"kivservicemode", "-p", "1L", "-q"}, false, "kivservicemode -p 1L -q \n"},
      {"no arguments", {}, false, "\n"},
      {"null argv", {"x", "y"}, true, "\n"},
      {"empty argument", {"a", "", "b"}, false, "a  b \n"},
      {"null entry", {"a", nullptr, "b"}, false, "a  b \n"},
      {"exactly full", {a766.c_str()}, false, a766 + " \n"},
      {"space cut", {a767.c_str()}, false, a767 + "\n"},
      {"one long argument cut", {a800.c_str(), "b"}, false, a767 + "\n"},
      {"cut inside the third", {a300.c_str(), b300.c_str(), c300.c_str(), "d"}, false,
       a300 + " " + b300 + " " + std::string(165, 'c') + "\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DumpRun run = runDump(true, [&] {
      RecordCommandLine(static_cast<std::int32_t>(c.args.size()), c.nullArgv ? nullptr : c.args.data());
    });
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.trace, c.expected);
    EXPECT_EQ(run.tracedLines, 1);
  }

  DumpRun run = runDump(false, [] {
    const char* args[] = {"kivservicemode", "-q"};
    RecordCommandLine(2, args);
  });
  EXPECT_EQ(run.out, "");
  EXPECT_FALSE(run.traceFile);
}

}  // namespace
