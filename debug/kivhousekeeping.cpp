// Housekeeping of the trace directory at exit: the compression pass, the
// pruning passes, and the directory walker with its per-file functions.
#include "debug/kivhousekeeping.h"

#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "debug/kivtrace.h"

#ifndef KIV_GZIP_PATH
#define KIV_GZIP_PATH "/bin/gzip"
#endif

std::int64_t TotalSpaceUsed = 0;
int NumberOfFiles = 0;
std::time_t OldestFileDate = 0;
bool OldestFileFound = false;
char OldestFileName[kOldestFileNameSize] = "";

std::int64_t KIV_MaxSpaceUsed = 6000000;
int KIV_MaxNumberOfFiles = 50000;

// A few thousand candidates cover the usual overshoot in one pass while the
// memory stays bounded whatever the size of the directory.
std::size_t KIV_PruneCandidateLimit = 4096;
// Enough paths per gzip to spread its start-up cost; bounded so one command
// line stays far below the system's argument limit.
std::size_t KIV_GzipBatchLimit = 128;
unsigned long KIV_DirectoryPasses = 0;

namespace {

constexpr std::time_t kStaleSeconds = 600;
constexpr std::size_t kPathSize = 4096;
constexpr std::size_t kGzipBatchBytes = 128 * 1024;

std::time_t systemNow() { return std::time(nullptr); }

struct DirCloser {
  void operator()(DIR* d) const { closedir(d); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

// The directory a walk has open, for the per-file and final functions,
// which are handed paths; AT_FDCWD outside a walk, where a path is used as
// it is.
int ScanDirFd = AT_FDCWD;

// What a path handed on by the walker names within the walked directory.
const char* nameInScan(const char* path) {
  if (ScanDirFd == AT_FDCWD) return path;
  const char* slash = std::strrchr(path, '/');
  return slash != nullptr ? slash + 1 : path;
}

struct ScanScope {
  explicit ScanScope(int fd) : saved(ScanDirFd) { ScanDirFd = fd; }
  ~ScanScope() { ScanDirFd = saved; }
  ScanScope(const ScanScope&) = delete;
  ScanScope& operator=(const ScanScope&) = delete;
  int saved;
};

// One directory entry that stat shows to be a regular file.
struct RegularEntry {
  const char* path;        // directory "/" name
  const char* name;        // the entry's name in the directory
  std::size_t nameLength;  // of the entry name alone
  struct stat st;          // stat: through a symbolic link
  bool isLink;             // the entry itself is a symbolic link
};

// Calls f(entry) for every entry other than "." and ".." that stat shows to
// be a regular file. The status is only read, so pipes and links to pipes
// are never opened. A path that would not fit is skipped: a cut path could
// name another file.
template <typename F>
void forEachRegularFile(DIR* dir, const char* directory, F&& f) {
  char path[kPathSize];
  const int fd = dirfd(dir);
  while (const dirent* entry = readdir(dir)) {
    const char* name = entry->d_name;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
    int n = std::snprintf(path, sizeof path, "%s/%s", directory, name);
    if (n < 0 || static_cast<std::size_t>(n) >= sizeof path) continue;
    RegularEntry e{path, name, std::strlen(name), {}, false};
    if (fstatat(fd, name, &e.st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    e.isLink = S_ISLNK(e.st.st_mode);
    if (e.isLink && fstatat(fd, name, &e.st, 0) != 0) continue;
    if (!S_ISREG(e.st.st_mode)) continue;
    f(static_cast<const RegularEntry&>(e));
  }
}

// This run's own trace, compressed or not, by its path: the last to go
// among files of the same age.
bool OldestIsOwn = false;
bool isOwnTracePath(const char* path) {
  const std::size_t n = std::strlen(DebugStreamName);
  return n > 0 && std::strncmp(path, DebugStreamName, n) == 0 &&
         (path[n] == '\0' || std::strcmp(path + n, ".gz") == 0);
}

void resetCounters() {
  TotalSpaceUsed = 0;
  OldestFileDate = 0;
  OldestFileFound = false;
  OldestIsOwn = false;
  NumberOfFiles = 0;
  OldestFileName[0] = '\0';
}

bool overLimits() { return TotalSpaceUsed > KIV_MaxSpaceUsed || NumberOfFiles > KIV_MaxNumberOfFiles; }

bool fitsOldestFileName(const char* path) { return std::strlen(path) < sizeof OldestFileName; }

// Counts a file and remembers it when it is older than the oldest so far.
void countFile(const char* path, const struct stat& st) {
  ++NumberOfFiles;
  TotalSpaceUsed += st.st_size;
  const bool own = isOwnTracePath(path);
  if (OldestFileFound && !(st.st_mtime < OldestFileDate || (st.st_mtime == OldestFileDate && OldestIsOwn && !own))) {
    return;
  }
  OldestFileFound = true;
  OldestFileDate = st.st_mtime;
  OldestIsOwn = own;
  std::snprintf(OldestFileName, sizeof OldestFileName, "%s", path);
}

// Last modified more than 600 seconds ago; a time so far ahead that adding
// 600 would overflow is not stale.
bool isStale(std::time_t mtime, std::time_t now) {
  if (mtime > std::numeric_limits<std::time_t>::max() - kStaleSeconds) return false;
  return mtime + kStaleSeconds < now;
}

// gzip names its output after the input with ".gz" added; a name with no
// room for that within NAME_MAX would be shortened by gzip, and two traces
// could then overwrite one ".gz".
bool takesGzSuffix(std::size_t nameLength) { return nameLength + 3 <= NAME_MAX; }

// lst is the entry's own status (lstat). Only a regular file itself, with
// no other name, is handed to gzip: gzip reads through a link, symbolic or
// hard, and would bring a file from outside the directory into it. This
// run's trace is compressed whatever its age, but only the file this run
// opened under that name.
bool wantsCompression(const char* path, std::size_t nameLength, const struct stat& lst) {
  if (!S_ISREG(lst.st_mode) || lst.st_nlink != 1 || KIV_compressed_logfile(path) || !takesGzSuffix(nameLength)) {
    return false;
  }
  if (std::strcmp(path, DebugStreamName) == 0 && KIV_IsOwnTraceFile(lst)) return true;
  return isStale(lst.st_mtime, KIV_HouseKeepingNow());
}

// Traces of earlier releases were left writable by all, and what a file
// holds decides what pruning deletes, so only the owner may write any file
// here. Only a regular file itself with no other name is touched, as for
// compression.
void narrowWritable(int dirfd, const char* name, const struct stat& lst) {
  constexpr mode_t kWritableByOthers = S_IWGRP | S_IWOTH;
  if (S_ISREG(lst.st_mode) && lst.st_nlink == 1 && (lst.st_mode & kWritableByOthers) != 0)
    fchmodat(dirfd, name, (lst.st_mode & 07777) & ~kWritableByOthers, AT_SYMLINK_NOFOLLOW);
}

void compressionPass(int dirfd, const char* directory) {
  resetCounters();
  ++KIV_DirectoryPasses;
  DirHandle dir(KIV_OpenDirAt(dirfd));
  if (!dir) return;
  std::vector<std::string> batch;
  std::size_t batchBytes = 0;
  const std::size_t limit = std::max<std::size_t>(KIV_GzipBatchLimit, 1);
  auto flush = [&] {
    if (batch.empty()) return;
    KIV_RunGzip(dirfd, batch);
    batch.clear();
    batchBytes = 0;
  };
  forEachRegularFile(dir.get(), directory, [&](const RegularEntry& e) {
    // For an entry that is no link, its stat is its own status.
    if (e.isLink) return;
    narrowWritable(dirfd, e.name, e.st);
    if (!wantsCompression(e.path, e.nameLength, e.st)) return;
    batch.emplace_back(e.name);
    batchBytes += batch.back().size() + 1;
    if (batch.size() >= limit || batchBytes >= kGzipBatchBytes) flush();
  });
  flush();
}

struct Candidate {
  std::time_t mtime;
  bool own;             // this run's own trace
  std::uint64_t order;  // position in this pass's directory order
  std::int64_t size;
  std::string name;
};

// Oldest first; among equal times this run's own trace last, the others in
// the order the directory lists them.
bool olderThan(const Candidate& a, const Candidate& b) {
  if (a.mtime != b.mtime) return a.mtime < b.mtime;
  if (a.own != b.own) return b.own;
  return a.order < b.order;
}

enum class PassEnd { Done, Again, OnePerPass };

// One pruning pass: counts the directory, keeps its oldest files in a
// bounded heap, and deletes them oldest first while the exact running
// totals are over a limit. This deletes the same files, in the same order,
// as deleting one oldest file per pass. Another pass follows when the
// candidates ran out, and, as with one file per pass, after a pass that
// started over the size limit, so that the size is counted again.
// A symbolic link that leads to a regular file is counted with that file's
// status, and deleting the file it leads to takes it out of the count too;
// the running totals cannot foresee that, so a directory holding such a
// link is left to the one-file-per-pass procedure.
PassEnd pruningPass(int dirfd, const char* directory) {
  resetCounters();
  ++KIV_DirectoryPasses;
  DirHandle dir(KIV_OpenDirAt(dirfd));
  if (!dir) return PassEnd::Done;
  const std::size_t limit = std::max<std::size_t>(KIV_PruneCandidateLimit, 1);
  std::vector<Candidate> heap;  // max-heap on olderThan: the top is the youngest kept
  std::uint64_t order = 0;
  bool countedLink = false;
  forEachRegularFile(dir.get(), directory, [&](const RegularEntry& e) {
    const char* path = e.path;
    const struct stat& st = e.st;
    if (!fitsOldestFileName(path)) return;
    countedLink = countedLink || e.isLink;
    countFile(path, st);
    Candidate probe{st.st_mtime, isOwnTracePath(path), order++, st.st_size, {}};
    if (heap.size() < limit) {
      probe.name = e.name;
      heap.push_back(std::move(probe));
      std::push_heap(heap.begin(), heap.end(), olderThan);
    } else if (olderThan(probe, heap.front())) {
      std::pop_heap(heap.begin(), heap.end(), olderThan);
      Candidate& slot = heap.back();
      slot.mtime = probe.mtime;
      slot.own = probe.own;
      slot.order = probe.order;
      slot.size = probe.size;
      slot.name.assign(e.name);
      std::push_heap(heap.begin(), heap.end(), olderThan);
    }
  });
  dir.reset();

  if (countedLink) {
    // This pass has counted exactly as a pass of one file per pass does:
    // finish it the same way and go on that way.
    ScanScope scope(dirfd);
    DeleteOldestCompressedFile(OldestFileName);
    return overLimits() ? PassEnd::OnePerPass : PassEnd::Done;
  }
  if (!OldestFileFound) {
    TotalSpaceUsed = 0;
    return PassEnd::Done;
  }
  if (!overLimits()) return PassEnd::Done;
  const bool startedOverSize = TotalSpaceUsed > KIV_MaxSpaceUsed;
  std::sort_heap(heap.begin(), heap.end(), olderThan);
  for (const Candidate& c : heap) {
    if (!overLimits()) break;
    if (KIV_UnlinkFile(dirfd, c.name.c_str()) != 0) {
      TotalSpaceUsed = 0;
      NumberOfFiles = 0;
      return PassEnd::Done;
    }
    TotalSpaceUsed -= c.size;
    --NumberOfFiles;
  }
  return (overLimits() || startedOverSize) ? PassEnd::Again : PassEnd::Done;
}

void scanDirectoryAt(int dirfd, const char* directory, ScanFunction perFile, ScanFunction final) {
  resetCounters();
  ++KIV_DirectoryPasses;
  DirHandle dir(KIV_OpenDirAt(dirfd));
  if (!dir) return;
  ScanScope scope(dirfd);
  forEachRegularFile(dir.get(), directory, [&](const RegularEntry& e) { perFile(e.path); });
  final(OldestFileName);
}

void onePerPassPruning(int dirfd, const char* directory) {
  do {
    scanDirectoryAt(dirfd, directory, FindOldestCompressedFile, DeleteOldestCompressedFile);
  } while (overLimits());
}

// The directory opened once by its path, for the procedures that are given
// a path.
struct DirFd {
  explicit DirFd(const char* path) : fd(path != nullptr ? open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1) {}
  ~DirFd() {
    if (fd >= 0) close(fd);
  }
  DirFd(const DirFd&) = delete;
  DirFd& operator=(const DirFd&) = delete;
  int fd;
};

void systemSleep(unsigned milliseconds) {
  struct timespec t {static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&t, &t) != 0 && errno == EINTR) {
  }
}

constexpr unsigned kLockPollMilliseconds = 10;

// An exclusive lock on the directory itself, so runs that exit together
// tidy it in turn and no lock file is left behind. Waits at most
// KIV_HouseKeepingLockWait milliseconds.
class DirectoryLock {
 public:
  // A description of its own, so that the lock is released with it.
  explicit DirectoryLock(int dirfd) : fd_(dirfd >= 0 ? openat(dirfd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1) {
    // A directory that cannot be opened has nothing to lock: the passes then
    // find nothing, as without a lock.
    if (fd_ < 0) return;
    for (unsigned waited = 0; flock(fd_, LOCK_EX | LOCK_NB) != 0; waited += kLockPollMilliseconds) {
      if (errno != EWOULDBLOCK && errno != EINTR) return;  // a file system without locks: tidy as before
      if (waited >= KIV_HouseKeepingLockWait) {
        timedOut_ = true;
        return;
      }
      KIV_HouseKeepingSleep(kLockPollMilliseconds);
    }
  }
  ~DirectoryLock() {
    if (fd_ >= 0) close(fd_);  // releases the lock
  }
  DirectoryLock(const DirectoryLock&) = delete;
  DirectoryLock& operator=(const DirectoryLock&) = delete;

  // Whether the passes may run: not while another run still holds the
  // directory, which it tidies itself.
  bool mayTidy() const { return !timedOut_; }

 private:
  int fd_;
  bool timedOut_ = false;
};

}  // namespace

int (*KIV_UnlinkFile)(int dirfd, const char* name) = [](int dirfd, const char* name) { return unlinkat(dirfd, name, 0); };
void (*KIV_HouseKeepingSleep)(unsigned milliseconds) = systemSleep;
unsigned KIV_HouseKeepingLockWait = 10000;
int (*KIV_RunGzip)(int dirfd, std::span<const std::string> names) = KIV_GzipFiles;
std::time_t (*KIV_HouseKeepingNow)() = systemNow;
const char* const KIV_GzipPath = KIV_GZIP_PATH;

DIR* KIV_OpenDirAt(int dirfd) {
  const int fd = dirfd >= 0 || dirfd == AT_FDCWD ? openat(dirfd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1;
  if (fd < 0) return nullptr;
  DIR* d = fdopendir(fd);
  if (d == nullptr) close(fd);
  return d;
}

int KIV_GzipFiles(int dirfd, std::span<const std::string> names) {
  if (names.empty()) return 0;
  // Each name is one argument of its own; no shell sees it, so blanks,
  // quotes and "$(...)" in a name mean nothing. "--" keeps a name that
  // starts with "-" from reading as an option.
  std::vector<std::string> args{"gzip", "-f", "--"};
  args.insert(args.end(), names.begin(), names.end());
  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) return -1;
  std::unique_ptr<posix_spawn_file_actions_t, int (*)(posix_spawn_file_actions_t*)> guard(
      &actions, posix_spawn_file_actions_destroy);
  if (posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0) != 0) return -1;
  // gzip works inside the directory this run opened, whatever its path
  // leads to by now.
  if (dirfd != AT_FDCWD && posix_spawn_file_actions_addfchdir_np(&actions, dirfd) != 0) return -1;
  // No environment: GZIP in it would add options, and no PATH is needed.
  char* noEnvironment[] = {nullptr};
  pid_t pid = 0;
  if (posix_spawn(&pid, KIV_GzipPath, &actions, nullptr, argv.data(), noEnvironment) != 0) return -1;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return status;
}

void ScanDirectory(const char* directory, ScanFunction perFile, ScanFunction final) {
  const DirFd dir(directory);
  if (dir.fd < 0) {
    resetCounters();
    ++KIV_DirectoryPasses;
    return;
  }
  scanDirectoryAt(dir.fd, directory, perFile, final);
}

const char* CompressUncompressedEntry(const char* path) {
  struct stat lst;
  if (fstatat(ScanDirFd, nameInScan(path), &lst, AT_SYMLINK_NOFOLLOW) != 0) return path;  // vanished since the walker saw it
  narrowWritable(ScanDirFd, nameInScan(path), lst);
  const char* slash = std::strrchr(path, '/');
  const std::size_t nameLength = std::strlen(slash != nullptr ? slash + 1 : path);
  if (wantsCompression(path, nameLength, lst)) KIV_compress_logfile(path);
  return path;
}

const char* EmptyFunction(const char* path) { return path; }

const char* FindOldestCompressedFile(const char* path) {
  struct stat st;
  if (!fitsOldestFileName(path)) return path;
  if (fstatat(ScanDirFd, nameInScan(path), &st, 0) != 0) return path;  // vanished since the walker saw it
  countFile(path, st);
  return path;
}

const char* DeleteOldestCompressedFile(const char* path) {
  if (!OldestFileFound) {
    TotalSpaceUsed = 0;
    return path;
  }
  if (!overLimits()) return path;
  if (KIV_UnlinkFile(ScanDirFd, nameInScan(path)) == 0) {
    // Only the count is adjusted; the next pass counts the size again.
    --NumberOfFiles;
  } else {
    TotalSpaceUsed = 0;
    NumberOfFiles = 0;
  }
  return path;
}

int KIV_compressed_logfile(const char* name) {
  if (name == nullptr) return 0;
  std::size_t n = std::strlen(name);
  return (n >= 4 && std::strcmp(name + n - 3, ".gz") == 0) ? 1 : 0;
}

int KIV_compress_logfile(const char* path) {
  const std::string one(nameInScan(path));
  return KIV_RunGzip(ScanDirFd, std::span<const std::string>(&one, 1));
}

void KIV_HouseKeepingAt(int dirfd, const char* directory) {
  if (dirfd < 0 || directory == nullptr) {
    resetCounters();  // nothing to tidy: as a pass over nothing
    return;
  }
  DirectoryLock lock(dirfd);
  if (!lock.mayTidy()) return;
  compressionPass(dirfd, directory);
  PassEnd end;
  while ((end = pruningPass(dirfd, directory)) == PassEnd::Again) {
  }
  if (end == PassEnd::OnePerPass) onePerPassPruning(dirfd, directory);
}

void KIV_HouseKeeping(const char* directory) {
  const DirFd dir(directory);
  KIV_HouseKeepingAt(dir.fd, directory);
}

void KIV_HouseKeepingOnePerPass(const char* directory) {
  const DirFd dir(directory);
  if (dir.fd < 0) {
    resetCounters();
    return;
  }
  DirectoryLock lock(dir.fd);
  if (!lock.mayTidy()) return;
  scanDirectoryAt(dir.fd, directory, CompressUncompressedEntry, EmptyFunction);
  onePerPassPruning(dir.fd, directory);
}
