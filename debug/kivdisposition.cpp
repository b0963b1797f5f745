// Intelligent tracing: the disposition table and its lookup.
#include "debug/kivdisposition.h"

#include <cstdlib>
#include <cstring>

int UsingIntelligentTracing = 0;
int FinalReturnCode = -99;

// Each utility deletes its trace after a clean run (code 0) and keeps it
// otherwise; any utility not named here keeps its trace.
const IntelligentTraceEntry IntelligentTraceTable[kIntelligentTraceRows] = {
    {"kivxlate", "0", Trace_Delete},
    {"kivxlate", "*", Trace_Keep},
    {"kivadap", "0", Trace_Delete},
    {"kivadap", "*", Trace_Keep},
    {"kivdiag", "0", Trace_Delete},
    {"kivdiag", "*", Trace_Keep},
    {"kivhealthcheck", "0", Trace_Delete},
    {"kivhealthcheck", "*", Trace_Keep},
    {"kivprogress", "0", Trace_Delete},
    {"kivprogress", "*", Trace_Keep},
    {"kivservicemode", "0", Trace_Delete},
    {"kivservicemode", "*", Trace_Keep},
    {"kivses_encvpd", "0", Trace_Delete},
    {"kivses_encvpd", "*", Trace_Keep},
    {"kivses_getdevicedata", "0", Trace_Delete},
    {"kivses_getdevicedata", "*", Trace_Keep},
    {"kivses_getdiskcount", "0", Trace_Delete},
    {"kivses_getdiskcount", "*", Trace_Keep},
    {"kivses_getencserial", "0", Trace_Delete},
    {"kivses_getencserial", "*", Trace_Keep},
    {"kivses_getenctemp", "0", Trace_Delete},
    {"kivses_getenctemp", "*", Trace_Keep},
    {"kivses_healthcheck", "0", Trace_Delete},
    {"kivses_healthcheck", "*", Trace_Keep},
    {"kivses_porterrorcount", "0", Trace_Delete},
    {"kivses_porterrorcount", "*", Trace_Keep},
    {"kivses_resetswapbit", "0", Trace_Delete},
    {"kivses_resetswapbit", "*", Trace_Keep},
    {"*", "*", Trace_Keep},
    {nullptr, nullptr, Entry_Invalid},
};

namespace {

bool isWildcard(const char* text) { return std::strcmp(text, "*") == 0; }

// A pattern other than "*" is read as strtol reads base 10: blanks and a
// sign may lead, reading stops at the first non-digit, no digits reads 0.
bool patternMatches(const char* pattern, int returnCode) {
  if (pattern == nullptr) return false;
  if (isWildcard(pattern)) return true;
  return std::strtol(pattern, nullptr, 10) == static_cast<long>(returnCode);
}

}  // namespace

int LookUpDisposition(const char* utilityName, int returnCode, int* disposition) {
  return LookUpDispositionInTable(IntelligentTraceTable, utilityName, returnCode, disposition);
}

int LookUpDispositionInTable(const IntelligentTraceEntry* table, const char* utilityName, int returnCode,
                             int* disposition) {
  if (table == nullptr || utilityName == nullptr || disposition == nullptr) return 0;
  for (const IntelligentTraceEntry* row = table; row->utilityName != nullptr; ++row) {
    bool nameMatches = isWildcard(row->utilityName) || std::strcmp(row->utilityName, utilityName) == 0;
    if (nameMatches && patternMatches(row->returnCodePattern, returnCode)) {
      *disposition = row->disposition;
      return 1;
    }
  }
  return 0;
}

const char* DisplayDisposition(int disposition) {
  switch (disposition) {
    case Trace_Keep:
      return "Trace_Keep";
    case Entry_Invalid:
      return "Entry_Invalid";
    case Trace_Delete:
      return "Trace_Delete";
    default:
      return "?";
  }
}
