// Pruning many passes at once must delete exactly what deleting one oldest
// file per pass deletes, in the same order.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "hktest.h"
#include "kivtestsupport.h"

namespace {

struct FileEntry {
  std::string name;
  long long size;
  std::time_t mtime;
};

struct Outcome {
  std::vector<std::string> unlinked;
  std::vector<std::string> refused;
  std::vector<std::string> left;
  unsigned long passes;
};

Outcome run(void (*housekeeping)(const char*), const std::string& dir, const hktest::Record& setup) {
  hktest::Record r = setup;
  hktest::current = &r;
  unsigned long before = KIV_DirectoryPasses;
  housekeeping(dir.c_str());
  return {r.unlinked, r.refused, kivtest::listDir(dir), KIV_DirectoryPasses - before};
}

void build(const std::string& dir, const std::vector<FileEntry>& files) {
  for (const FileEntry& f : files) hktest::makeFile(dir + "/" + f.name, f.size, f.mtime);
}

TEST(PruneEquivalence, GeneratedDirectories) {
  std::mt19937 rng(20261206);
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  const std::time_t times[] = {0, 0, 1, 2, 2, 3, 500, 999000, 1000000, -5};
  int casesWithDeletions = 0;
  for (int c = 0; c < 300; ++c) {
    hktest::Record setup;
    hktest::Seams seams(setup);
    KIV_MaxSpaceUsed = pick(0, 4000);
    KIV_MaxNumberOfFiles = pick(0, 20);
    const std::size_t candidateLimits[] = {1, 2, 3, 5, 4096};
    KIV_PruneCandidateLimit = candidateLimits[pick(0, 4)];
    std::vector<FileEntry> files;
    int n = pick(0, 30);
    for (int i = 0; i < n; ++i) {
      long long size = pick(0, 3) == 0 ? 0 : pick(1, 600);
      files.push_back({'f' + std::to_string(c) + "_" + std::to_string(i) + (pick(0, 2) == 0 ? ".gz" : ""), size,
                       times[pick(0, 9)]});
    }
    if (n > 0 && pick(0, 3) == 0) setup.undeletable.insert(files[pick(0, n - 1)].name);
    SCOPED_TRACE("case " + std::to_string(c) + " files " + std::to_string(n) + " space " +
                 std::to_string(KIV_MaxSpaceUsed) + " count " + std::to_string(KIV_MaxNumberOfFiles) +
                 " candidates " + std::to_string(KIV_PruneCandidateLimit));

    kivtest::TempDir a, b;
    build(a.path(), files);
    build(b.path(), files);
    // Both procedures must see the same directory order for the ties.
    ASSERT_EQ(hktest::readdirOrder(a.path()), hktest::readdirOrder(b.path()));

    Outcome literal = run(KIV_HouseKeepingOnePerPass, a.path(), setup);
    Outcome fast = run(KIV_HouseKeeping, b.path(), setup);
    EXPECT_EQ(fast.unlinked, literal.unlinked);
    EXPECT_EQ(fast.refused, literal.refused);
    EXPECT_EQ(fast.left, literal.left);
    EXPECT_LE(fast.passes, literal.passes);
    if (!literal.unlinked.empty()) ++casesWithDeletions;
  }
  EXPECT_GT(casesWithDeletions, 100);  // the generator must exercise pruning
}

// A directory at its limits that gains one file per run: no more passes
// than one file per pass, whichever limit the new file breaks.
TEST(PruneEquivalence, OneNewFilePerRun) {
  for (bool bySize : {false, true}) {
    SCOPED_TRACE(bySize ? "size" : "count");
    hktest::Record setup;
    hktest::Seams seams(setup);
    KIV_MaxSpaceUsed = bySize ? 1000 : 100000;
    KIV_MaxNumberOfFiles = bySize ? 1000 : 10;
    kivtest::TempDir a, b;
    std::vector<FileEntry> files;
    for (int i = 0; i < 10; ++i) files.push_back({"base" + std::to_string(i), 100, 100 + i});
    build(a.path(), files);
    build(b.path(), files);
    for (int runNo = 0; runNo < 5; ++runNo) {
      std::vector<FileEntry> more{{"new" + std::to_string(runNo), 100, 200 + runNo}};
      build(a.path(), more);
      build(b.path(), more);
      Outcome literal = run(KIV_HouseKeepingOnePerPass, a.path(), setup);
      Outcome fast = run(KIV_HouseKeeping, b.path(), setup);
      EXPECT_EQ(fast.unlinked, literal.unlinked);
      EXPECT_EQ(fast.unlinked.size(), 1u);
      EXPECT_LE(fast.passes, literal.passes);
    }
  }
}

}  // namespace
