// One request through the client library, from the option calls to the
// bounded copy of the answer.
#include "adapci/kivciexchange.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>

#include "adapci/nici.h"

CIExchange KIV_CIExchange(std::span<std::uint8_t> block, std::uint32_t requestSize, std::uint32_t responseSize,
                          CIAnswerRead read) {
  CIExchange x;
  niCIOptions options{};
  niCIStatus status{};
  niCIReply reply{};
  niCISetOptions(&options, NICI_OPTION_RESPONSE_MODE, 1);
  niCISetOptions(&options, NICI_OPTION_SYNCHRONOUS, 1);
  niCISetOptions(&options, NICI_OPTION_EXTRA_SIZE, responseSize);

  // The contract sizes the reply buffer as block size + extra size; the
  // same bound caps the copy, whatever size the library reports.
  const std::size_t capacity = std::min<std::size_t>(std::size_t{requestSize} + responseSize, block.size());
  std::unique_ptr<std::uint8_t[]> replyBuffer(new (std::nothrow) std::uint8_t[capacity > 0 ? capacity : 1]());
  if (!replyBuffer) return x;
  reply.pReplyBuffer = replyBuffer.get();

  x.sent = true;
  x.sendResult = niCISendSyncRequest(block.data(), requestSize, &options, &status, &reply);
  if (x.sendResult != 0) x.sendErrno = errno;

  if (read == CIAnswerRead::AfterGoodReplyStatus) {
    if (x.sendResult != 0) return x;
    x.replyStatus = niCIBGetRequestStatus(&reply);
    if (x.replyStatus != 0) return x;
  }
  x.answerRead = true;
  x.answerSize = niCIBGetRequestSize(&reply);
  const void* answer = niCIBGetRequest(&reply);
  x.copied = std::min<std::size_t>(x.answerSize, capacity);
  if (x.copied > 0 && answer != nullptr) std::memmove(block.data(), answer, x.copied);
  return x;
}
