#include "debug/kivdump.h"

void DumpBinaryToStdout(const char*, const void*, std::int32_t) {}
void DumpBinaryToTrace(const char*, const void*, std::int32_t) {}
void RecordCommandLine(std::int32_t, const char* const*) {}
