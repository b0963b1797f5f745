/* Command-interface client library: the contract the adapter exchange and
 * the enclosure module are written against.
 *
 * The real library is closed. The build links one implementation, chosen
 * with KIV_NICI: the stand-in of nicisim/ (a simulated adapter and
 * enclosures) or a real library; unit tests link a programmable fake
 * (tests/support/nicifake.h). The record layouts are the stand-in's own.
 * The reply record's last field holds the address of the caller's reply
 * buffer as a full pointer, so on a 64-bit host the record is 24 bytes with
 * an 8-byte pointer at its end. */
#ifndef KIV_ADAPCI_NICI_H
#define KIV_ADAPCI_NICI_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Option record, 12 bytes: option numbers 0, 1 and 2, one word each. */
typedef struct niCIOptions {
  uint32_t value[3];
} niCIOptions;

/* Status record: filled by the library, never read by its callers. */
typedef struct niCIStatus {
  int32_t word[4];
} niCIStatus;

/* Reply record. The caller clears it and sets pReplyBuffer to a buffer of
 * block size + extra size bytes; the library fills in the rest. */
typedef struct niCIReply {
  int32_t requestStatus;  /* 0: the answer is valid */
  uint32_t requestSize;   /* size of the answered block, 0 when none */
  void* pAnswer;          /* where the answered block lies, set by the library */
  void* pReplyBuffer;     /* the caller's reply buffer, set by the caller */
} niCIReply;

#if defined(__cplusplus) && UINTPTR_MAX == UINT64_MAX
static_assert(sizeof(niCIOptions) == 12, "option record is 12 bytes");
static_assert(sizeof(niCIReply) == 24, "reply record is 24 bytes on a 64-bit host");
#endif

/* Option numbers of niCISetOptions. */
enum {
  NICI_OPTION_SYNCHRONOUS = 0,   /* 1: the send waits for the answer */
  NICI_OPTION_EXTRA_SIZE = 1,    /* reply bytes beyond the request block */
  NICI_OPTION_RESPONSE_MODE = 2  /* 1: the answered block comes back */
};

int niCIOpen(void);
int niCISetOptions(niCIOptions* options, int option, uint32_t value);
int niCISendSyncRequest(void* request, uint32_t requestSize, niCIOptions* options,
                        niCIStatus* status, niCIReply* reply);
int niCIBGetRequestStatus(const niCIReply* reply);
uint32_t niCIBGetRequestSize(const niCIReply* reply);
void* niCIBGetRequest(const niCIReply* reply);
int niCIClose(void);

#ifdef __cplusplus
}
#endif

#endif
