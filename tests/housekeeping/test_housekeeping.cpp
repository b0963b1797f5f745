#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "hktest.h"
#include "kivtestsupport.h"

namespace {

using hktest::makeFile;

// Both procedures: the project's and the one-file-per-pass reference.
struct Procedure {
  const char* name;
  void (*run)(const char*);
};
const Procedure kProcedures[] = {{"batched", KIV_HouseKeeping}, {"one per pass", KIV_HouseKeepingOnePerPass}};

std::set<std::string> gzipped(const hktest::Record& r) {
  std::set<std::string> names;
  for (const auto& call : r.gzipCalls) names.insert(call.begin(), call.end());
  return names;
}

TEST(KivCompressedLogfile, Names) {
  struct Case {
    const char* name;
    int expected;
  } cases[] = {{"a.gz", 1},   {"/var/log/kivcfg/x.123.gz", 1}, {".gz", 0}, {"gz", 0}, {"", 0},
               {"a.gzz", 0},  {"a.GZ", 0}, {"a.tgz", 0}, {"agz", 0}, {"a.gz ", 0}, {nullptr, 0}};
  for (const Case& c : cases) EXPECT_EQ(KIV_compressed_logfile(c.name), c.expected) << (c.name ? c.name : "null");
}

// The 600-second rule, the ".gz" rule, room for ".gz" in the name, this
// run's own trace, and what is not a regular file itself.
TEST(Compression, WhichFilesAreCompressed) {
  for (const Procedure& p : kProcedures) {
    SCOPED_TRACE(p.name);
    hktest::Record r;
    hktest::Seams seams(r);
    kivtest::TempDir dir;
    const std::time_t now = r.now;
    makeFile(dir.file("stale601"), 10, now - 601);
    makeFile(dir.file("exact600"), 10, now - 600);
    makeFile(dir.file("young"), 10, now - 1);
    makeFile(dir.file("future"), 10, now + 5000);
    makeFile(dir.file("ancient"), 10, 0);
    makeFile(dir.file("old.gz"), 10, now - 100000);
    makeFile(dir.file(".gz"), 10, now - 100000);  // its path ends in ".gz": left alone
    makeFile(dir.file(".hidden"), 10, now - 601);
    // gzip would shorten a name with no room for ".gz" (NAME_MAX 255), and
    // the 254- and 255-byte names would then share one ".gz".
    for (std::size_t length : {252, 253, 254, 255}) makeFile(dir.file(std::string(length, 'n')), 10, now - 601);
    // Named as this run's trace, but this run did not open it.
    makeFile(dir.file("own"), 10, now);
    std::snprintf(DebugStreamName, kDebugStreamNameSize, "%s", dir.file("own").c_str());
    ASSERT_EQ(mkdir(dir.file("sub").c_str(), 0755), 0);
    hktest::setMtime(dir.file("sub"), now - 100000);
    ASSERT_EQ(mkfifo(dir.file("pipe").c_str(), 0644), 0);
    hktest::setMtime(dir.file("pipe"), now - 100000);
    ASSERT_EQ(symlink("pipe", dir.file("linktopipe").c_str()), 0);
    ASSERT_EQ(symlink("stale601", dir.file("linktostale").c_str()), 0);
    ASSERT_EQ(symlink("nowhere", dir.file("dangling").c_str()), 0);

    p.run(dir.path().c_str());
    EXPECT_EQ(gzipped(r), (std::set<std::string>{"stale601", "ancient", ".hidden", std::string(252, 'n')}));
    EXPECT_TRUE(r.unlinked.empty());
  }
}

TEST(Compression, BatchesAreBoundedAndOnePerFileInReference) {
  hktest::Record r;
  hktest::Seams seams(r);
  kivtest::TempDir dir;
  for (int i = 0; i < 7; ++i) makeFile(dir.file(hktest::numbered("t", i)), 1, 1);
  KIV_GzipBatchLimit = 3;
  KIV_HouseKeeping(dir.path().c_str());
  ASSERT_EQ(r.gzipCalls.size(), 3u);
  EXPECT_EQ(r.gzipCalls[0].size(), 3u);
  EXPECT_EQ(r.gzipCalls[1].size(), 3u);
  EXPECT_EQ(r.gzipCalls[2].size(), 1u);
  EXPECT_EQ(gzipped(r).size(), 7u);

  r.gzipCalls.clear();
  KIV_HouseKeepingOnePerPass(dir.path().c_str());
  EXPECT_EQ(r.gzipCalls.size(), 7u);
}

// Real gzip on a name that a shell would split and expand: it is compressed
// like any other and nothing else runs. The paths handed to gzip begin with
// the directory, here one named "-n", which gzip would read as options
// without the "--" before them.
TEST(Compression, HostileNameReachesGzipAsOneArgument) {
  kivtest::TempDir top;
  const std::string dir = top.file("-n");
  ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
  const std::string hostile = "a b 'c\" ;$(touch pwned);`touch pwned2` -x";
  const std::string contents = "trace line one\ntrace line two\n";
  auto result = kivtest::runInChild([&] {
    hktest::Record r;
    hktest::Seams seams(r);
    KIV_RunGzip = hktest::realGzip;
    if (chdir(top.path().c_str()) != 0) _exit(3);
    for (const std::string& name : {hostile, std::string("plain"), std::string("-f")}) {
      kivtest::writeFile(dir + "/" + name, contents);
      hktest::setMtime(dir + "/" + name, r.now - 601);
    }
    KIV_HouseKeeping("-n");
    if (r.gzipCalls.size() != 1) _exit(4);
  });
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(kivtest::listDir(top.path()), std::vector<std::string>{"-n"});
  EXPECT_EQ(kivtest::listDir(dir), (std::vector<std::string>{"-f.gz", hostile + ".gz", "plain.gz"}));
  auto unpacked = kivtest::runProgram("/bin/gzip", {"gzip", "-dc", "--", dir + "/" + hostile + ".gz"});
  EXPECT_EQ(unpacked.status, 0);
  EXPECT_EQ(unpacked.out, contents);
}

TEST(Compression, GzipFailureIsIgnored) {
  hktest::Record r;
  hktest::Seams seams(r);
  kivtest::TempDir dir;
  makeFile(dir.file("stale"), 5, 1);
  KIV_RunGzip = [](std::span<const std::string>) { return 256; };
  KIV_MaxNumberOfFiles = 0;  // the uncompressed file is still counted and pruned
  KIV_HouseKeeping(dir.path().c_str());
  EXPECT_EQ(r.unlinked, std::vector<std::string>{"stale"});
}

// Pipes, links to pipes and subdirectories are neither counted nor opened;
// the walk must finish (run in a child with a deadline in case it hangs).
TEST(Pruning, NonRegularEntriesAreNotCountedOrOpened) {
  kivtest::TempDir dir;
  ASSERT_EQ(mkfifo(dir.file("pipe").c_str(), 0644), 0);
  ASSERT_EQ(symlink("pipe", dir.file("linktopipe").c_str()), 0);
  ASSERT_EQ(mkdir(dir.file("sub").c_str(), 0755), 0);
  makeFile(dir.file("sub/inner"), 100, 1);
  makeFile(dir.file("old"), 100, 10);
  makeFile(dir.file("new"), 100, 20);
  auto result = kivtest::runInChild(
      [&] {
        hktest::Record r;
        hktest::Seams seams(r);
        KIV_RunGzip = hktest::realGzip;
        KIV_MaxNumberOfFiles = 1;
        KIV_HouseKeeping(dir.path().c_str());
        struct stat st;
        if (stat((dir.path() + "/new.gz").c_str(), &st) != 0) _exit(5);
        if (NumberOfFiles != 1 || TotalSpaceUsed != st.st_size) _exit(4);
      },
      30);
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(kivtest::listDir(dir.path()), (std::vector<std::string>{"linktopipe", "new.gz", "pipe", "sub"}));
  EXPECT_EQ(kivtest::listDir(dir.file("sub")), std::vector<std::string>{"inner"});
}

struct LimitCase {
  const char* what;
  long long spaceLimit;
  int countLimit;
  std::vector<long long> sizes;  // oldest first
  std::vector<std::string> deleted;
};

TEST(Pruning, StrictLimitsOldestFirst) {
  const LimitCase cases[] = {
      {"at both limits", 300, 3, {100, 100, 100}, {}},
      {"one byte over", 300, 3, {100, 100, 101}, {"f0"}},
      {"over until size fits", 200, 10, {100, 100, 100, 1, 99, 2}, {"f0", "f1", "f2"}},
      {"one file over", 100000, 3, {1, 1, 1, 1}, {"f0"}},
      {"many files over", 100000, 1, {1, 1, 1, 1}, {"f0", "f1", "f2"}},
      {"both over", 10, 2, {5, 5, 5, 5}, {"f0", "f1"}},
      {"zero limits", 0, 0, {0, 7}, {"f0", "f1"}},
      {"empty files count", 0, 0, {0, 0}, {"f0", "f1"}},
  };
  for (const LimitCase& c : cases) {
    for (const Procedure& p : kProcedures) {
      SCOPED_TRACE(std::string(c.what) + " / " + p.name);
      hktest::Record r;
      hktest::Seams seams(r);
      KIV_MaxSpaceUsed = c.spaceLimit;
      KIV_MaxNumberOfFiles = c.countLimit;
      kivtest::TempDir dir;
      for (std::size_t i = 0; i < c.sizes.size(); ++i)
        makeFile(dir.file(hktest::numbered("f", i) + ".gz"), c.sizes[i], 1000 + static_cast<std::time_t>(i));
      p.run(dir.path().c_str());
      std::vector<std::string> expected;
      for (const std::string& d : c.deleted) expected.push_back(d + ".gz");
      EXPECT_EQ(r.unlinked, expected);
    }
  }
}

TEST(Pruning, EqualTimesFollowDirectoryOrderAndTimeZeroIsOldest) {
  for (const Procedure& p : kProcedures) {
    SCOPED_TRACE(p.name);
    hktest::Record r;
    hktest::Seams seams(r);
    kivtest::TempDir dir;
    for (const char* name : {"m", "c", "x", "a", "q"}) makeFile(dir.file(name), 1, 50);
    makeFile(dir.file("epoch"), 1, 0);
    std::vector<std::string> order = hktest::readdirOrder(dir.path());
    order.erase(std::find(order.begin(), order.end(), "epoch"));
    KIV_MaxNumberOfFiles = 3;
    p.run(dir.path().c_str());
    EXPECT_EQ(r.unlinked, (std::vector<std::string>{"epoch", order[0], order[1]}));
  }
}

TEST(Pruning, FailedDeletionStopsForGood) {
  for (bool bySize : {false, true}) {
    for (const Procedure& p : kProcedures) {
      SCOPED_TRACE(std::string(p.name) + (bySize ? " size" : " count"));
      hktest::Record r;
      hktest::Seams seams(r);
      KIV_MaxSpaceUsed = bySize ? 10 : 1000;
      KIV_MaxNumberOfFiles = bySize ? 100 : 1;
      kivtest::TempDir dir;
      makeFile(dir.file("a"), 10, 1);
      makeFile(dir.file("b"), 10, 2);
      makeFile(dir.file("c"), 10, 3);
      r.undeletable = {"b"};
      p.run(dir.path().c_str());
      EXPECT_EQ(r.unlinked, std::vector<std::string>{"a"});
      EXPECT_EQ(r.refused, std::vector<std::string>{"b"});
      EXPECT_EQ(TotalSpaceUsed, 0);
      EXPECT_EQ(NumberOfFiles, 0);
      EXPECT_EQ(kivtest::listDir(dir.path()), (std::vector<std::string>{"b", "c"}));
    }
  }
}

// Another run holds the directory: housekeeping waits for it (through the
// sleep seam, so no real time passes), tidies once it is free, and leaves
// everything as it is when it stays held past the bound.
TEST(Pruning, WaitsABoundedTimeForTheDirectoryLock) {
  for (int releaseAfter : {3, -1}) {
    for (const Procedure& p : kProcedures) {
      SCOPED_TRACE(::testing::Message() << p.name << " release after " << releaseAfter);
      hktest::Record r;
      hktest::Seams seams(r);
      KIV_MaxNumberOfFiles = 1;
      KIV_HouseKeepingLockWait = 100;
      kivtest::TempDir dir;
      makeFile(dir.file("a"), 1, 1);
      makeFile(dir.file("b"), 1, 2);
      r.lockHolder = open(dir.path().c_str(), O_RDONLY | O_DIRECTORY);
      ASSERT_EQ(flock(r.lockHolder, LOCK_EX), 0);
      r.releaseAfter = releaseAfter;
      p.run(dir.path().c_str());
      EXPECT_EQ(r.sleeps, releaseAfter > 0 ? releaseAfter : 10);
      EXPECT_EQ(r.unlinked, releaseAfter > 0 ? std::vector<std::string>{"a"} : std::vector<std::string>{});
      EXPECT_EQ(gzipped(r).size(), releaseAfter > 0 ? 2u : 0u);
      if (releaseAfter < 0) close(r.lockHolder);
      // Released on return, and no lock file left behind.
      int again = open(dir.path().c_str(), O_RDONLY | O_DIRECTORY);
      EXPECT_EQ(flock(again, LOCK_EX | LOCK_NB), 0);
      close(again);
      EXPECT_EQ(kivtest::listDir(dir.path()).size(), releaseAfter > 0 ? 1u : 2u);
    }
  }
}

TEST(Pruning, EmptyOrMissingDirectory) {
  for (const Procedure& p : kProcedures) {
    SCOPED_TRACE(p.name);
    hktest::Record r;
    hktest::Seams seams(r);
    KIV_MaxNumberOfFiles = 0;
    kivtest::TempDir dir;
    unsigned long before = KIV_DirectoryPasses;
    p.run(dir.path().c_str());
    EXPECT_EQ(KIV_DirectoryPasses - before, 2u);  // one compression pass, one pruning pass
    before = KIV_DirectoryPasses;
    p.run(dir.file("missing").c_str());
    EXPECT_EQ(KIV_DirectoryPasses - before, 2u);
    EXPECT_EQ(TotalSpaceUsed, 0);
    EXPECT_EQ(NumberOfFiles, 0);
    EXPECT_FALSE(OldestFileFound);
    EXPECT_TRUE(r.unlinked.empty());
    EXPECT_TRUE(r.gzipCalls.empty());
  }
}

// The per-file functions of the reference walk skip a file that has gone.
TEST(Callbacks, VanishedFileIsSkipped) {
  hktest::Record r;
  hktest::Seams seams(r);
  kivtest::TempDir dir;
  const std::string gone = dir.file("gone");
  ScanDirectory(dir.path().c_str(), EmptyFunction, EmptyFunction);
  FindOldestCompressedFile(gone.c_str());
  CompressUncompressedEntry(gone.c_str());
  EXPECT_EQ(NumberOfFiles, 0);
  EXPECT_EQ(TotalSpaceUsed, 0);
  EXPECT_FALSE(OldestFileFound);
  EXPECT_TRUE(r.gzipCalls.empty());
  EXPECT_STREQ(EmptyFunction("x"), "x");
}

// A joined path that does not fit its buffer is skipped, never cut: cut, it
// could name another file, which pruning would then delete.
TEST(Pruning, PathTooLongIsSkippedNotCut) {
  kivtest::TempDir top;
  std::string dir = top.path();
  while (dir.size() + 101 <= 3900) {
    dir += '/';
    dir.append(100, 'd');
    ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
  }
  const std::size_t fill = 3999 - dir.size();
  dir += '/';
  dir.append(fill, 'e');  // the directory path is 4000 bytes
  ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
  // dir + "/" + name is 4095 bytes, the most that fits: the long name cut
  // to fit its buffer would name exactly this file.
  const std::string shortName(4095 - dir.size() - 1, 'f');
  const std::string longName = shortName + std::string(100, 'X');
  ASSERT_EQ(dir.size() + 1 + shortName.size(), 4095u);
  int dfd = open(dir.c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(dfd, 0);
  int fd = openat(dfd, longName.c_str(), O_WRONLY | O_CREAT, 0644);
  ASSERT_GE(fd, 0);
  close(fd);
  struct timespec old[2] = {{1, 0}, {1, 0}};
  ASSERT_EQ(utimensat(dfd, longName.c_str(), old, 0), 0);
  close(dfd);
  makeFile(dir + "/" + shortName, 1, 100);

  for (const Procedure& p : kProcedures) {
    SCOPED_TRACE(p.name);
    hktest::Record r;
    hktest::Seams seams(r);
    KIV_MaxNumberOfFiles = 1;
    p.run(dir.c_str());
    EXPECT_TRUE(r.unlinked.empty());
    EXPECT_EQ(NumberOfFiles, 1);
    EXPECT_EQ(gzipped(r), std::set<std::string>{shortName});  // the long one is not handed to gzip either
  }
  EXPECT_EQ(hktest::readdirOrder(dir).size(), 2u);
  dfd = open(dir.c_str(), O_RDONLY | O_DIRECTORY);
  unlinkat(dfd, longName.c_str(), 0);  // too long for TempDir's own path-based removal
  close(dfd);
}

// The real limits: exactly 6,000,000 bytes in 50,000 files lose nothing;
// one file more loses the oldest; one byte more loses the next oldest.
TEST(Pruning, RealLimits) {
  hktest::Record r;
  hktest::Seams seams(r);
  ASSERT_EQ(KIV_MaxSpaceUsed, 6000000);
  ASSERT_EQ(KIV_MaxNumberOfFiles, 50000);
  kivtest::TempDir dir(kivtest::TempDir::InMemory);
  const std::time_t young = r.now;  // not stale, so no compression either
  for (int i = 0; i < 10; ++i) makeFile(dir.file(hktest::numbered("old", i)), 1, 1000 + i);
  makeFile(dir.file("big"), 6000000 - 10, young);
  int dfd = open(dir.path().c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(dfd, 0);
  for (int i = 0; i < 50000 - 11; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "e%05d", i);
    int fd = openat(dfd, name, O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    close(fd);
  }
  close(dfd);

  KIV_HouseKeeping(dir.path().c_str());
  EXPECT_TRUE(r.unlinked.empty());
  EXPECT_EQ(NumberOfFiles, 50000);
  EXPECT_EQ(TotalSpaceUsed, 6000000);

  makeFile(dir.file("extra"), 0, young);
  KIV_HouseKeeping(dir.path().c_str());
  EXPECT_EQ(r.unlinked, std::vector<std::string>{"old0"});
  EXPECT_EQ(NumberOfFiles, 50000);

  ASSERT_EQ(truncate(dir.file("big").c_str(), 6000000 - 10 + 2), 0);  // 6,000,001 bytes
  hktest::setMtime(dir.file("big"), young);
  r.unlinked.clear();
  unsigned long before = KIV_DirectoryPasses;
  KIV_HouseKeeping(dir.path().c_str());
  EXPECT_EQ(r.unlinked, std::vector<std::string>{"old1"});
  EXPECT_EQ(TotalSpaceUsed, 6000000);
  EXPECT_EQ(KIV_DirectoryPasses - before, 3u);  // compression, the deleting pass, the recount
}

}  // namespace
