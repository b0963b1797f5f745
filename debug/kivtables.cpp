#include "debug/kivtables.h"

const char* GetDebugErrorString(std::int32_t, std::int32_t) { return ""; }
const char* GetAdapterTransactionName(std::int32_t, std::int32_t) { return ""; }
const char* GetIaclTransactionName(std::int32_t) { return ""; }
