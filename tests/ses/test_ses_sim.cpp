// The enclosure module against the simulated enclosure: images really
// transferred and committed, or refused as a device refuses them, then read
// back with kivadapsim; and the example program doing the same from a file,
// with every way it refuses or fails.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <regex>
#include <string>
#include <vector>

#include "kivtestsupport.h"
#include "nicisim/sha256.h"
#include "ses/kivses.h"
#include "sestest.h"

namespace {

std::vector<std::uint8_t> testImage(std::size_t n) {
  std::vector<std::uint8_t> image(n);
  for (std::size_t i = 0; i < n; ++i) image[i] = static_cast<std::uint8_t>((i * 31 + 7) ^ (i >> 8));
  return image;
}

class SesOnSimulator : public ::testing::Test {
 protected:
  void SetUp() override { setenv("KIVADAPSIM_STATE", state.c_str(), 1); }
  void TearDown() override { unsetenv("KIVADAPSIM_STATE"); }
  kivtest::ChildResult sim(const std::vector<std::string>& words) {
    std::vector<std::string> argv{"kivadapsim"};
    argv.insert(argv.end(), words.begin(), words.end());
    return kivtest::runProgram(KIVADAPSIM_PATH, argv, {{"KIVADAPSIM_STATE", state}});
  }
  kivtest::TempDir tmp;
  std::string state = tmp.file("adapter.state");
};

// A transfer and a commit as the module makes them: committed when the
// transfer was complete; refused (86 from the commit's status poll) when a
// bad status stopped the transfer, or when the commit names another device,
// whose refusal stops the open transfer too.
TEST_F(SesOnSimulator, TransferAndCommitPerDevice) {
  struct Case {
    const char* statuses;
    int commitDevice;
    const char* results;
    const char* outcome;
  };
  const Case cases[] = {
      {"status=0", 5, "0 0", "committed"},
      {"status=0,3,0", 5, "86 86", "not committed (stopped)"},  // the second page's status
      {"status=0", 6, "0 86", "not committed (stopped)"},
  };
  const std::vector<std::uint8_t> image = testImage(1006);
  for (const Case& c : cases) {
    ASSERT_EQ(sim({"reset"}).status, 0);
    ASSERT_EQ(sim({"enclosure", "ENC1", c.statuses}).status, 0);
    sestest::Run r = sestest::run([&] {
      std::int32_t transfer = SES_DownloadFwTransfer("ENC1", 5, image.data(), static_cast<std::uint32_t>(image.size()));
      std::int32_t commit = SES_DownloadFwCommit("ENC1", c.commitDevice);
      SES_CloseCIConnection();
      std::printf("%d %d", transfer, commit);
    });
    EXPECT_EQ(r.out, c.results) << c.statuses;
    EXPECT_EQ(sim({"firmware", "ENC1"}).out,
              "serial: ENC1\ndevice 5: pages 2, length 1006, sha256 " + kiv::sha256Hex(image) + ", " + c.outcome + "\n")
        << c.statuses;
  }
}

// The example program, one command line per row: its output, status and
// standard error, the requests that reached the simulated enclosure, and
// what the trace directory holds afterwards (trace names with their digits
// as N). It reads no environment variable: KIV_TRACE_DIR gets nothing.
TEST(SesExample, CommandLinesAgainstTheSimulatedEnclosure) {
  kivtest::TempDir tmp;
  const std::string image = tmp.file("image.bin"), empty = tmp.file("empty.bin"), fresh = tmp.file("fresh"),
                    own = tmp.file("own"), other = tmp.file("other"), linked = tmp.file("linked");
  const std::vector<std::uint8_t> bytes = testImage(1006);
  kivtest::writeFile(image, std::string(bytes.begin(), bytes.end()));
  kivtest::writeFile(empty, "");
  for (const std::string& d : {own, other, linked, tmp.file("env")}) ASSERT_EQ(mkdir(d.c_str(), 0755), 0);
  kivtest::writeFile(own + "/kivses_fwload.261204122540.42.gz", "x");
  kivtest::writeFile(other + "/notes.txt", "keep");
  ASSERT_EQ(symlink(image.c_str(), (linked + "/kivses_fwload.261204122540.43").c_str()), 0);
  const std::vector<std::pair<std::string, std::string>> env{{"KIVADAPSIM_STATE", tmp.file("state")},
                                                             {"KIV_TRACE_DIR", tmp.file("env")}};
  const std::string waits = "skipping a 10 s wait (--no-wait)\n";
  const std::string pages = waits + "sent 503 of 1006 bytes\nsent 1006 of 1006 bytes\n";
  const std::string loaded = pages + "transfer of 1006 bytes to ENC1 device 5: rc=0 (SES_Success)\n" +
                             "skipping a 20 s wait (--no-wait)\nskipping a 5 s wait (--no-wait)\n" +
                             "commit: rc=0 (SES_Success)\n";
  const std::string usage = "usage: kivses_fwload [--no-wait] [--trace-dir DIR] SERIAL DEVICE IMAGEFILE\n";
  const std::string trace = "kivses_fwload.N.N.gz";
  struct Row {
    std::string staging;  // of enclosure ENC1
    std::vector<std::string> args;
    int status;
    std::string out, err;
    std::size_t requests;  // logged by the simulator
    std::string traceDir;
    std::vector<std::string> traces;
  };
  const Row rows[] = {
      {"status=0", {"--no-wait", "--trace-dir", fresh, "ENC1", "5", image}, 0, loaded, "", 7, fresh, {trace}},
      {"status=0", {"ENC1", "5", image, "--trace-dir", own, "--no-wait"}, 0, loaded, "", 7, own, {trace, trace}},
      {"status=0,3", {"--no-wait", "--trace-dir", fresh, "ENC1", "5", image}, 1,
       pages + "transfer of 1006 bytes to ENC1 device 5: rc=86 (SES_ShortEncStatus)\n", "", 5, fresh, {trace}},
      {"busy=1", {"--trace-dir", fresh, "ENC1", "5", image}, 1,
       "transfer of 1006 bytes to ENC1 device 5: rc=4107 (SES_Busy)\n", "", 1, fresh, {trace}},
      {"status=0", {"--trace-dir", fresh, "ENC9", "5", image}, 1,
       "transfer of 1006 bytes to ENC9 device 5: rc=4101 (SES_RequestFailed)\n", "", 1, fresh, {trace}},
      {"status=0", {"--trace-dir", other, "ENC1", "5", image}, 2, "",
       "kivses_fwload: " + other + " holds notes.txt, not a kivses_fwload trace; give a new directory or one with its "
       "traces only\n", 0, other, {"notes.txt"}},
      {"status=0", {"--trace-dir", linked, "ENC1", "5", image}, 2, "",
       "kivses_fwload: " + linked + " holds kivses_fwload.261204122540.43, not a kivses_fwload trace; give a new "
       "directory or one with its traces only\n", 0, linked, {"kivses_fwload.N.N"}},
      {"busy=1", {"--trace-dir", tmp.file("missing/deeper"), "ENC1", "5", image}, 1,
       "transfer of 1006 bytes to ENC1 device 5: rc=4107 (SES_Busy)\n",
       "kivses_fwload: no trace file in " + tmp.file("missing/deeper") + "; going on untraced\n", 1, "", {}},
      {"status=0", {"--trace-dir", image, "ENC1", "5", image}, 2, "",
       "kivses_fwload: " + image + " is not a directory\n", 0, "", {}},
      {"status=0", {"ENC1", "5", empty}, 1, "", "kivses_fwload: " + empty + " is empty; nothing sent\n", 0, "", {}},
      {"status=0", {"ENC1", "64", image}, 2, "", "kivses_fwload: device number must be 0 to 63\n", 0, "", {}},
      {"status=0", {"--bogus", "ENC1", "5", image}, 2, "",
       "kivses_fwload: unknown option or missing argument: --bogus\n" + usage, 0, "", {}},
      {"status=0", {"ENC1", "5"}, 2, "", usage, 0, "", {}},
      {"status=0", {"--version"}, 0, std::string("kivses_fwload ") + KIV_VERSION + "\n", "", 0, "", {}},
  };
  auto sim = [&](std::vector<std::string> args) {
    args.insert(args.begin(), "kivadapsim");
    return kivtest::runProgram(KIVADAPSIM_PATH, args, env);
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.args.front() + " " + row.args.back() + " " + row.staging);
    ASSERT_EQ(sim({"reset"}).status, 0);
    ASSERT_EQ(sim({"enclosure", "ENC1", row.staging}).status, 0);
    std::vector<std::string> argv{"kivses_fwload"};
    argv.insert(argv.end(), row.args.begin(), row.args.end());
    kivtest::ChildResult r = kivtest::runProgram(KIVSES_FWLOAD_PATH, argv, env);
    EXPECT_EQ(r.status, row.status);
    EXPECT_EQ(r.out, row.out);
    EXPECT_EQ(r.err, row.err);
    const std::string log = sim({"log"}).out;
    EXPECT_EQ(static_cast<std::size_t>(std::count(log.begin(), log.end(), '\n')), row.requests) << log;
    if (row.out == loaded) {
      EXPECT_EQ(sim({"firmware", "ENC1"}).out,
                "serial: ENC1\ndevice 5: pages 2, length 1006, sha256 " + kiv::sha256Hex(bytes) + ", committed\n");
    }
    if (!row.traceDir.empty()) {
      std::vector<std::string> names = kivtest::listDir(row.traceDir);
      for (std::string& n : names) n = std::regex_replace(n, std::regex("[0-9]+"), "N");
      EXPECT_EQ(names, row.traces);
      kivtest::removeTree(fresh);
    }
  }
  EXPECT_EQ(kivtest::readFile(other + "/notes.txt"), "keep");
  EXPECT_TRUE(kivtest::listDir(tmp.file("env")).empty());

  kivtest::ChildResult help = kivtest::runProgram(KIVSES_FWLOAD_PATH, {"kivses_fwload", "--help"}, env);
  EXPECT_EQ(help.status, 0);
  EXPECT_TRUE(help.out.starts_with(usage)) << help.out;
}

}  // namespace
