// Housekeeping of the trace directory: what is compressed and what deleted,
// in which order, for directories described entry by entry; the batched
// pruning against the one-file-per-pass procedure on generated directories;
// and gzip itself on names that a shell would split.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <memory>
#include <numeric>
#include <random>
#include <set>
#include <sstream>

#include <gtest/gtest.h>

#include "debug/kivhousekeeping.h"
#include "debug/kivtrace.h"
#include "kivtestsupport.h"

constexpr std::time_t kNow = 1000000;
// What housekeeping did: the files handed to gzip, the deletions tried in
// order ("!" before a refused one), the waits for the directory lock; and
// the files it may not delete.
static struct { std::vector<std::string> gz, rm; std::set<std::string> undeletable; int waits, lockFd, release; std::string dir; } g;

static std::string baseName(const std::string& path) { return path.substr(path.rfind('/') + 1); }
static std::string joined(const std::vector<std::string>& names) {
  return std::accumulate(names.begin(), names.end(), std::string(), [](std::string s, auto& n) { return s + ' ' + n; });
}

// Makes entries in the current directory, one per word:
//   name:size:age  a file of size bytes, modified age seconds before now
//                  ("!name:..." cannot be deleted, "=name:..." is this
//                  run's own trace, "*name:..." is writable by all)
//   name/  name|   a subdirectory, a FIFO (both modified at time 0)
//   name@target    a symbolic link     name+target  a hard link
//   #count         that many empty files named by number, made now (later
//                  than kNow); the row runs the batched procedure only
static void build(const std::string& words) {
  std::istringstream in(words);
  for (std::string w; in >> w;) {
    if (w[0] == '#') for (int i = std::atoi(&w[1]); i > 0; --i) mknod(std::to_string(i).c_str(), S_IFREG | 0644, 0);
    if (w[0] == '!') g.undeletable.insert(w.erase(0, 1).substr(0, w.find(':')));
    const bool writable = w[0] == '*';
    if (writable) w.erase(0, 1);
    if (w[0] == '=') std::snprintf(DebugStreamName, sizeof DebugStreamName, "%s/%s", g.dir.c_str(), w.erase(0, 1).substr(0, w.find(':')).c_str());
    const std::size_t at = w.find_first_of(":/|@+");
    if (at == std::string::npos) continue;
    const std::string name = w.substr(0, at), rest = w.substr(at + 1);
    if (w[at] == ':') kivtest::writeFile(name, std::string(std::stoul(rest), 'x'));
    if (writable) chmod(name.c_str(), 0666);
    if (w[at] == '+') link(rest.c_str(), name.c_str());
    if (w[at] == '@') symlink(rest.c_str(), name.c_str());
    if (w[at] == '/') mkdir(name.c_str(), 0755);
    if (w[at] == '|') mkfifo(name.c_str(), 0644);
    const std::time_t mtime = w[at] == ':' ? kNow - std::stol(rest.substr(rest.find(':') + 1)) : 0;
    const struct timespec t[2] = {{mtime, 0}, {mtime, 0}};
    if (w[at] != '+') utimensat(AT_FDCWD, name.c_str(), t, AT_SYMLINK_NOFOLLOW);
  }
}

// files, space: limits in place of the real ones (-1: the real one); lock: another run holds the directory
// for that many waits, -1 for ever.
struct Row { std::string entries, outcome; int files = -1; std::int64_t space = -1; int lock = 0; };

// Runs procedure on a directory made of row.entries (">" first: in a
// directory whose path is 4000 bytes; "?": a missing directory), with the
// seams recording, and tells what it did: "gz: <names sorted> | rm:
// <deletions in order> | counted <files>", and " | waits <n>" when it waited
// for the lock. Files of a tie, named "~...", show as "~" and their place in
// directory order.
static std::string tidy(const Row& row, void (*procedure)(const char*)) {
  g = {};
  KIV_UnlinkFile = [](int dirfd, const char* path) {
    g.rm.push_back(std::string(g.undeletable.count(baseName(path)) != 0 ? "!" : "") + baseName(path));
    return g.rm.back()[0] == '!' ? -1 : unlinkat(dirfd, path, 0);
  };
  KIV_RunGzip = [](int, auto names) { for (const std::string& n : names) g.gz.push_back(n); return 0; };
  KIV_HouseKeepingNow = [] { return kNow; };
  KIV_HouseKeepingSleep = [](unsigned) { if (++g.waits == g.release) close(g.lockFd); };
  if (row.files >= 0) KIV_MaxNumberOfFiles = row.files;
  if (row.space >= 0) KIV_MaxSpaceUsed = row.space;
  kivtest::TempDir tmp(kivtest::TempDir::InMemory);
  std::string dir = tmp.path();
  while (row.entries.starts_with('>') && dir.size() < 4000)
    mkdir((dir += '/' + std::string(std::min<std::size_t>(200, 3999 - dir.size()), 'd')).c_str(), 0755);
  if (chdir(dir.c_str()) != 0) return "no directory";
  g.dir = dir;
  build(row.entries);
  std::map<std::string, std::size_t> tie;
  const std::unique_ptr<DIR, int (*)(DIR*)> d(opendir("."), closedir);
  while (const dirent* e = readdir(d.get())) if (*e->d_name == '~') tie.emplace(e->d_name, tie.size());
  g.lockFd = row.lock != 0 ? open(".", O_RDONLY | O_DIRECTORY) : -1;
  g.release = flock(g.lockFd, LOCK_EX) == 0 ? row.lock : 0;
  procedure((dir + (row.entries == "?" ? "/missing" : "")).c_str());
  FindOldestCompressedFile((dir + "/gone").c_str());  // a file gone between the walk and its own status read
  CompressUncompressedEntry((dir + "/gone").c_str());
  for (std::string& n : g.rm) n = tie.count(n) != 0 ? '~' + std::to_string(tie[n]) : n;
  std::sort(g.gz.begin(), g.gz.end());
  std::string writable;  // files that others may still write
  for (const std::string& n : kivtest::listDir(".")) {
    struct stat st;
    if (lstat(n.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & (S_IWGRP | S_IWOTH)) != 0) writable += ' ' + n;
    if (unlink(n.c_str()) != 0) kivtest::removeTree(n);
  }
  return "gz:" + joined(g.gz) + " | rm:" + joined(g.rm) + " | counted " + std::to_string(NumberOfFiles) +
         (g.waits != 0 ? " | waits " + std::to_string(g.waits) : "") + (writable.empty() ? "" : " | writable:" + writable);
}

const std::string n252(252, 'n'), n253(253, 'n'), f94(94, 'f');
const std::vector<Row> kDirectories = {
    // Compressed: a regular file with no other name, more than 600 s old,
    // not ending in ".gz", with room for ".gz" in its name.
    {"stale:1:601 edge:1:600 young:1:0 epoch:1:1000000 .hidden:1:601 old.gz:1:9999 .gz:1:9999",
     "gz: .hidden epoch stale | rm: | counted 7"},
    {n252 + ":1:601 " + n253 + ":1:601", "gz: " + n252 + " | rm: | counted 2"},
    {"a:1:601 b:1:601 sym@a hard+b dangling@nowhere pipe| topipe@pipe", "gz: a | rm: | counted 4"},
    // Deleted, oldest first, while over 6,000,000 bytes or over 50,000
    // files; subdirectories and FIFOs are neither counted nor deleted.
    {"#49999 big:6000000:0 old:0:9", "gz: | rm: old | counted 50000"},
    {"a:1:5 b.gz:1:4 big:6000000:0", "gz: | rm: a b.gz | counted 1"},
    {"sub/ pipe| topipe@pipe a.gz:1:2 b:1:1", "gz: | rm: a.gz | counted 1", 1},
    {"~a:1:7 ~b:1:7 ~c:1:7 epoch:1:1000000", "gz: epoch | rm: epoch ~0 | counted 2", 2},
    // This run's own trace, compressed or not, goes last among files of its
    // age, whatever the directory order: a file grown past the limit goes.
    {"=own:1:7 grown:6000000:7", "gz: | rm: grown | counted 1"},
    {"grown:6000000:7 =own:1:7", "gz: | rm: grown | counted 1"},
    {"=own.gz:1:7 ~a:1:7 ~b:1:7", "gz: | rm: ~0 ~1 | counted 1", 1},
    // Files left writable by all (by earlier releases) are narrowed to their
    // owner, compressed or not; a file with a second name is left as it is.
    {"*old.gz:1:9 *young:1:5 *shared:1:5 twin+shared", "gz: | rm: | counted 4 | writable: shared twin"},
    {"a:1:3 !b:1:2 c:1:1", "gz: | rm: a !b | counted 0", 1},
    {"", "gz: | rm: | counted 0", 0},
    {"?", "gz: | rm: | counted 0", 0},
    // Another run tidying the directory is waited for, at most 10 s.
    {"a:1:2 b:1:1", "gz: | rm: a | counted 1 | waits 3", 1, -1, 3},
    {"a:1:2 b:1:1", "gz: | rm: | counted 0 | waits 1000", 1, -1, -1},
    // A path too long for its buffer is skipped, not cut to another name.
    {"> " + f94 + ":1:700 " + f94 + std::string(100, 'X') + ":1:800", "gz: " + f94 + " | rm: | counted 1", 1},
};

// A row a test, so that the rows run side by side; each in a child, as at
// the exit of a utility.
class Directory : public ::testing::TestWithParam<std::size_t> {};
TEST_P(Directory, WhatIsCompressedAndWhatIsDeleted) {
  const Row& row = kDirectories.at(GetParam());
  for (auto procedure : {KIV_HouseKeeping, KIV_HouseKeepingOnePerPass}) {
    if (procedure == KIV_HouseKeepingOnePerPass && row.entries[0] == '#') continue;  // 50,001 files: once is enough
    EXPECT_EQ(kivtest::runTraced([&] { std::printf("%s", tidy(row, procedure).c_str()); }, nullptr).out, row.outcome);
  }
}
INSTANTIATE_TEST_SUITE_P(Rows, Directory, ::testing::Range<std::size_t>(0, kDirectories.size()));

// Pruning many files per pass deletes exactly what deleting the oldest file
// one pass at a time deletes, in the same order, on generated directories:
// files, some ".gz", some undeletable, and links to entries made before or
// after them, to files outside, to nothing, to a directory; small limits and
// small candidate heaps.
TEST(Housekeeping, SameAsOneFilePerPass) {
  const std::string out = kivtest::runTraced([] {
    std::mt19937 rng(20261206);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    kivtest::TempDir outside(kivtest::TempDir::InMemory);
    const std::string o = outside.path() + "/";
    if (chdir(o.c_str()) == 0) build("o0:100:5 o1:700:0 o2:0:1000000 sub/");
    int linkedDeleting = 0;
    for (int c = 0; c < 1000; ++c) {
      Row row{"", "", pick(0, 10), pick(0, 2500)};
      KIV_PruneCandidateLimit = std::vector<std::size_t>{1, 2, 3, 5, 4096}[pick(0, 4)];
      for (int i = pick(0, 15); i > 0; --i) {
        const int kind = pick(0, 9), size = pick(0, 3) == 0 ? 0 : pick(1, 600), age = pick(0, 4) * 250000;
        const std::string name = std::string(pick(0, 15) == 0 ? " !" : " ") + 'e' + std::to_string(i);
        const std::string targets[] = {'e' + std::to_string(pick(1, 15)), o + 'o' + std::to_string(pick(0, 2)),
                                       "missing", o + "sub"};
        const std::string file = (kind == 0 ? ".gz:" : ":") + std::to_string(size) + ":" + std::to_string(age);
        row.entries += name + (kind < 7 ? file : (kind == 7 ? "@" : "+") + targets[pick(0, kind == 7 ? 3 : 1)]);
      }
      const std::string literal = tidy(row, KIV_HouseKeepingOnePerPass), batched = tidy(row, KIV_HouseKeeping);
      if (batched != literal) return (void)std::printf("%s\n%s\n%s", row.entries.c_str(), literal.c_str(),
                                                       batched.c_str());
      linkedDeleting += row.entries.find_first_of("@+") != std::string::npos && !g.rm.empty();
    }
    std::printf("%d %zu", linkedDeleting, kivtest::listDir(o).size());
  }, nullptr).out;
  // The generator makes links in directories that are pruned, and nothing outside is touched.
  int linkedDeleting = 0, outsideLeft = 0;
  EXPECT_TRUE(std::sscanf(out.c_str(), "%d %d", &linkedDeleting, &outsideLeft) == 2) << out;
  EXPECT_TRUE(linkedDeleting > 250 && outsideLeft == 4) << out;
}

// gzip itself, on names that a shell would split or expand, in a directory
// whose name gzip would take for options: each path reaches it as one
// argument, and at most KIV_GzipBatchLimit paths go to one gzip. The gzip
// run is the one fixed at build time: one found first through PATH (here
// the current directory, through an empty entry) never runs.
TEST(Housekeeping, GzipTakesEachPathAsOneArgument) {
  const std::string hostile = "a b 'c\" ;$(touch pwned);`touch pwned2` -x";
  EXPECT_EQ(kivtest::runTraced([&] {
    KIV_HouseKeepingNow = [] { return std::time_t{1} << 40; };  // every file is stale
    KIV_RunGzip = [](int fd, auto names) { g.gz.push_back(std::to_string(names.size())); return KIV_GzipFiles(fd, names); };
    KIV_GzipBatchLimit = 2;
    if (chdir(KIV_DebugDir) != 0 || mkdir("-n", 0755) != 0) return;
    kivtest::writeFile("gzip", "#!/bin/sh\ntouch \"$PWD/path-gzip-ran\"\n");
    chmod("gzip", 0755);
    setenv("PATH", ":/nonexistent", 1);
    for (std::string name : {hostile, std::string("plain"), std::string("-f")}) kivtest::writeFile("-n/" + name, "x\n");
    KIV_HouseKeeping("-n");
    std::printf("%s |%s |%s", joined(g.gz).c_str(), joined(kivtest::listDir("-n")).c_str(),
                joined(kivtest::listDir(".")).c_str());
  }, nullptr).out, " 2 1 | -f.gz " + hostile + ".gz plain.gz | -n gzip");
}
