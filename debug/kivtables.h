// Code-to-name tables.
#ifndef KIV_DEBUG_KIVTABLES_H
#define KIV_DEBUG_KIVTABLES_H

#include <cstdint>

const char* GetDebugErrorString(std::int32_t value, std::int32_t category);
const char* GetAdapterTransactionName(std::int32_t service, std::int32_t transaction);
const char* GetIaclTransactionName(std::int32_t functionCode);

#endif
