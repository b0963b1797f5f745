// kivses fwload: transfers a firmware image to a device behind an
// enclosure and commits it, with progress on standard error; or, with
// --dry-run, reads the status page and shows the plan without sending a
// download page.
#include <cstdarg>
#include <cstdio>
#include <string>

#include "cli/kivsha256.h"
#include "sescli/kivsescli.h"
#include "sescli/kivsesrun.h"

namespace kivsescli {

namespace {

namespace DLP = SesDownloadPage;

void (*g_sleepSeconds)(unsigned) = nullptr;  // the module's own wait

void announceWait(unsigned seconds) {
  g_run->doc["waits"].push_back({{"seconds", seconds}, {"skipped", g_run->noWait}});
  if (g_run->noWait) {
    tell(*g_run, "skipping a %u s wait (--no-wait)\n", seconds);
    return;
  }
  tell(*g_run, "waiting %u s for the device\n", seconds);
  g_sleepSeconds(seconds);
}

// Bytes and whole percent, never 100 before the last byte: in place on a
// terminal, a line per page otherwise.
void showProgress(std::uint32_t sent, std::uint32_t total) {
  Run& run = *g_run;
  ++run.pagesSent;
  run.bytesSent = sent;
  const auto percent = static_cast<unsigned>(std::uint64_t{sent} * 100 / total);
  if (run.progressInPlace) {
    std::fprintf(stderr, "\rsent %u of %u bytes (%u%%)", sent, total, percent);
    run.progressShown = true;
  } else {
    std::fprintf(stderr, "sent %u of %u bytes (%u%%)\n", sent, total, percent);
  }
}

std::uint8_t deviceByte(const Run& run, std::uint8_t phase) { return static_cast<std::uint8_t>(run.device | phase); }

int dryRun(Run& run, std::uint32_t pages) {
  const int status = readShortStatus(run);
  if (status != SESCLI_ExitDone && status != SESCLI_ExitNotGood) return status;
  const std::uint32_t last = static_cast<std::uint32_t>(run.image.size()) - (pages - 1) * DLP::kChunk;
  say(run, "plan for %s device %d: %zu bytes in %u image pages of up to %u bytes (the last %u)\n", run.serial.c_str(),
      run.device, run.image.size(), pages, DLP::kChunk, last);
  say(run, "  start page, device byte 0x%02X, then %u s\n", deviceByte(run, DLP::kPhaseStart), DLP::kStartWaitSeconds);
  say(run, "  image pages, device byte 0x%02X, each confirmed by the status page\n", deviceByte(run, DLP::kPhaseImage));
  say(run, "  commit page, device byte 0x%02X, then %u s, up to %d status reads, %u s after the first read\n",
      deviceByte(run, DLP::kPhaseCommit), DLP::kCommitWaitSeconds, DLP::kCommitPolls, DLP::kStatusSettleSeconds);
  say(run, "nothing sent (--dry-run)\n");
  nlohmann::ordered_json phases = nlohmann::ordered_json::array();
  for (const auto& [name, phase] : {std::pair{"start", DLP::kPhaseStart}, {"image", DLP::kPhaseImage}, {"commit", DLP::kPhaseCommit}}) {
    phases.push_back({{"phase", name}, {"device_byte", deviceByte(run, phase)}});
  }
  run.doc["plan"] = {{"pages", pages}, {"bytes_per_page", DLP::kChunk}, {"phases", phases},
                     {"waits", {DLP::kStartWaitSeconds, DLP::kCommitWaitSeconds, DLP::kStatusSettleSeconds}}};
  return status;
}

}  // namespace

int fwload(Run& run) {
  const auto length = static_cast<std::uint32_t>(run.image.size());
  const std::uint32_t pages = (length + DLP::kChunk - 1) / DLP::kChunk;
  run.doc["device"] = run.device;
  // The digest costs a pass over the image: only the document shows it.
  run.doc["image"] = {{"path", run.imagePath}, {"length", length},
                      {"sha256", run.json ? nlohmann::ordered_json(kiv::sha256Hex(run.image)) : nlohmann::ordered_json()}};
  run.doc["dry_run"] = run.dryRun;
  run.doc["pages_total"] = pages;
  const auto outcome = [&](bool transferred, bool committed) {
    run.doc["pages_sent"] = run.pagesSent;
    run.doc["bytes_sent"] = run.bytesSent;
    run.doc["transferred"] = transferred;
    run.doc["committed"] = committed;
    run.doc["changed"] = transferred && committed;
  };
  run.doc["waits"] = nlohmann::ordered_json::array();
  if (run.dryRun) {
    outcome(false, false);
    return dryRun(run, pages);
  }

  g_sleepSeconds = SES_SleepSeconds;
  SES_SleepSeconds = announceWait;
  SES_DownloadProgress = showProgress;
  char operation[64];
  std::snprintf(operation, sizeof operation, "SES_DownloadFwTransfer to device %d", run.device);
  std::int32_t rc = runOperation(run, [&] { return SES_DownloadFwTransfer(run.serial.c_str(), run.device, run.image.data(), length); });
  if (rc != SES_Success) {
    outcome(false, false);
    return failed(run, operation, rc, "; " + std::to_string(run.bytesSent) + " of " + std::to_string(length) +
                                          " bytes sent, nothing committed");
  }
  tell(run, "transferred %u bytes to %s device %d\n", length, run.serial.c_str(), run.device);
  std::snprintf(operation, sizeof operation, "SES_DownloadFwCommit of device %d", run.device);
  rc = runOperation(run, [&] { return SES_DownloadFwCommit(run.serial.c_str(), run.device); });
  outcome(true, rc == SES_Success);
  if (rc != SES_Success) return failed(run, operation, rc, "; the image was transferred, not committed");
  tell(run, "committed the image on %s device %d\n", run.serial.c_str(), run.device);
  return SESCLI_ExitDone;
}

}  // namespace kivsescli
