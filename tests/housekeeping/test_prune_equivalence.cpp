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

// One entry of a generated directory: a file, or a symbolic or hard link to
// a name in the directory or to an absolute path outside it.
struct Entry {
  enum Kind { File, Symbolic, Hard } kind;
  std::string name;
  long long size;
  std::time_t mtime;
  std::string target;
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

void build(const std::string& dir, const std::vector<Entry>& entries) {
  for (const Entry& e : entries) {
    const std::string at = dir + "/" + e.name;
    const std::string target = e.target.starts_with("/") ? e.target : dir + "/" + e.target;
    if (e.kind == Entry::File) hktest::makeFile(at, e.size, e.mtime);
    else if ((e.kind == Entry::Symbolic ? symlink(e.target.c_str(), at.c_str()) : link(target.c_str(), at.c_str())) != 0)
      throw std::runtime_error("link " + at);
  }
}

// A thousand generated directories per seed; the seeds are separate tests
// so that they run side by side.
class PruneEquivalence : public ::testing::TestWithParam<unsigned> {};

TEST_P(PruneEquivalence, GeneratedDirectories) {
  std::mt19937 rng(GetParam());
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  const std::time_t times[] = {0, 0, 1, 2, 2, 3, 500, 999000, 1000000, -5};
  int casesWithDeletions = 0;
  int casesWithLinksAndDeletions = 0;
  // Thousands of directories are made and removed.
  kivtest::TempDir outside(kivtest::TempDir::InMemory);
  for (int i = 0; i < 8; ++i) hktest::makeFile(outside.file(hktest::numbered("o", i)), pick(0, 600), times[pick(0, 9)]);
  ASSERT_EQ(mkdir(outside.file("sub").c_str(), 0755), 0);
  for (int c = 0; c < 1000; ++c) {
    hktest::Record setup;
    hktest::Seams seams(setup);
    KIV_MaxSpaceUsed = pick(0, 2500);
    KIV_MaxNumberOfFiles = pick(0, 10);
    const std::size_t candidateLimits[] = {1, 2, 3, 5, 4096};
    KIV_PruneCandidateLimit = candidateLimits[pick(0, 4)];
    // Files; then links, a symbolic one made either before the files (so
    // that it may come after them in directory order) or after.
    std::vector<Entry> entries;
    const int n = pick(0, 12);
    for (int i = 0; i < n; ++i) {
      entries.push_back({Entry::File, hktest::numbered("f", i) + (pick(0, 2) == 0 ? ".gz" : ""),
                         pick(0, 3) == 0 ? 0 : pick(1, 600), times[pick(0, 9)], ""});
    }
    if (n > 0 && pick(0, 3) == 0) setup.undeletable.insert(entries[static_cast<std::size_t>(pick(0, n - 1))].name);
    const int links = pick(0, 1) == 0 ? 0 : pick(1, 5);
    for (int i = 0; i < links; ++i) {
      const std::string inside = n > 0 ? entries[static_cast<std::size_t>(pick(0, n - 1))].name : "none";
      const std::string targets[] = {inside, i > 0 ? hktest::numbered("l", pick(0, i - 1)) : inside,
                                     outside.file(hktest::numbered("o", pick(0, 7))), "missing", outside.file("sub")};
      const int t = pick(0, 6);  // 5 and 6: a hard link, inside when there is a file, else outside
      Entry e{t < 5 ? Entry::Symbolic : Entry::Hard, hktest::numbered("l", i), 0, 0,
              t < 5 ? targets[t] : targets[t == 5 && n > 0 ? 0 : 2]};
      if (e.kind == Entry::Symbolic && pick(0, 1) == 0) entries.insert(entries.begin(), e);
      else entries.push_back(e);
    }
    SCOPED_TRACE(::testing::Message() << "case " << c << " files " << n << " links " << links << " space "
                                      << KIV_MaxSpaceUsed << " count " << KIV_MaxNumberOfFiles << " candidates "
                                      << KIV_PruneCandidateLimit);

    kivtest::TempDir a(kivtest::TempDir::InMemory), b(kivtest::TempDir::InMemory);
    build(a.path(), entries);
    build(b.path(), entries);
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
      if (links > 0) ++casesWithLinksAndDeletions;
    }
  }
  EXPECT_EQ(kivtest::listDir(outside.path()).size(), 9u);  // nothing outside is touched
  // The generator must exercise pruning, with links and without.
  EXPECT_GT(casesWithDeletions, 500);
  EXPECT_GT(casesWithLinksAndDeletions, 250);
}

INSTANTIATE_TEST_SUITE_P(Seeds, PruneEquivalence, ::testing::Values(20261206u, 7u, 1301u));

}  // namespace
