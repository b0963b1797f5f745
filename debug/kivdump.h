// Hex dumps and the command-line record.
#ifndef KIV_DEBUG_KIVDUMP_H
#define KIV_DEBUG_KIVDUMP_H

#include <cstdint>

void DumpBinaryToStdout(const char* title, const void* address, std::int32_t length);
void DumpBinaryToTrace(const char* title, const void* address, std::int32_t length);
void RecordCommandLine(std::int32_t argc, const char* const* argv);

#endif
