// Housekeeping of the trace directory at exit: stale traces and this run's
// own trace are compressed, then the oldest files are deleted until the
// directory is within its size and count limits.
#ifndef KIV_DEBUG_KIVHOUSEKEEPING_H
#define KIV_DEBUG_KIVHOUSEKEEPING_H

#include <dirent.h>

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <span>
#include <string>

// Compresses the stale traces and this run's own trace, then prunes the
// oldest files until the directory is within its limits, holding a lock on
// the directory meanwhile. Writes no trace: the stream is closed when this
// runs. The directory is opened once; every later step (listing, status,
// deletion, the lock, gzip) goes through that descriptor, so a directory
// renamed or replaced by a link meanwhile is not followed.
void KIV_HouseKeeping(const char* directory);
// The same on a directory already open as dirfd; directory is only its
// name, for the paths the walker hands on (and DebugStreamName's match).
void KIV_HouseKeepingAt(int dirfd, const char* directory);

// The same work done the plain way, one gzip per file and one file deleted
// per directory pass. Deletes exactly the files KIV_HouseKeeping deletes on
// a directory that nothing else changes; kept as the reference for tests
// and benchmarks.
void KIV_HouseKeepingOnePerPass(const char* directory);

// A fresh read position on the directory open as dirfd (not by its path),
// or null.
DIR* KIV_OpenDirAt(int dirfd);

constexpr std::size_t kOldestFileNameSize = 4096;

// Counters of the current pass, rebuilt by every ScanDirectory.
extern std::int64_t TotalSpaceUsed;  // 64 bits: a directory may exceed 2 GiB
extern int NumberOfFiles;
extern std::time_t OldestFileDate;
extern bool OldestFileFound;  // a file of time 0 is still a file
extern char OldestFileName[kOldestFileNameSize];

// Limits, compared strictly ("greater than" is over). Variables so that tests
// can use small directories.
extern std::int64_t KIV_MaxSpaceUsed;  // 6000000 bytes
extern int KIV_MaxNumberOfFiles;       // 50000 files

// Largest number of oldest candidates one pruning pass keeps, and the most
// paths handed to one gzip process.
extern std::size_t KIV_PruneCandidateLimit;
extern std::size_t KIV_GzipBatchLimit;

// Seams: the deletion used by pruning (default unlinkat of a name in the
// directory open as dirfd), the compressor (default KIV_GzipFiles) and the
// clock of the 600-second rule (default time()).
extern int (*KIV_UnlinkFile)(int dirfd, const char* name);
extern int (*KIV_RunGzip)(int dirfd, std::span<const std::string> names);
extern std::time_t (*KIV_HouseKeepingNow)();

// The gzip that compresses traces: an absolute path fixed when the program
// is built, never looked up through PATH.
extern const char* const KIV_GzipPath;

// Housekeeping takes an exclusive lock on the directory for its passes. It
// polls for it every 10 ms through KIV_HouseKeepingSleep (default: sleeps)
// for at most KIV_HouseKeepingLockWait milliseconds (10000), then leaves
// the tidying to the run that holds it.
extern void (*KIV_HouseKeepingSleep)(unsigned milliseconds);
extern unsigned KIV_HouseKeepingLockWait;

// Directory passes made so far (compression and pruning passes alike), so
// that the cost of housekeeping can be observed.
extern unsigned long KIV_DirectoryPasses;

// Runs KIV_GzipPath -f -- NAME... without a shell, inside the directory
// open as dirfd (names relative to it), with an empty environment and
// standard error on /dev/null; returns its wait status, -1 if it could not
// be started.
int KIV_GzipFiles(int dirfd, std::span<const std::string> names);

// The directory walker: resets the counters, calls perFile with the full
// path of every regular file (stat follows links) in directory order, then
// final with OldestFileName. Nothing is called when the directory cannot be
// opened. Entries whose path does not fit are skipped. While it walks, the
// per-file and final functions reach the entries through the directory it
// opened, by the name after the path's last slash.
using ScanFunction = const char* (*)(const char* path);
void ScanDirectory(const char* directory, ScanFunction perFile, ScanFunction final);

// Per-file function of the compression pass: compresses a regular file (not
// a link) not ending in ".gz", whose name leaves room for ".gz", that is
// this run's own trace or was modified more than 600 s ago.
const char* CompressUncompressedEntry(const char* path);
// Final function of the compression pass.
const char* EmptyFunction(const char* path);
// Per-file function of a pruning pass: counts the file and remembers the
// oldest (among equal times the first in directory order, but this run's
// own trace, compressed or not, after every other file).
const char* FindOldestCompressedFile(const char* path);
// Final function of a pruning pass: deletes the oldest file when the
// directory is over a limit; a failed deletion zeroes the counters.
const char* DeleteOldestCompressedFile(const char* path);

// 1 when name is longer than ".gz" and ends in ".gz", otherwise 0.
int KIV_compressed_logfile(const char* name);
// Compresses one file through KIV_RunGzip and returns its result (within
// a walk, the file of that name in the walked directory).
int KIV_compress_logfile(const char* path);

#endif
