// Exchange of one adapter request block through the client library.
#include "adapci/kivadapci.h"

#include <span>

#include "adapci/kivciexchange.h"
#include "adapci/nici.h"
#include "debug/kivtrace.h"

#define KIV_TRACE_MODULE "kivadapci"

namespace {

constexpr int kHeaderSizeTraced = 20;

}  // namespace

std::int32_t SendAdapCIRequest(std::uint32_t requestSize, std::uint32_t responseSize,
                               std::uint8_t* pRequest) {
  namespace ARB = AdapterRequestBlock;
  KIV_TRACE("requestSize: %d\n", static_cast<int>(requestSize));

  if (niCIOpen() != 0) return ADAPCI_OpenFailed;

  // The caller's block holds requestSize + responseSize bytes: that is both
  // the reply buffer's size and the most that may be copied back.
  const std::size_t capacity = std::size_t{requestSize} + responseSize;
  const kiv::wire::Bytes block(pRequest, capacity);
  const CIExchange x = KIV_CIExchange(block, requestSize, responseSize, CIAnswerRead::AfterAnySend);
  if (!x.sent) {
    KIV_TRACE("SendAdapCIRequest: no reply buffer of %zu bytes, nothing sent\n", capacity);
    niCIClose();
    return ADAPCI_SendFailed;
  }

  KIV_TRACE("headersize =%d\n", kHeaderSizeTraced);
  KIV_TRACE("requestSize: %d\n", static_cast<int>(x.answerSize));
  if (x.copied != x.answerSize) {
    KIV_TRACE("SendAdapCIRequest: answer of %u bytes cut to %zu\n", x.answerSize, x.copied);
  }

  const bool hasResult = block.size() >= ARB::kResultWord + 4;
  const std::uint8_t networkResult = hasResult ? kiv::wire::get8(block, ARB::kNetworkResult) : 0;
  const auto applicationResult =
      hasResult ? static_cast<std::int16_t>(kiv::wire::get16be(block, ARB::kApplicationResult)) : std::int16_t{0};
  KIV_TRACE("Network result    : %d\n", static_cast<int>(networkResult));
  KIV_TRACE("Application result: %d\n", static_cast<int>(applicationResult));

  if (x.sendResult != 0) {
    niCIClose();
    return ADAPCI_SendFailed;
  }

  std::int32_t code = ADAPCI_Answered;
  if (x.copied < requestSize) {
    KIV_TRACE("SendAdapCIRequest: answer of %zu bytes, %u expected\n", x.copied, requestSize);
    code = ADAPCI_AnswerIncomplete;
  } else if (block.size() > ARB::kDirectiveStatus && kiv::wire::get8(block, ARB::kDirectiveStatus) != 0) {
    code = ADAPCI_DirectiveFailed;
  } else if (hasResult && kiv::wire::get32be(block, ARB::kResultWord) != 0) {
    code = ADAPCI_ResultNonZero;
  }
  if (niCIClose() != 0 && code != ADAPCI_AnswerIncomplete) code = ADAPCI_CloseFailed;

  KIV_TRACE("SendAdapCIRequest: exit (RC = %d)\n", code);
  return code;
}
