// Code-to-name tables: turn adapter result codes, directive status bytes,
// IACL function codes and transaction numbers into their names for trace
// lines.
//
// Every lookup returns a pointer to one shared 256-byte static buffer
// (szErrorString). The text stays valid only until the next lookup of any
// kind, so a caller that needs two names at once copies the first. The
// pointer is never null; the text is empty when nothing matched, and then
// one "TwoInputStringLookup: Failed to match ..." trace line is written if
// the trace file is open. Not reentrant (one thread).
//
// With Input2 0 (any category or service) the names of all matching rows are
// joined by "?". A joined text that would not fit 255 characters is cut at a
// whole name: it ends with the last name that still fits in full, with no
// trailing "?", and no later name is added. A single name longer than 255
// characters therefore yields the empty text (it still counts as a match,
// so no failure line is traced). The tables of this module never come near
// the limit; their longest result is 54 characters.
#ifndef KIV_DEBUG_KIVTABLES_H
#define KIV_DEBUG_KIVTABLES_H

#include <cstddef>
#include <cstdint>
#include <span>

#include "debug/kivcodes.h"

// One row of a code-to-name table. Input2 is the category (ValueToString,
// IaclTransactionArray) or the service number (AdapterServiceTransactionArray).
struct TwoInputStringRow {
  std::int32_t Input1;
  std::int32_t Input2;
  const char* Name;
};

// Categories of ValueToString (Input2).
constexpr std::int32_t kCategoryAny = 0;
constexpr std::int32_t kCategoryAdapterResult = 1;
constexpr std::int32_t kCategoryDirectiveStatus = 2;
constexpr std::int32_t kCategoryIacl = 3;
constexpr std::int32_t kCategoryTransaction = 4;

// Adapter service numbers (Input2 of AdapterServiceTransactionArray).
constexpr std::int32_t kSvcAny = 0;
constexpr std::int32_t kSvcRegistry = 1;
constexpr std::int32_t kSvcIacl = 6;
constexpr std::int32_t kSvcAdapter = 7;
constexpr std::int32_t kSvcProxy = 8;
constexpr std::int32_t kSvcPeer = 9;
constexpr std::int32_t kSvcIsal = 16;
constexpr std::int32_t kSvcDebug = 17;

// Every table ends with this row. A walk stops at the first row whose Input2
// is kEndOfTableInput2, so no real row may use it.
constexpr std::int32_t kEndOfTableInput1 = 0xFFFF;
constexpr std::int32_t kEndOfTableInput2 = 5;

// Capacity of the result buffer, including its terminating NUL.
constexpr std::size_t kErrorStringSize = 256;

// Looks up (Input1, Input2) in a terminated table; see above. A null table is
// treated like one that holds only the terminator.
const char* TwoInputStringLookup(std::int32_t Input1, std::int32_t Input2, const TwoInputStringRow* table);

const char* GetDebugErrorString(std::int32_t value, std::int32_t category);
// The service comes first here, but the table is keyed by transaction.
const char* GetAdapterTransactionName(std::int32_t service, std::int32_t transaction);
const char* GetIaclTransactionName(std::int32_t functionCode);

// The three tables, terminator row included, for walking them.
std::span<const TwoInputStringRow> KIV_ValueToStringTable();
std::span<const TwoInputStringRow> KIV_AdapterServiceTransactionTable();
std::span<const TwoInputStringRow> KIV_IaclTransactionTable();

// The SES diagnostic pages 0x00 to 0x0F with their public names and the
// short names a command line takes for them (alias: a second one, or null).
struct SesPageNameRow {
  std::uint8_t code;
  const char* name;
  const char* shortName;
  const char* alias;
};
std::span<const SesPageNameRow> KIV_SesPageNameTable();
// The name of any page code: the table's, "vendor specific" for 0x80 to
// 0xFF, "reserved" otherwise. Never null.
const char* KIV_SesPageName(std::uint8_t code);
// The short name of a page code, or null for a code without one.
const char* KIV_SesPageShortName(std::uint8_t code);
// The code of a short name or alias (exact, case matters). Writes *code and
// returns true on a match; false otherwise.
bool KIV_FindSesPageByShortName(const char* shortName, std::uint8_t* code);

// Reverse lookup in ValueToString: the value of the first row of that
// category (0 = any) whose name equals name exactly. Writes *value and
// returns true on a match; returns false and leaves *value alone otherwise,
// or when name or value is null. Traces nothing.
bool KIV_FindCodeByName(const char* name, std::int32_t category, std::int32_t* value);

// The name of the first row of table with both inputs, or null when there
// is none. Unlike TwoInputStringLookup it traces nothing and keeps no
// buffer: for reports that must not add a line to the trace.
const char* KIV_FindNameByCode(std::span<const TwoInputStringRow> table, std::int32_t input1, std::int32_t input2);

#endif
