#include "debug/kivtrace.h"
const char* KIV_DebugDir = "/var/log/kivcfg";
char DebugStreamName[kDebugStreamNameSize] = "";
const char* UtilityName = nullptr;
void KIV_TraceLine(const char*, int, const char*, ...) {}
void KIV_TraceText(const char*, int, const char*) {}
int KIV_OpenTraceFile(const char*) { return 0; }
std::FILE* GetDebugFile() { return nullptr; }
