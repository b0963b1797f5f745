// Numeric codes of the adapter interface, used by name everywhere.
#ifndef KIV_DEBUG_KIVCODES_H
#define KIV_DEBUG_KIVCODES_H

#include <cstdint>

// Adapter result codes (applicationResult).
enum AdapterResultCode : std::int32_t {
  AS_Warning = 1,
  AS_Success = 0,
  AE_Failure = -3,
  AE_IllegalRequest = -8,
  AE_InServiceMode = -34,
  AE_BadSerialNumber = -500,
  AE_LoopDown = -689,
};

// Directive status bytes.
enum DirectiveStatusCode : std::int32_t {
  DS_Success = 0,
  DE_BadParameter = 244,
};

// Transaction numbers.
enum TransactionNumber : std::int32_t {
  FN_ISAL_SCSI = 59,
  FN_ADAP_GetFCLoopMap = 82,
  FN_ADAP_ServiceMode = 96,
};

#endif
