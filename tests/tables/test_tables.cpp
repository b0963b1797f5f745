// The code-to-name lookups: the cases that matter, the trace line of a
// failed lookup, and a joined text cut at a whole name within 255
// characters.
#include <gtest/gtest.h>

#include "debug/kivdebug.h"
#include "kivtestsupport.h"

const std::string kA(127, 'A'), kB(127, 'B'), kB128(128, 'B'), kZ(256, 'Z');
// Joins that fill 255 characters or would pass them, and a walk that ends
// at the first row whose Input2 is 5.
const TwoInputStringRow kTable[] = {{1, 1, kA.c_str()}, {1, 2, kB.c_str()}, {2, 1, kA.c_str()},
                                    {2, 2, kB128.c_str()}, {2, 3, "C"}, {3, 1, kZ.c_str()}, {4, 5, "stop"},
                                    {4, 1, "after"}, {65535, 5, "end"}};

constexpr const char* kFailure = "kivdebug:TwoInputStringLookup: Failed to match Input1 ";

// Each lookup in a traced run: 'E' GetDebugErrorString(a, b), 'A'
// GetAdapterTransactionName(a, b), 'I' GetIaclTransactionName(a), 'T' the
// table above; with the Input1 and Input2 of the failure line it traces.
TEST(Tables, Lookups) {
  struct Row { char table; std::int32_t a, b; std::string name; const char* failure = nullptr; };
  const std::vector<Row> rows = {
      {'E', -689, 1, "AE_LoopDown"}, {'E', -32768, 1, "AE_Incomplete"}, {'E', 255, 2, "DP_Pending"},
      {'E', 1, 0, "AS_Warning?DS_Warning?FC_IACLVersion"},
      {'E', 43, 0, "FC_CoupleResrcCandCount?FN_ISALMgr_AssignManualResrcID"},
      {'E', -1, 2, "", "0xffffffff Input2 0x2"}, {'E', 65535, 0, "", "0xffff Input2 0x0"},
      {'E', 65535, 5, "", "0xffff Input2 0x5"}, {'A', 7, 96, "FN_ADAP_ServiceMode"},
      {'A', 96, 7, "", "0x7 Input2 0x60"}, {'A', 0, 200, "FN_ADAP_Unslander"}, {'A', 7, 160, "", "0xa0 Input2 0x7"},
      {'I', 62, 0, "FC_RebuildParity"}, {'I', 101, 0, "", "0x65 Input2 0x1"}, {'T', 1, 0, kA + "?" + kB},
      {'T', 2, 0, kA}, {'T', 3, 0, ""},  // (3, 0) matched, though its name does not fit: no failure line
      {'T', 4, 1, "", "0x4 Input2 0x1"}};
  const kivtest::Traced t = kivtest::runTraced([&] {
    for (const Row& r : rows) {
      std::printf("%s\n", r.table == 'E'   ? GetDebugErrorString(r.a, r.b)
                          : r.table == 'A' ? GetAdapterTransactionName(r.a, r.b)
                          : r.table == 'I' ? GetIaclTransactionName(r.a) : TwoInputStringLookup(r.a, r.b, kTable));
    }
    const char* first = GetDebugErrorString(-8, 1);  // every lookup returns the one buffer
    std::printf("%s", GetIaclTransactionName(1) == first ? first : "?");
  });
  std::string names;
  std::vector<std::string> failures;
  for (const Row& r : rows) {
    names += r.name + "\n";
    if (r.failure != nullptr) failures.push_back(std::string(kFailure) + r.failure);
  }
  EXPECT_EQ(t.out, names + "FC_IACLVersion");
  EXPECT_EQ(t.events, failures);
}

// The SES page names: a named code, the two ranges without names, and the
// short names a command line takes, alias included.
TEST(Tables, SesPageNames) {
  const struct { std::uint8_t code; std::string name, shortName; } rows[] = {
      {0x00, "Supported Diagnostic Pages", "sdp"}, {0x02, "Enclosure Control/Status", "ec"}, {0x04, "String Out/In", "str"},
      {0x08, "Short Enclosure Status", "ses"}, {0x0E, "Download Microcode Control/Status", "dm"},
      {0x10, "reserved", ""}, {0x7F, "reserved", ""}, {0x80, "vendor specific", ""}, {0xFF, "vendor specific", ""}};
  for (const auto& r : rows) {
    const char* shortName = KIV_SesPageShortName(r.code);
    EXPECT_EQ(KIV_SesPageName(r.code) + std::string("/") + (shortName ? shortName : ""), r.name + "/" + r.shortName);
    std::uint8_t code = 0xAA;
    EXPECT_EQ(KIV_FindSesPageByShortName(r.shortName.c_str(), &code) ? code : -1, r.shortName.empty() ? -1 : r.code);
  }
  std::uint8_t code = 0;
  EXPECT_TRUE(KIV_FindSesPageByShortName("es", &code) && code == 2);
  EXPECT_FALSE(KIV_FindSesPageByShortName("SES", &code) || KIV_FindSesPageByShortName(nullptr, &code));
}
