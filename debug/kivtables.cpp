// The lookup of the code-to-name tables (rows in kivtablerows.cpp).
#include "debug/kivtables.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "debug/kivtrace.h"

#define KIV_TRACE_MODULE "kivdebug"

namespace {

// Result of the latest lookup, shared by all of them.
char szErrorString[kErrorStringSize];

// Appends "?" (unless the buffer is empty) and name, only if both fit
// whole; *used is the current text length.
bool appendName(std::size_t* used, const char* name) {
  const char* text = name != nullptr ? name : "";
  std::size_t separator = *used > 0 ? 1 : 0;
  std::size_t room = kErrorStringSize - 1 - *used;
  std::size_t len = strnlen(text, kErrorStringSize);
  if (separator + len > room) return false;
  if (separator != 0) szErrorString[(*used)++] = '?';
  std::memcpy(szErrorString + *used, text, len);
  *used += len;
  szErrorString[*used] = '\0';
  return true;
}

}  // namespace

const char* TwoInputStringLookup(std::int32_t Input1, std::int32_t Input2, const TwoInputStringRow* table) {
  szErrorString[0] = '\0';
  std::size_t used = 0;
  bool matched = false;
  for (const TwoInputStringRow* row = table; row != nullptr && row->Input2 != kEndOfTableInput2; ++row) {
    if (row->Input1 != Input1 || (Input2 != 0 && row->Input2 != Input2)) continue;
    matched = true;
    // A name that does not fit ends the text, so it never skips a name.
    if (!appendName(&used, row->Name) || Input2 != 0) break;
  }
  if (!matched) {
    KIV_TRACE("TwoInputStringLookup: Failed to match Input1 0x%x Input2 0x%x\n", static_cast<unsigned int>(Input1),
              static_cast<unsigned int>(Input2));
  }
  return szErrorString;
}

const char* GetDebugErrorString(std::int32_t value, std::int32_t category) {
  return TwoInputStringLookup(value, category, KIV_ValueToStringTable().data());
}

const char* GetAdapterTransactionName(std::int32_t service, std::int32_t transaction) {
  return TwoInputStringLookup(transaction, service, KIV_AdapterServiceTransactionTable().data());
}

const char* GetIaclTransactionName(std::int32_t functionCode) {
  return TwoInputStringLookup(functionCode, 1, KIV_IaclTransactionTable().data());
}

const char* KIV_FindNameByCode(std::span<const TwoInputStringRow> table, std::int32_t input1, std::int32_t input2) {
  for (const TwoInputStringRow& row : table) {
    if (row.Input2 == kEndOfTableInput2) break;
    if (row.Input1 == input1 && row.Input2 == input2) return row.Name;
  }
  return nullptr;
}

bool KIV_FindCodeByName(const char* name, std::int32_t category, std::int32_t* value) {
  if (name == nullptr || value == nullptr) return false;
  for (const TwoInputStringRow* row = KIV_ValueToStringTable().data(); row->Input2 != kEndOfTableInput2; ++row) {
    if ((category == 0 || row->Input2 == category) && std::strcmp(row->Name, name) == 0) {
      *value = row->Input1;
      return true;
    }
  }
  return false;
}

const char* KIV_SesPageName(std::uint8_t code) {
  const std::span<const SesPageNameRow> rows = KIV_SesPageNameTable();
  if (code < rows.size()) return rows[code].name;
  return code >= 0x80 ? "vendor specific" : "reserved";
}

const char* KIV_SesPageShortName(std::uint8_t code) {
  const std::span<const SesPageNameRow> rows = KIV_SesPageNameTable();
  return code < rows.size() ? rows[code].shortName : nullptr;
}

bool KIV_FindSesPageByShortName(const char* shortName, std::uint8_t* code) {
  if (shortName == nullptr || code == nullptr) return false;
  for (const SesPageNameRow& row : KIV_SesPageNameTable()) {
    if (std::strcmp(row.shortName, shortName) == 0 || (row.alias != nullptr && std::strcmp(row.alias, shortName) == 0)) {
      *code = row.code;
      return true;
    }
  }
  return false;
}
