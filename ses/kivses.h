// Enclosure services: SES diagnostic pages of a device named by its serial
// number, with retries and firmware download.
//
// Every page travels as one SEND DIAGNOSTIC or RECEIVE DIAGNOSTIC RESULTS
// wrapped in a request block (layout in ses/kivsesblock.h; the pages it
// uses by number in ses/kivsesstatuspage.h and ses/kivsesdownloadpage.h). On a 64-bit host
// the block's dataAddress field holds the full address of the block's data
// area as 8 bytes, most significant first, at block offsets 176 to 183; on a
// 32-bit host it is the 4-byte address at 176 followed by 4 zero bytes.
//
// The module keeps one library connection, opened on demand by every
// operation and closed only by SES_CloseCIConnection. It assumes one thread.
#ifndef KIV_SES_KIVSES_H
#define KIV_SES_KIVSES_H

#include <cstdint>

#include "ses/kivsesblock.h"
#include "ses/kivsesdownloadpage.h"
#include "ses/kivsesstatuspage.h"

// Result codes; 0 is success.
enum SesResult : std::int32_t {
  SES_Success = 0,
  SES_ShortEncStatus = 86,          // page 8 came back with a nonzero status
  SES_ConnectionFailed = 4097,      // the library connection did not open
  SES_StringPageFailed = 4098,      // a string-page exchange failed, not busy
  SES_RequestFailed = 4101,         // the request failed, or was refused unsent
  SES_Busy = 4107,                  // the send failed with EBUSY
};

// The name of a result code as the enum above spells it ("SES_Busy" for
// 4107), or "unknown" for a value that is none of them.
const char* SES_ResultName(std::int32_t rc);

// Checked before anything is sent; a request outside them gives 4101 with a
// trace line saying why: a serial number longer than
// SesRequestBlock::kSerialNumberMax (37) would not fit its field and would
// address another device, a length over SesRequestBlock::kMaxPageLength
// (65535) does not fit the command, and a device number over
// SesDownloadPage::kMaxDeviceNumber (63) would set the phase bits of a
// download page.

// Retry schedule of SES_WritePage and SES_ReadPage, in microseconds, read
// afresh at each attempt. The k-th attempt waits step * (k-1) * k / 2 first;
// attempts go on while the time waited is below the limit. A step of 0 with
// a limit above 0 makes one attempt (it could never reach the limit).
struct SESRetrySchedule {
  std::uint32_t step;
  std::uint32_t limit;
};
extern SESRetrySchedule SESRetryOne;  // {25000, 3000000}

// Every wait of the module goes through these; tests replace them.
extern void (*SES_SleepSeconds)(unsigned seconds);
extern void (*SES_SleepMicroseconds)(std::uint64_t microseconds);

// Called by SES_DownloadFwTransfer after each image page, good or not, with
// the image bytes sent so far and the image length. The default does
// nothing; a program replaces it to show progress.
extern void (*SES_DownloadProgress)(std::uint32_t sent, std::uint32_t total);

// What one SEND DIAGNOSTIC or RECEIVE DIAGNOSTIC RESULTS came back with,
// handed to SES_RequestDone once the answer has been judged: the page code
// sent (the page's byte 0) or asked for, the page length, the request's
// result code and the adapter's application result (0 when no answer came
// back). The default does nothing; a program replaces it to show each
// request, or to name the adapter's result of a failure.
struct SesRequestResult {
  bool send;
  std::uint8_t pageCode;
  std::uint32_t length;
  std::int32_t rc;
  std::int16_t applicationResult;
};
extern void (*SES_RequestDone)(const SesRequestResult& result);

// Writes length bytes of page (page header included) and confirms them
// through the Short Enclosure Status page. 0, 86, 4097, 4101 or 4107.
std::int32_t SES_WritePage(const char* serialNumber, std::uint32_t length, const std::uint8_t* page);
// Reads length bytes of page pageCode into buffer. 0, 4097, 4101 or 4107.
// A failed read may still have filled buffer when only the status read
// after it failed.
std::int32_t SES_ReadPage(const char* serialNumber, std::uint8_t pageCode, std::uint32_t length,
                          std::uint8_t* buffer);
// Sends outPage, waits delayMilliseconds (even after a failed send), then
// reads inLength bytes of page 4, once. 0, 4097, 4098 or 4107; 4101 for a
// request refused unsent (nothing sent, no wait).
std::int32_t SES_ReadStringPage(const char* serialNumber, std::uint32_t outLength, const std::uint8_t* outPage,
                                std::uint32_t inLength, std::uint8_t* inBuffer, std::uint32_t delayMilliseconds);
// Closes the module's connection, if open.
void SES_CloseCIConnection();

// Firmware download to device deviceNumber (0 to 63) behind the enclosure:
// the start page, a 10 s wait, then the image in pages of at most 503 bytes,
// each confirmed through page 8. 0, 86, 4097, 4101 or 4107.
std::int32_t SES_DownloadFwTransfer(const char* serialNumber, int deviceNumber, const std::uint8_t* image,
                                    std::uint32_t imageLength);
// The commit page, a 20 s wait, up to 10 status polls, 5 s after the first
// readable status. 0, 86, 4097, 4101 or 4107.
std::int32_t SES_DownloadFwCommit(const char* serialNumber, int deviceNumber);

#endif
