// Intelligent tracing: whether a run's trace file is kept or deleted at exit.
#ifndef KIV_DEBUG_KIVDISPOSITION_H
#define KIV_DEBUG_KIVDISPOSITION_H

enum TraceDisposition { Entry_Invalid = 0, Trace_Keep = 1, Trace_Delete = 2 };

struct IntelligentTraceEntry {
  const char* utilityName;        // "*" matches every utility
  const char* returnCodePattern;  // "*" or a decimal code
  int disposition;                // a TraceDisposition
};

extern int UsingIntelligentTracing;
extern int FinalReturnCode;

int LookUpDisposition(const char* utilityName, int returnCode, int* disposition);
const char* DisplayDisposition(int disposition);

#endif
