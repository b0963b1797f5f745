// The client library's functions, answered by the simulated adapter. Every
// call that touches the adapter works on the shared state file under its
// lock, so separate processes see one adapter.
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>

#include "adapci/kivwire.h"
#include "adapci/nici.h"
#include "nicisim/nicisim.h"

namespace {
// One connection per process, as the real library allows.
bool g_connectionOpen = false;

// Fires the fault if it is due; the state is written back whenever the fault
// is armed, since even a fault that lets this call pass counts it down.
bool fireAndKeep(nicisim::State& s, nicisim::FaultKind k, bool& fails) {
  const bool armed = s.faults[k].count != 0;
  fails = nicisim::fire(s, k);
  return armed;
}
}  // namespace

extern "C" int niCIOpen(void) {
  bool fails = false;
  std::string why;
  if (!nicisim::withState([&](nicisim::State& s) { return fireAndKeep(s, nicisim::kOpen, fails); }, why, true)) {
    errno = EIO;
    return -1;
  }
  if (fails) {
    errno = ECONNREFUSED;
    return -1;
  }
  g_connectionOpen = true;
  return 0;
}

extern "C" int niCISetOptions(niCIOptions* options, int option, uint32_t value) {
  if (options == nullptr || option < 0 || option > 2) return -1;
  options->value[option] = value;
  return 0;
}

extern "C" int niCISendSyncRequest(void* request, uint32_t requestSize, niCIOptions* options, niCIStatus* status,
                                   niCIReply* reply) {
  if (reply == nullptr) {
    errno = EINVAL;
    return -1;
  }
  reply->requestStatus = 0;
  reply->requestSize = 0;
  reply->pAnswer = reply->pReplyBuffer;
  if (status != nullptr) std::memset(status, 0, sizeof *status);
  if (request == nullptr || reply->pReplyBuffer == nullptr || options == nullptr) {
    errno = EINVAL;
    return -1;
  }
  if (!g_connectionOpen) {
    errno = ENOTCONN;
    return -1;
  }
  auto* answer = static_cast<std::uint8_t*>(reply->pReplyBuffer);
  int failErrno = 0;
  bool answered = false;
  std::int32_t replyStatus = 0;
  std::string why;
  bool ok = nicisim::withState(
      [&](nicisim::State& s) {
        using namespace nicisim;
        if (fire(s, kSend)) {
          failErrno = s.faults[kSend].value;
          return true;
        }
        std::memcpy(answer, request, requestSize);
        std::span<std::uint8_t> block(answer, requestSize);
        const auto dataAddress = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(request) + kiv::wire::kDataOffset);
        failErrno = answerBlock(s, block, dataAddress);
        answered = failErrno == 0;
        if (!answered) return true;
        // Faults that spoil an answer the adapter gave.
        const ResultFields at = resultFieldsOf(block);
        if (fire(s, kDirective)) block[at.directiveStatus] = static_cast<std::uint8_t>(s.faults[kDirective].value);
        if (fire(s, kNetwork)) block[at.networkResult] = static_cast<std::uint8_t>(s.faults[kNetwork].value);
        if (fire(s, kReplyStatus)) replyStatus = s.faults[kReplyStatus].value;
        if (fire(s, kSendAnswered)) failErrno = s.faults[kSendAnswered].value;
        return true;
      },
      why, true);
  if (!ok) {
    errno = EIO;
    return -1;
  }
  if (answered) reply->requestSize = requestSize;
  reply->requestStatus = replyStatus;
  if (failErrno != 0) {
    errno = failErrno;
    return -1;
  }
  return 0;
}

extern "C" int niCIBGetRequestStatus(const niCIReply* reply) { return reply != nullptr ? reply->requestStatus : -1; }

extern "C" uint32_t niCIBGetRequestSize(const niCIReply* reply) { return reply != nullptr ? reply->requestSize : 0; }

extern "C" void* niCIBGetRequest(const niCIReply* reply) { return reply != nullptr ? reply->pAnswer : nullptr; }

extern "C" int niCIClose(void) {
  if (!g_connectionOpen) {
    errno = EBADF;
    return -1;
  }
  g_connectionOpen = false;
  bool fails = false;
  std::string why;
  if (!nicisim::withState([&](nicisim::State& s) { return fireAndKeep(s, nicisim::kClose, fails); }, why, true) ||
      fails) {
    errno = EIO;
    return -1;
  }
  return 0;
}
