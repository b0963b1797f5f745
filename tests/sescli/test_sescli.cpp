// kivses against the simulated enclosure, a table per verb: what it prints,
// its exit status, the requests that reached the enclosure, and the waits it
// made (recorded, never slept); then the JSON document of a row of each.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <regex>

#include "kivsim.h"
#include "sescli/kivsescli.h"

namespace {

using namespace kivtest;

// Log lines of a RECEIVE DIAGNOSTIC RESULTS (R) and a SEND DIAGNOSTIC (S)
// of page p and length n, and a read of the status page as every page
// operation makes it.
std::string R(int p, int n, const std::string& rc = "0") {
  return "FN_ISAL_SCSI serial=ENC1 cmd=RECEIVE_DIAGNOSTIC_RESULTS page=" + std::to_string(p) + " length=" +
         std::to_string(n) + " rc=" + rc;
}
std::string S(int p, int n, const std::string& rc = "0") {
  return "FN_ISAL_SCSI serial=ENC1 cmd=SEND_DIAGNOSTIC page=" + std::to_string(p) + " length=" + std::to_string(n) +
         " rc=" + rc;
}
const std::string St = R(8, 4);
Words times(int n, const Words& lines) {
  Words all;
  for (int i = 0; i < n; ++i) all.insert(all.end(), lines.begin(), lines.end());
  return all;
}
// The retry schedule's waits before nine attempts, in microseconds.
const std::string kNineWaits = "u0 u25000 u75000 u150000 u250000 u375000 u525000 u700000 u900000";
const std::string kUsage =
    "usage: kivses list SERIAL\n"
    "       kivses status SERIAL\n"
    "       kivses read SERIAL PAGE [--length N] [-H | -r | --raw]\n"
    "       kivses write SERIAL --data HEX|-|@FILE\n"
    "       kivses string SERIAL --data HEX|-|@FILE [--delay MS] [--length N] [-H | -r | --raw]\n"
    "       kivses fwload SERIAL DEVICE IMAGE [--no-wait] [--dry-run]\n"
    "       every verb also takes [--trace-dir DIR] [-v] [--json]\n"
    "       kivses -h | --help | --version\n";

struct Files {
  TempDir tmp;
  std::string image = tmp.file("image"), page = tmp.file("page"), empty = tmp.file("empty"), other = tmp.file("other"),
              fresh = tmp.file("fresh");
  Files() {
    std::string bytes(1006, 0);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7);
    writeFile(image, bytes), writeFile(page, std::string("\x04\x00\x00\x01\x2a", 5)), writeFile(empty, "");
    mkdir(other.c_str(), 0755), writeFile(other + "/notes.txt", "keep");
  }
};

// One command line against ENC1 staged as the row says; stdin feeds --data -.
struct Row {
  Words stage;
  Words args;
  std::string out, err;
  int status;
  Words log;
  std::string waits = "u0", stdinText = "";
};

Traced runKivses(Sim& sim, const Row& row) {
  sim.sim({"reset"});
  sim.sim({"enclosure", "ENC1", "status=0", "stringin=0400000568656c6c6f"});
  if (!row.stage.empty()) sim.sim(row.stage);
  sim.sim({"log", "clear"});
  const TempDir in;
  writeFile(in.file("stdin"), row.stdinText);
  return runTraced([&] {
    std::freopen(in.file("stdin").c_str(), "r", stdin);
    Words words{"kivses"};
    words.insert(words.end(), row.args.begin(), row.args.end());
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    std::exit(KIV_SesCliMain(static_cast<int>(words.size()), argv.data()));
  }, nullptr);
}

void check(const std::vector<Row>& rows) {
  Sim sim;
  for (const Row& row : rows) {
    SCOPED_TRACE(::testing::PrintToString(row.args));
    const Traced t = runKivses(sim, row);
    const std::string out = std::regex_replace(t.out, std::regex("Address: 0x[0-9a-f]+"), "Address: 0xA");
    EXPECT_EQ(out + "|" + t.err + "|" + std::to_string(t.status), row.out + "|" + row.err + "|" + std::to_string(row.status));
    EXPECT_EQ(sim.log(), row.log);
    EXPECT_EQ(t.waits, row.waits);
  }
}

const std::string kPageFails = "kivses: ENC1: SES_ReadPage of page 0x10 failed: rc=4101 (SES_RequestFailed), adapter result "
                               "AE_IllReqBadPageCode (-87)\n";
const std::string kBusy = "kivses: ENC1: SES_ReadPage of page 0x00 failed: rc=4107 (SES_Busy)\n";
const std::string kPages = "0x00 Supported Diagnostic Pages (sdp)\n0x04 String Out/In (str)\n0x08 Short Enclosure Status (ses)\n";

TEST(Kivses, ListAndStatus) {
  const Files f;
  check({
      {{}, {"list", "ENC1"}, kPages, "", 0, {R(0, 4096), St}},
      {{"enclosure", "ENC1", "busy=100"}, {"list", "ENC1"}, "", kBusy, 26,
       times(9, {"FN_ISAL_SCSI serial=ENC1 cmd=RECEIVE_DIAGNOSTIC_RESULTS page=0 length=4096 busy"}), kNineWaits},
      {{"enclosure", "ENC1", "busy=1"}, {"list", "ENC1", "-v"}, kPages, "kivses: RECEIVE DIAGNOSTIC RESULTS page 0x00, "
       "4096 bytes: rc=4107 (SES_Busy)\nkivses: waiting 25000 us\nkivses: RECEIVE DIAGNOSTIC RESULTS page 0x00, 4096 bytes: "
       "rc=0 (SES_Success)\nkivses: RECEIVE DIAGNOSTIC RESULTS page 0x08, 4 bytes: rc=0 (SES_Success)\n", 0,
       {"FN_ISAL_SCSI serial=ENC1 cmd=RECEIVE_DIAGNOSTIC_RESULTS page=0 length=4096 busy", R(0, 4096), St}, "u0 u25000"},
      {{}, {"status", "ENC1"}, "short enclosure status of ENC1: 0 (good)\n", "", 0, {St, St}},
      {{"enclosure", "ENC1", "status=3"}, {"status", "ENC1"}, "short enclosure status of ENC1: 3 (not good)\n", "", 1, {St, St}},
      {{"fault", "open", "always"}, {"status", "ENC1"}, "", "kivses: ENC1: SES_ReadPage of page 0x08 failed: rc=4097 "
       "(SES_ConnectionFailed)\n", 47, {"niCIOpen fault=open"}, ""},
      {{}, {"status", std::string(38, 'E')}, "", "kivses: serial number '" + std::string(38, 'E') + "' is not 1 to 37 "
       "characters\n", 11, {}, ""},
      {{}, {"status", ""}, "", "kivses: serial number '' is not 1 to 37 characters\n", 11, {}, ""},
      {{}, {"status", "ENC1", "--trace-dir", f.fresh}, "short enclosure status of ENC1: 0 (good)\n", "", 0, {St, St}},
      {{}, {"status", "ENC1", "--trace-dir", f.fresh}, "short enclosure status of ENC1: 0 (good)\n", "", 0, {St, St}},
      {{}, {"status", "ENC1", "--trace-dir", f.other}, "", "kivses: " + f.other + " holds notes.txt, not a kivses trace; "
       "give a new directory or one with its traces only\n", 11, {}, ""},
      {{}, {"status", "ENC1", "--bogus"}, "", "kivses: unknown option or missing argument: --bogus\n" + kUsage, 11, {}, ""},
      {{}, {"status", "-xv", "ENC1"}, "", "kivses: unknown option or missing argument: -x\n" + kUsage, 11, {}, ""},
      {{}, {"stat", "ENC1"}, "", "kivses: unknown verb 'stat'\n" + kUsage, 11, {}, ""},
      {{}, {"status"}, "", "kivses: status takes SERIAL\n" + kUsage, 11, {}, ""},
      {{}, {"list", "ENC1", "--no-wait"}, "", "kivses: --no-wait does not apply to list\n" + kUsage, 11, {}, ""},
  });
  // A new trace directory is made, then taken again holding only kivses traces, each compressed at exit.
  const Words traces = listDir(f.fresh);
  EXPECT_EQ(traces.size(), 2u);
  for (const std::string& t : traces) EXPECT_TRUE(std::regex_match(t, std::regex("kivses\\.261204122540\\.[0-9]+\\.gz"))) << t;
}

TEST(Kivses, Read) {
  check({
      {{}, {"read", "ENC1", "sdp"}, kPages, "", 0, {R(0, 4096), St}},
      {{}, {"read", "ENC1", "4", "--length", "0x10"}, "String In of ENC1, 5 bytes: \"hello\"\n", "", 0, {R(4, 16), St}},
      {{}, {"read", "ENC1", "str", "--length", "6"}, "String In of ENC1, 2 bytes: \"he\"\n", "", 0, {R(4, 6), St}},
      {{}, {"read", "ENC1", "ses", "-r"}, "08 00 00 00\n", "", 0, {R(8, 4096), St}},
      {{}, {"read", "ENC1", "str", "--raw"}, std::string("\x04\x00\x00\x05hello", 9), "", 0, {R(4, 4096), St}},
      {{}, {"read", "ENC1", "0x08", "-H"}, "\npage 0x08 Short Enclosure Status (ses) of ENC1\nAddress: 0xA Length: 0x4\n\n"
       "000:08 00 00 00                                          ....\n", "", 0, {R(8, 4096), St}},
      {{}, {"read", "ENC1", "16"}, "", kPageFails, 47, times(9, {R(16, 4096, "-87")}), kNineWaits},
      {{}, {"read", "ENC1", "foo"}, "", "kivses: unknown page 'foo'; known: sdp cf ec es ht str th ac ed ses eb aes sht sstr "
       "ssp dm snic\n", 11, {}, ""},
      {{}, {"read", "ENC1", "256"}, "", "kivses: page number 256 is not 0 to 255\n", 11, {}, ""},
      {{}, {"read", "ENC1", "ses", "--length", "65536"}, "", "kivses: --length must be 1 to 65535, not 65536\n", 11, {}, ""},
      {{}, {"read", "ENC1", "ses", "-r", "--raw"}, "", "kivses: give one of -H, -r and --raw\n" + kUsage, 11, {}, ""},
  });
}

TEST(Kivses, WriteAndString) {
  const Files f;
  const std::string big = std::string(65536 * 2, 'a');
  check({
      {{}, {"write", "ENC1", "--data", "04 00 00 01,2a"}, "wrote page 0x04 String Out/In (str) to ENC1, 5 bytes\n", "", 0,
       {S(4, 5), St}},
      {{}, {"write", "ENC1", "--data", "@" + f.page}, "wrote page 0x04 String Out/In (str) to ENC1, 5 bytes\n", "", 0,
       {S(4, 5), St}},
      {{}, {"write", "ENC1", "--data", "-"}, "wrote page 0x04 String Out/In (str) to ENC1, 5 bytes\n", "", 0, {S(4, 5), St},
       "u0", "04000001\n2a\n"},
      {{"enclosure", "ENC1", "status=2"}, {"write", "ENC1", "--data", "0400000100"}, "", "kivses: ENC1: SES_WritePage of page "
       "0x04 failed: rc=86 (SES_ShortEncStatus)\n", 47, times(9, {S(4, 5), St}), kNineWaits},
      {{}, {"write", "ENC1", "--data", "02000000"}, "", "kivses: ENC1: SES_WritePage of page 0x02 failed: rc=4101 "
       "(SES_RequestFailed), adapter result AE_IllReqBadPageCode (-87)\n", 47, times(9, {S(2, 4, "-87")}), kNineWaits},
      {{}, {"write", "ENC1", "--data", "040"}, "", "kivses: --data: an odd number of hex digits in '040'\n", 11, {}, ""},
      {{}, {"write", "ENC1", "--data", "04 0x"}, "", "kivses: --data: not a hex digit: 'x'\n", 11, {}, ""},
      {{}, {"write", "ENC1", "--data", " , "}, "", "kivses: --data: no bytes given\n", 11, {}, ""},
      {{}, {"write", "ENC1", "--data", big}, "", "kivses: --data: more than 65535 bytes\n", 11, {}, ""},
      {{}, {"write", "ENC1", "--data", "@" + f.empty}, "", "kivses: --data: " + f.empty + " is empty\n", 11, {}, ""},
      {{}, {"write", "ENC1"}, "", "kivses: write needs --data\n" + kUsage, 11, {}, ""},
      {{}, {"string", "ENC1", "--data", "0400000100", "--delay", "250"}, "String In of ENC1, 5 bytes: \"hello\"\n", "", 0,
       {S(4, 5), R(4, 4096)}, "u250000"},
      {{"enclosure", "ENC1", "busy=1"}, {"string", "ENC1", "--data", "0400000100", "--length", "5"}, "",
       "kivses: ENC1: SES_ReadStringPage failed: rc=4107 (SES_Busy)\n", 26,
       {"FN_ISAL_SCSI serial=ENC1 cmd=SEND_DIAGNOSTIC page=4 length=5 busy"}, "u100000"},
  });
}

TEST(Kivses, Fwload) {
  const Files f;
  const std::string skipped = "skipping a 10 s wait (--no-wait)\n", sent = "sent 503 of 1006 bytes (50%)\n",
                    all = "sent 1006 of 1006 bytes (100%)\n", waited = "waiting 10 s for the device\n";
  // The start page, two image pages each with its status read, the commit page and its poll.
  const Words transfer{S(4, 9), S(4, 512), St, S(4, 512), St}, load{S(4, 9), S(4, 512), St, S(4, 512), St, S(4, 9), St};
  check({
      {{}, {"fwload", "ENC1", "5", f.image, "--no-wait"}, "", skipped + sent + all + "transferred 1006 bytes to ENC1 device 5\n"
       "skipping a 20 s wait (--no-wait)\nskipping a 5 s wait (--no-wait)\ncommitted the image on ENC1 device 5\n", 0,
       load, ""},
      {{}, {"fwload", "ENC1", "5", f.image}, "", waited + sent + all + "transferred 1006 bytes to ENC1 device 5\nwaiting 20 s "
       "for the device\nwaiting 5 s for the device\ncommitted the image on ENC1 device 5\n", 0, load, "s10 s20 s5"},
      {{"enclosure", "ENC1", "status=0,3"}, {"fwload", "ENC1", "5", f.image, "--no-wait"}, "", skipped + sent + all +
       "kivses: ENC1: SES_DownloadFwTransfer to device 5 failed: rc=86 (SES_ShortEncStatus); 1006 of 1006 bytes sent, "
       "nothing committed\n", 47, transfer, ""},
      {{"enclosure", "ENC1", "busy=1"}, {"fwload", "ENC1", "5", f.image}, "", "kivses: ENC1: SES_DownloadFwTransfer to device 5 "
       "failed: rc=4107 (SES_Busy); 0 of 1006 bytes sent, nothing committed\n", 26,
       {"FN_ISAL_SCSI serial=ENC1 cmd=SEND_DIAGNOSTIC page=4 length=9 busy"}, ""},
      {{"enclosure", "ENC1", "status=3"}, {"fwload", "ENC1", "5", f.image, "--dry-run"}, "short enclosure status of ENC1: 3 "
       "(not good)\nplan for ENC1 device 5: 1006 bytes in 2 image pages of up to 503 bytes (the last 503)\n  start page, device "
       "byte 0x45, then 10 s\n  image pages, device byte 0x05, each confirmed by the status page\n  commit page, device byte "
       "0x85, then 20 s, up to 10 status reads, 5 s after the first read\nnothing sent (--dry-run)\n", "", 1, {St, St}},
      {{}, {"fwload", "ENC1", "64", f.image}, "", "kivses: device number must be 0 to 63, not '64'\n", 11, {}, ""},
      {{}, {"fwload", "ENC1", "x", f.image}, "", "kivses: device number must be 0 to 63, not 'x'\n", 11, {}, ""},
      {{}, {"fwload", "ENC1", "5", f.empty}, "", "kivses: image: " + f.empty + " is empty\n", 11, {}, ""},
      {{}, {"fwload", "ENC1", "5", f.other}, "", "kivses: image: " + f.other + " is not a regular file\n", 11, {}, ""},
      {{}, {"fwload", "ENC1", "5", f.image + "x"}, "", "kivses: image: cannot read " + f.image + "x: No such file or "
       "directory\n", 11, {}, ""},
  });
}

// The document of a row of each verb: each path named, with its value.
TEST(Kivses, Json) {
  using J = nlohmann::json;
  const Files f;
  Sim sim;
  const struct { Words stage, args; int status; std::vector<std::pair<std::string, J>> values; } rows[] = {
      {{}, {"list", "ENC1", "--json"}, 0, {{"/json_format_version", {1, 0}}, {"/utility_invoked/name", "kivses"},
       {"/utility_invoked/argv", {"kivses", "list", "ENC1", "--json"}},
       {"/verb", "list"}, {"/serial", "ENC1"}, {"/ses_result", {{"code", 0}, {"name", "SES_Success"}}},
       {"/pages/1", {{"code", 4}, {"name", "String Out/In"}, {"short_name", "str"}}}, {"/pages/2/code", 8}, {"/messages", J::array()}}},
      {{"enclosure", "ENC1", "status=3"}, {"status", "ENC1", "--json"}, 1, {{"/status", 3}, {"/good", false}}},
      {{}, {"read", "ENC1", "str", "--json"}, 0, {{"/page", {{"code", 4}, {"name", "String Out/In"}, {"short_name", "str"}}},
       {"/length", 9}, {"/data", "0400000568656c6c6f"}}},
      {{}, {"read", "ENC1", "0x80", "--json", "--length", "4"}, 47, {{"/page/name", "vendor specific"}, {"/page/short_name", nullptr},
       {"/ses_result/code", 4101}, {"/adapter_result", {{"code", -87}, {"name", "AE_IllReqBadPageCode"}}},
       {"/messages/0/string", "kivses: ENC1: SES_ReadPage of page 0x80 failed: rc=4101 (SES_RequestFailed), adapter result "
        "AE_IllReqBadPageCode (-87)"}, {"/messages/0/severity", "error"}}},
      {{}, {"write", "ENC1", "--json", "--data", "0400000100"}, 0, {{"/page", 4}, {"/length", 5}}},
      {{}, {"string", "ENC1", "--json", "--data", "0400000100"}, 0, {{"/length", 9}, {"/data", "0400000568656c6c6f"}}},
      {{"enclosure", "ENC1", "busy=100"}, {"status", "ENC1", "--json"}, 26, {{"/ses_result/name", "SES_Busy"}}},
      {{}, {"fwload", "ENC1", "5", f.image, "--no-wait", "--json"}, 0, {{"/device", 5}, {"/image", {{"path", f.image},
       {"length", 1006}, {"sha256", "8a938abb8564245f9d0c6806e484d21d394dbc60641c27d024d3bdc03b84e6e7"}}}, {"/dry_run", false},
       {"/pages_total", 2}, {"/pages_sent", 2}, {"/bytes_sent", 1006}, {"/transferred", true}, {"/committed", true},
       {"/changed", true}, {"/waits", {{{"seconds", 10}, {"skipped", true}}, {{"seconds", 20}, {"skipped", true}},
       {{"seconds", 5}, {"skipped", true}}}}}},
      {{"enclosure", "ENC1", "status=0,3"}, {"fwload", "ENC1", "5", f.image, "--json"}, 47, {{"/pages_sent", 2},
       {"/transferred", false}, {"/committed", false}, {"/changed", false}, {"/ses_result/code", 86},
       {"/waits", {{{"seconds", 10}, {"skipped", false}}}}}},
      {{}, {"fwload", "ENC1", "5", f.image, "--dry-run", "--json"}, 0, {{"/dry_run", true}, {"/pages_sent", 0},
       {"/changed", false}, {"/plan", {{"pages", 2}, {"bytes_per_page", 503}, {"phases", {{{"phase", "start"},
       {"device_byte", 0x45}}, {{"phase", "image"}, {"device_byte", 5}}, {{"phase", "commit"}, {"device_byte", 0x85}}}},
       {"waits", {10, 20, 5}}}}}},
      {{}, {"--json", "fwload", "ENC1", "64", f.image}, 11, {{"/verb", "fwload"}, {"/serial", "ENC1"},
       {"/messages/0/string", "kivses: device number must be 0 to 63, not '64'"}}},
      {{}, {"--json", "bogus"}, 11, {{"/verb", nullptr}, {"/exit_status", 11}}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(::testing::PrintToString(row.args));
    const Traced t = runKivses(sim, {row.stage, row.args, "", "", 0, {}});
    EXPECT_EQ(t.status, row.status);
    const J doc = J::parse(t.out);
    EXPECT_EQ(doc["exit_status"], row.status);
    for (const auto& [path, value] : row.values) EXPECT_EQ(doc.value(J::json_pointer(path), J("absent")), value) << path;
  }
}

}  // namespace
