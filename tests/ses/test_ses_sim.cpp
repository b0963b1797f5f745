// The enclosure module against the simulated enclosure: images really
// transferred and committed, or refused as a device refuses them, then read
// back with kivadapsim; and the example program doing the same from a file.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstdio>
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

TEST(SesExample, LoadsAnImageFileIntoTheSimulatedEnclosure) {
  kivtest::TempDir tmp;
  const std::string state = tmp.file("adapter.state");
  const std::string traces = tmp.file("traces");
  const std::string file = tmp.file("image.bin");
  const std::vector<std::uint8_t> image = testImage(2000);
  kivtest::writeFile(file, std::string(image.begin(), image.end()));
  ASSERT_EQ(mkdir(traces.c_str(), 0755), 0);
  const std::vector<std::pair<std::string, std::string>> env{{"KIVADAPSIM_STATE", state}, {"KIV_TRACE_DIR", traces}};

  ASSERT_EQ(kivtest::runProgram(KIVADAPSIM_PATH, {"kivadapsim", "enclosure", "ENC1", "status=0"}, env).status, 0);
  kivtest::ChildResult load =
      kivtest::runProgram(KIVSES_FWLOAD_PATH, {"kivses_fwload", "ENC1", "5", file, "--no-wait"}, env);
  EXPECT_EQ(load.status, 0) << load.err;
  EXPECT_EQ(load.out, "transfer of 2000 bytes to ENC1 device 5: rc=0\ncommit: rc=0\n");
  kivtest::ChildResult fw = kivtest::runProgram(KIVADAPSIM_PATH, {"kivadapsim", "firmware", "ENC1"}, env);
  EXPECT_EQ(fw.out, "serial: ENC1\ndevice 5: pages 4, length 2000, sha256 " + kiv::sha256Hex(image) + ", committed\n");
  EXPECT_EQ(kivtest::listDir(traces).size(), 1u);

  kivtest::ChildResult bad = kivtest::runProgram(KIVSES_FWLOAD_PATH, {"kivses_fwload", "ENC1", "64", file}, env);
  EXPECT_EQ(bad.status, 2);
  EXPECT_EQ(bad.err, "kivses_fwload: device number must be 0 to 63\n");
}

}  // namespace
