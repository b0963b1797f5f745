// The per-run trace file and the trace-line convention that every module
// follows.
#ifndef KIV_DEBUG_KIVTRACE_H
#define KIV_DEBUG_KIVTRACE_H

#include <sys/stat.h>
#include <sys/time.h>

#include <cstdio>
#include <ctime>
#include <string>
#include <string_view>

constexpr std::size_t kDebugStreamNameSize = 4096;

extern const char* KIV_DebugDir;          // trace directory, no trailing slash
extern char DebugStreamName[kDebugStreamNameSize];  // this run's trace path
extern const char* UtilityName;           // kept by reference, not copied
extern std::time_t KIV_DebugStartTime;
extern struct timeval KIV_TraceStartTime;

// Clock seams: tests replace them to fix the start time and the elapsed
// milliseconds. They default to time() and gettimeofday().
extern std::time_t (*KIV_TimeNow)();
extern void (*KIV_TimeOfDayNow)(struct timeval*);

// Opens the trace directory (made 0755 when missing) once, and keeps it
// open for the rest of the run: the trace file is created in it, and the
// deletion and the housekeeping at exit go through it, whatever its path
// leads to by then. Signals that a resource limit raises (SIGXFSZ, SIGXCPU)
// are ignored from here on: a trace write past a file-size limit fails
// quietly instead of ending the run between two changes of the adapter.
int KIV_OpenTraceFile(const char* utilityName);

// For a program whose operator names the trace directory: traces this run
// into `directory` as KIV_OpenTraceFile traces into KIV_DebugDir, under the
// name of `utilityName`. Housekeeping at exit compresses and deletes files
// there, so the directory is taken only when it does not exist yet (it is
// then made, mode 0755) or holds nothing but regular files named as this
// utility's traces (UTILITY.YYMMDDhhmmss.PID, possibly with ".gz"). The
// check is made on the directory as opened, and the run then uses that
// descriptor to the end. Both texts must stay valid until the process ends.
// Returns KIV_TraceDirTraced when the trace file is open;
// KIV_TraceDirUntraced when the directory was taken but holds no trace file
// (it could not be made, or the file not created): the run goes on
// untraced, as with KIV_OpenTraceFile; KIV_TraceDirRefused, with the reason
// in `why`, when the directory is not taken: nothing is opened, changed or
// registered, and nothing of it is ever touched by this run.
enum TraceDirResult { KIV_TraceDirTraced = 0, KIV_TraceDirUntraced = 1, KIV_TraceDirRefused = 2 };
int KIV_OpenTraceFileIn(const char* directory, const char* utilityName, std::string& why);

// Whether name is one of utilityName's trace files, compressed or not:
// UTILITY.YYMMDDhhmmss.PID[.gz], the year possibly longer than two digits.
bool KIV_IsTraceFileName(std::string_view name, std::string_view utilityName);
int OpenLogFile(const char* utilityName);
std::FILE* GetDebugFile();
const char* GetElapsedMilliSeconds();
int GetElapsedSeconds();
void KIV_DebugExitHandler();

// The trace directory as opened at the start, -1 before or when it could
// not be opened.
extern int KIV_DebugDirFd;

// True when st (read with lstat) is this run's own trace file: the regular
// file this run opened as its trace, not a link to it nor another file that
// has since taken its name.
bool KIV_IsOwnTraceFile(const struct stat& st);

// Formats the trace file path for the given start time and process ID.
// Returns false, leaving buf empty, when the path does not fit.
bool KIV_FormatTraceFileName(char* buf, std::size_t size, const char* dir, const char* utilityName,
                             const std::tm& start, long pid);

// One trace line: the elapsed-time text, "module:line ", the event text, a
// flush. Nothing is written, and the clock state does not advance, while no
// trace file is open.
void KIV_TraceLine(const char* module, int line, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
// The same prefix followed by a text written unchanged (for lines that are
// composed elsewhere, such as hex dumps).
void KIV_TraceText(const char* module, int line, const char* text);

// Each source file defines KIV_TRACE_MODULE as its module name
// ("kivservicemode", "kivadapci", "kivses", "kivdebug", "LL").
#define KIV_TRACE(...) KIV_TraceLine(KIV_TRACE_MODULE, __LINE__, __VA_ARGS__)

#endif
