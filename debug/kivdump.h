// Hex dumps and the command-line record.
//
// A dump writes, line by line: "\n<title>\n", "Address: 0x<address> Length:
// 0x<length>\n\n", then one line per 16 bytes: the offset ("%03X:"), the
// bytes ("%02x " each), five blanks and the bytes as characters (0x20..0x7E
// as themselves, any other byte as '.'). A short last line is filled with
// blanks so its characters start in the same column. Offsets of 0x1000 and
// more push the rest of their line right. A length of 0 or less writes the
// first two lines only.
//
// Each line goes to standard output (unchanged, not flushed) when asked,
// and to the trace as a trace line when a trace file is open.
//
// Limits and choices:
// - Lines are composed in a 128-byte buffer. A title longer than 125
//   characters is cut to its first 125; a null title shows as empty.
// - The address is shown as lower-case hex of its value, so a null address
//   shows as "Address: 0x0". With a null address no data lines follow, even
//   for a positive length.
#ifndef KIV_DEBUG_KIVDUMP_H
#define KIV_DEBUG_KIVDUMP_H

#include <cstdint>

// Dumps to standard output and also to the trace.
void DumpBinaryToStdout(const char* title, const void* address, std::int32_t length);
// Dumps to the trace only.
void DumpBinaryToTrace(const char* title, const void* address, std::int32_t length);

// Traces the arguments as one line, each followed by one blank, unquoted.
// The joined text is held in a 768-byte buffer: beyond its first 767 bytes
// it is cut (possibly inside an argument, at the byte limit). A null argv or
// an argc of 0 or less traces an empty line; a null entry counts as an empty
// argument.
void RecordCommandLine(std::int32_t argc, const char* const* argv);

#endif
