// Intelligent tracing: whether a run's trace file is kept or deleted at exit.
#ifndef KIV_DEBUG_KIVDISPOSITION_H
#define KIV_DEBUG_KIVDISPOSITION_H

enum TraceDisposition { Entry_Invalid = 0, Trace_Keep = 1, Trace_Delete = 2 };

struct IntelligentTraceEntry {
  const char* utilityName;        // "*" matches every utility
  const char* returnCodePattern;  // "*" or a decimal code
  int disposition;                // a TraceDisposition
};

// Fixed rows, ended by a terminator whose name and pattern are null.
constexpr int kIntelligentTraceRows = 30;
extern const IntelligentTraceEntry IntelligentTraceTable[kIntelligentTraceRows];

extern int UsingIntelligentTracing;  // nonzero: consult the table at exit
extern int FinalReturnCode;          // the utility's result for the lookup

// Stores the disposition of the first row matching (utilityName, returnCode)
// and returns 1; returns 0, storing nothing, when no row matches or an
// argument is null.
int LookUpDisposition(const char* utilityName, int returnCode, int* disposition);
// The same lookup over any table ended by a row whose name is null.
int LookUpDispositionInTable(const IntelligentTraceEntry* table, const char* utilityName, int returnCode,
                             int* disposition);
// "Entry_Invalid", "Trace_Keep", "Trace_Delete", or "?" for other values.
const char* DisplayDisposition(int disposition);

#endif
