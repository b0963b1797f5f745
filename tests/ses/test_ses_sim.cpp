// The enclosure module against the simulated enclosure: an image really
// transferred and committed, then read back from the simulator's state, and
// the example program doing the same from a file.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "kivtestsupport.h"
#include "nicisim/nicisim.h"
#include "nicisim/sha256.h"
#include "ses/kivses.h"
#include "sestest.h"

namespace {

std::vector<std::uint8_t> testImage(std::size_t n) {
  std::vector<std::uint8_t> image(n);
  for (std::size_t i = 0; i < n; ++i) image[i] = static_cast<std::uint8_t>((i * 31 + 7) ^ (i >> 8));
  return image;
}

TEST(SesOnSimulator, ImageTransferredCommittedAndReadBack) {
  kivtest::TempDir tmp;
  const std::string state = tmp.file("adapter.state");
  ASSERT_EQ(setenv("KIVADAPSIM_STATE", state.c_str(), 1), 0);
  const std::vector<std::uint8_t> image = testImage(1006);
  sestest::Run r = sestest::run([&] {
    std::string why;
    nicisim::withState(
        [](nicisim::State& s) {
          nicisim::Enclosure e;
          e.serial = "ENC1";
          e.statuses = {0};
          s.enclosures.push_back(e);
          return true;
        },
        why);
    std::int32_t transfer = SES_DownloadFwTransfer("ENC1", 5, image.data(), static_cast<std::uint32_t>(image.size()));
    std::int32_t commit = SES_DownloadFwCommit("ENC1", 5);
    SES_CloseCIConnection();
    std::printf("%d %d %s", transfer, commit, sestest::waitList().c_str());
  });
  EXPECT_EQ(r.out, "0 0 s10 s20 s5");

  nicisim::Enclosure got;
  std::string why;
  ASSERT_EQ(nicisim::withState(
                [&](nicisim::State& s) {
                  if (const nicisim::Enclosure* e = s.find("ENC1")) got = *e;
                  return false;
                },
                why),
            nicisim::Access::kDone)
      << why;
  EXPECT_EQ(got.image, image);
  EXPECT_EQ(got.download, nicisim::kCommitted);
  unsetenv("KIVADAPSIM_STATE");
}

TEST(SesOnSimulator, UnknownSerialNumberFailsAndBusyIsTold) {
  kivtest::TempDir tmp;
  ASSERT_EQ(setenv("KIVADAPSIM_STATE", tmp.file("adapter.state").c_str(), 1), 0);
  sestest::Run r = sestest::run([] {
    std::string why;
    nicisim::withState(
        [](nicisim::State& s) {
          nicisim::Enclosure e;
          e.serial = "ENC2";
          e.busy = 1;
          s.enclosures.push_back(e);
          return true;
        },
        why);
    SESRetryOne.limit = 0;
    std::uint8_t page[4] = {};
    std::int32_t unknown = SES_ReadPage("NOSUCH", 8, 4, page);
    std::int32_t busy = SES_ReadPage("ENC2", 8, 4, page);
    std::int32_t then = SES_ReadPage("ENC2", 8, 4, page);
    std::printf("%d %d %d", unknown, busy, then);
  });
  EXPECT_EQ(r.out, "4101 4107 0");
  unsetenv("KIVADAPSIM_STATE");
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
  EXPECT_EQ(fw.out, "serial: ENC1\nlength: 2000\nsha256: " + kiv::sha256Hex(image) + "\ncommitted: yes\n");
  EXPECT_EQ(kivtest::listDir(traces).size(), 1u);

  kivtest::ChildResult bad = kivtest::runProgram(KIVSES_FWLOAD_PATH, {"kivses_fwload", "ENC1", "64", file}, env);
  EXPECT_EQ(bad.status, 2);
  EXPECT_EQ(bad.err, "kivses_fwload: device number must be 0 to 63\n");
}

}  // namespace
