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

// Fires the fault if it is due, and logs the call it fails; the state is
// written back whenever the fault is armed, since even a fault that lets
// this call pass counts it down.
bool fireAndKeep(nicisim::State& s, nicisim::FaultKind k, bool& fails, const char* call) {
  const bool armed = s.faults[k].count != 0;
  fails = nicisim::fire(s, k);
  if (fails) s.addLog(std::string(call) + " fault=" + nicisim::kFaultKindInfo[k].name);
  return armed;
}
}  // namespace

extern "C" int niCIOpen(void) {
  bool fails = false;
  std::string why;
  if (!nicisim::withState([&](nicisim::State& s) { return fireAndKeep(s, nicisim::kOpen, fails, "niCIOpen"); }, why, true)) {
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
  const std::span<const std::uint8_t> block(static_cast<const std::uint8_t*>(request), requestSize);
  const std::span<std::uint8_t> answer(static_cast<std::uint8_t*>(reply->pReplyBuffer),
                                       std::size_t{requestSize} + options->value[NICI_OPTION_EXTRA_SIZE]);
  const auto dataAddress = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(request) + kiv::wire::kDataOffset);
  nicisim::Sent sent;
  std::string why;
  bool ok = nicisim::withState(
      [&](nicisim::State& s) {
        sent = nicisim::sendRequest(s, block, answer, dataAddress);
        s.addLog(sent.line);
        return true;
      },
      why, true);
  if (!ok) {
    errno = EIO;
    return -1;
  }
  reply->requestSize = sent.answerSize;
  reply->requestStatus = sent.replyStatus;
  if (sent.err != 0) {
    errno = sent.err;
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
  if (!nicisim::withState([&](nicisim::State& s) { return fireAndKeep(s, nicisim::kClose, fails, "niCIClose"); }, why, true) ||
      fails) {
    errno = EIO;
    return -1;
  }
  return 0;
}
