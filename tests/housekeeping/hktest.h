// Shared helpers of the housekeeping tests: building trace directories and
// replacing the seams of housekeeping for the length of one test.
#ifndef KIV_TESTS_HOUSEKEEPING_HKTEST_H
#define KIV_TESTS_HOUSEKEEPING_HKTEST_H

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "debug/kivhousekeeping.h"
#include "debug/kivtrace.h"

namespace hktest {

inline std::string baseName(const std::string& path) {
  std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// prefix followed by the number, without the concatenation that GCC 12
// misreads as an overlapping copy under -O3.
inline std::string numbered(const char* prefix, long number) {
  std::string s = prefix;
  s += std::to_string(number);
  return s;
}

inline void setMtime(const std::string& path, std::time_t mtime, int flags = 0) {
  struct timespec times[2];
  times[0].tv_sec = mtime;
  times[0].tv_nsec = 0;
  times[1] = times[0];
  if (::utimensat(AT_FDCWD, path.c_str(), times, flags) != 0) throw std::runtime_error("utimensat " + path);
}

// A file of the given size (sparse, so large sizes cost nothing) and
// modification time.
inline void makeFile(const std::string& path, long long size, std::time_t mtime) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) throw std::runtime_error("create " + path + ": " + std::strerror(errno));
  int rc = ::ftruncate(fd, size);
  ::close(fd);
  if (rc != 0) throw std::runtime_error("size " + path);
  setMtime(path, mtime);
}

// Entry names in the order readdir gives them.
inline std::vector<std::string> readdirOrder(const std::string& dir) {
  std::vector<std::string> names;
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr) return names;
  while (const dirent* e = ::readdir(d)) {
    if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) names.emplace_back(e->d_name);
  }
  ::closedir(d);
  return names;
}

inline bool exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

// Every deletion and every gzip call made during a test, by file name.
struct Record {
  std::vector<std::string> unlinked;          // deleted, in order
  std::vector<std::string> refused;           // deletions that failed
  std::vector<std::vector<std::string>> gzipCalls;
  std::set<std::string> undeletable;          // names whose deletion fails
  std::time_t now = 1000000;
  int sleeps = 0;         // waits for the directory lock
  int lockHolder = -1;    // a descriptor holding that lock, closed after
  int releaseAfter = -1;  // that many waits (never when -1)
};

inline Record* current = nullptr;

inline int recordingUnlink(const char* path) {
  std::string name = baseName(path);
  if (current->undeletable.count(name) != 0) {
    current->refused.push_back(name);
    errno = EACCES;
    return -1;
  }
  int rc = ::unlink(path);
  if (rc == 0) current->unlinked.push_back(name);
  return rc;
}

inline int recordingGzip(std::span<const std::string> paths) {
  std::vector<std::string> names;
  for (const std::string& p : paths) names.push_back(baseName(p));
  current->gzipCalls.push_back(names);
  return 0;
}

inline int realGzip(std::span<const std::string> paths) {
  recordingGzip(paths);
  return KIV_GzipFiles(paths);
}

inline std::time_t fixedNow() { return current->now; }

inline void recordingSleep(unsigned) {
  if (++current->sleeps == current->releaseAfter) ::close(current->lockHolder);
}

// Installs the recording seams and restores every seam and limit after.
class Seams {
 public:
  explicit Seams(Record& r)
      : unlink_(KIV_UnlinkFile),
        gzip_(KIV_RunGzip),
        now_(KIV_HouseKeepingNow),
        space_(KIV_MaxSpaceUsed),
        count_(KIV_MaxNumberOfFiles),
        candidates_(KIV_PruneCandidateLimit),
        batch_(KIV_GzipBatchLimit),
        sleep_(KIV_HouseKeepingSleep),
        lockWait_(KIV_HouseKeepingLockWait) {
    current = &r;
    KIV_HouseKeepingSleep = recordingSleep;
    KIV_UnlinkFile = recordingUnlink;
    KIV_RunGzip = recordingGzip;
    KIV_HouseKeepingNow = fixedNow;
    std::memcpy(name_, DebugStreamName, sizeof name_);
    DebugStreamName[0] = '\0';
  }
  ~Seams() {
    KIV_UnlinkFile = unlink_;
    KIV_RunGzip = gzip_;
    KIV_HouseKeepingNow = now_;
    KIV_MaxSpaceUsed = space_;
    KIV_MaxNumberOfFiles = count_;
    KIV_PruneCandidateLimit = candidates_;
    KIV_GzipBatchLimit = batch_;
    KIV_HouseKeepingSleep = sleep_;
    KIV_HouseKeepingLockWait = lockWait_;
    std::memcpy(DebugStreamName, name_, sizeof name_);
    current = nullptr;
  }
  Seams(const Seams&) = delete;
  Seams& operator=(const Seams&) = delete;

 private:
  int (*unlink_)(const char*);
  int (*gzip_)(std::span<const std::string>);
  std::time_t (*now_)();
  std::int64_t space_;
  int count_;
  std::size_t candidates_;
  std::size_t batch_;
  void (*sleep_)(unsigned);
  unsigned lockWait_;
  char name_[kDebugStreamNameSize];
};

}  // namespace hktest

#endif
