// The per-run trace file and the trace-line convention that every module
// follows.
#ifndef KIV_DEBUG_KIVTRACE_H
#define KIV_DEBUG_KIVTRACE_H

#include <sys/stat.h>
#include <sys/time.h>

#include <cstdio>
#include <ctime>

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

int KIV_OpenTraceFile(const char* utilityName);
int OpenLogFile(const char* utilityName);
std::FILE* GetDebugFile();
const char* GetElapsedMilliSeconds();
int GetElapsedSeconds();
void KIV_DebugExitHandler();

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
