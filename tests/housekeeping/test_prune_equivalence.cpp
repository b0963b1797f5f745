// Pruning many passes at once must delete exactly what deleting one oldest
// file per pass deletes, in the same order.
#include <gtest/gtest.h>

#include <random>
#include <stdexcept>
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

// An entry besides the plain files: a symbolic link (to a file of the
// directory, to a link there, to a file outside, to nothing, to a
// subdirectory) or a hard link (to a file of the directory or outside).
struct LinkEntry {
  std::string name;
  bool symbolic;
  std::string target;  // a name in the directory, or an absolute path
  bool early;          // made before the files, so it may come after them in directory order
};

void build(const std::string& dir, const std::vector<LinkEntry>& links, bool early) {
  for (const LinkEntry& l : links) {
    if (l.early != early) continue;
    const std::string at = dir + "/" + l.name;
    int rc = l.symbolic ? symlink(l.target.c_str(), at.c_str())
                        : link((l.target.starts_with("/") ? l.target : dir + "/" + l.target).c_str(), at.c_str());
    if (rc != 0) throw std::runtime_error("link " + at);
  }
}

TEST(PruneEquivalence, GeneratedDirectories) {
  std::mt19937 rng(20261206);
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  const std::time_t times[] = {0, 0, 1, 2, 2, 3, 500, 999000, 1000000, -5};
  int casesWithDeletions = 0;
  int casesWithLinksAndDeletions = 0;
  // Thousands of directories are made and removed.
  kivtest::TempDir outside(kivtest::TempDir::InMemory);
  for (int i = 0; i < 8; ++i) hktest::makeFile(outside.file("o" + std::to_string(i)), pick(0, 600), times[pick(0, 9)]);
  ASSERT_EQ(mkdir(outside.file("sub").c_str(), 0755), 0);
  for (int c = 0; c < 2000; ++c) {
    hktest::Record setup;
    hktest::Seams seams(setup);
    KIV_MaxSpaceUsed = pick(0, 2500);
    KIV_MaxNumberOfFiles = pick(0, 10);
    const std::size_t candidateLimits[] = {1, 2, 3, 5, 4096};
    KIV_PruneCandidateLimit = candidateLimits[pick(0, 4)];
    std::vector<FileEntry> files;
    const int n = pick(0, 12);
    for (int i = 0; i < n; ++i) {
      long long size = pick(0, 3) == 0 ? 0 : pick(1, 600);
      files.push_back({"f" + std::to_string(i) + (pick(0, 2) == 0 ? ".gz" : ""), size, times[pick(0, 9)]});
    }
    std::vector<LinkEntry> links;
    const int linkCount = pick(0, 1) == 0 ? 0 : pick(1, 5);
    for (int i = 0; i < linkCount; ++i) {
      const std::string name = "l" + std::to_string(i);
      const std::string inside = n > 0 ? files[pick(0, n - 1)].name : "none";
      const std::string out = outside.file("o" + std::to_string(pick(0, 7)));
      const bool early = pick(0, 1) == 0;
      switch (pick(0, 6)) {
        case 0: links.push_back({name, true, inside, early}); break;
        case 1: links.push_back({name, true, i > 0 ? "l" + std::to_string(pick(0, i - 1)) : inside, early}); break;
        case 2: links.push_back({name, true, out, early}); break;
        case 3: links.push_back({name, true, "missing", early}); break;
        case 4: links.push_back({name, true, outside.file("sub"), early}); break;
        case 5: if (n > 0) links.push_back({name, false, inside, false}); break;
        default: links.push_back({name, false, out, false}); break;
      }
    }
    if (n > 0 && pick(0, 3) == 0) setup.undeletable.insert(files[pick(0, n - 1)].name);
    SCOPED_TRACE("case " + std::to_string(c) + " files " + std::to_string(n) + " links " +
                 std::to_string(links.size()) + " space " + std::to_string(KIV_MaxSpaceUsed) + " count " +
                 std::to_string(KIV_MaxNumberOfFiles) + " candidates " + std::to_string(KIV_PruneCandidateLimit));

    kivtest::TempDir a(kivtest::TempDir::InMemory), b(kivtest::TempDir::InMemory);
    for (const std::string& dir : {a.path(), b.path()}) {
      build(dir, links, true);
      build(dir, files);
      build(dir, links, false);
    }
    // Both procedures must see the same directory order for the ties.
    ASSERT_EQ(hktest::readdirOrder(a.path()), hktest::readdirOrder(b.path()));

    Outcome literal = run(KIV_HouseKeepingOnePerPass, a.path(), setup);
    Outcome fast = run(KIV_HouseKeeping, b.path(), setup);
    ASSERT_EQ(fast.unlinked, literal.unlinked);
    ASSERT_EQ(fast.refused, literal.refused);
    ASSERT_EQ(fast.left, literal.left);
    ASSERT_LE(fast.passes, literal.passes);
    if (!literal.unlinked.empty()) {
      ++casesWithDeletions;
      if (!links.empty()) ++casesWithLinksAndDeletions;
    }
  }
  EXPECT_EQ(kivtest::listDir(outside.path()).size(), 9u);  // nothing outside is touched
  // The generator must exercise pruning, with links and without.
  EXPECT_GT(casesWithDeletions, 1000);
  EXPECT_GT(casesWithLinksAndDeletions, 500);
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
