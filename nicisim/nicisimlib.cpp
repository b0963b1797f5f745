// The client library's functions, answered by the simulated adapter. Each
// open, send and close is one visit of the shared state file under its lock
// (load, act, save, release), so separate processes see one adapter that
// serialises requests, not runs. The library's contract is checked as a
// caller must keep it; a breach is refused and logged as "contract: ...".
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>

#include "adapci/kivwire.h"
#include "adapci/nici.h"
#include "nicisim/nicisim.h"

namespace {

// What this process has done with the library: one connection at most, the
// option calls of the request being prepared, and the reply record of the
// last send, with what that send put into it.
struct Connection {
  bool open = false;
  const niCIOptions* options = nullptr;
  int optionCalls = 0;  // 0 to 3 of the calls option 2 = 1, option 0 = 1, option 1 = extra size
  std::string optionBreach;
  const niCIReply* lastReply = nullptr;
  const void* lastAnswer = nullptr;
};
Connection g_connection;

int fail(int err) {
  errno = err;
  return -1;
}

// A breach of the contract: logged, and the call fails with err.
int breach(const std::string& what, int err) {
  const std::string line = "contract: " + what;
  std::string why;
  auto log = [&](nicisim::State&) {
    nicisim::appendLog(line);
    return false;
  };
  if (nicisim::withState(log, why) != nicisim::Access::kDone) nicisim::appendLog(line);
  return fail(err);
}

// A visit for one call; when the state cannot be had, the call fails and
// the log says why. Returns the errno to fail with, or 0.
int visit(const char* call, const std::function<bool(nicisim::State&)>& fn) {
  std::string why;
  const nicisim::Access a = nicisim::withState(fn, why);
  if (a == nicisim::Access::kDone) return 0;
  nicisim::appendLog(std::string(call) + " failed: " + why);
  return a == nicisim::Access::kTimedOut ? EBUSY : EIO;
}

// Fires the fault if it is due and logs the call it fails; the state is
// written back whenever the fault is armed, since even a fault that lets
// this call pass counts it down.
bool fireAndLog(nicisim::State& s, nicisim::FaultKind k, bool& fails, const char* call) {
  const bool armed = s.faults[k].count != 0;
  fails = nicisim::fire(s, k);
  if (fails) nicisim::appendLog(std::string(call) + " fault=" + nicisim::kFaultKindInfo[k].name);
  return armed;
}

// What is wrong with a send's arguments and the option calls before it, or
// "" when nothing is.
std::string sendBreach(const void* request, std::uint32_t requestSize, const niCIOptions* options,
                       const niCIStatus* status, const niCIReply* reply) {
  if (!g_connection.open) return "niCISendSyncRequest without an open connection";
  if (request == nullptr || requestSize == 0) return "niCISendSyncRequest without a request block";
  if (options == nullptr || status == nullptr) return "niCISendSyncRequest without its option and status records";
  if (!g_connection.optionBreach.empty()) return g_connection.optionBreach;
  if (options != g_connection.options || g_connection.optionCalls != 3 ||
      options->value[NICI_OPTION_RESPONSE_MODE] != 1 || options->value[NICI_OPTION_SYNCHRONOUS] != 1) {
    return "niCISendSyncRequest before the option calls 2 = 1, 0 = 1, 1 = extra size on its record";
  }
  if (reply->pReplyBuffer == nullptr) return "niCISendSyncRequest without a reply buffer";
  return "";
}

}  // namespace

extern "C" int niCIOpen(void) {
  if (g_connection.open) return breach("niCIOpen while a connection is open", EBUSY);
  bool fails = false;
  if (int err = visit("niCIOpen", [&](nicisim::State& s) { return fireAndLog(s, nicisim::kOpen, fails, "niCIOpen"); });
      err != 0) {
    return fail(err);
  }
  if (fails) return fail(ECONNREFUSED);
  g_connection = Connection{};
  g_connection.open = true;
  return 0;
}

extern "C" int niCISetOptions(niCIOptions* options, int option, uint32_t value) {
  if (options == nullptr || option < 0 || option > 2) return -1;
  options->value[option] = value;
  // Three calls per request, on one record, in this order.
  Connection& c = g_connection;
  if (option == NICI_OPTION_RESPONSE_MODE && value == 1) {
    c.options = options;
    c.optionCalls = 1;
    c.optionBreach.clear();
  } else if (options == c.options && c.optionCalls == 1 && option == NICI_OPTION_SYNCHRONOUS && value == 1) {
    c.optionCalls = 2;
  } else if (options == c.options && c.optionCalls == 2 && option == NICI_OPTION_EXTRA_SIZE) {
    c.optionCalls = 3;
  } else if (c.optionBreach.empty()) {
    c.optionBreach = "niCISetOptions(" + std::to_string(option) + ", " + std::to_string(value) + ") out of order";
  }
  return 0;
}

extern "C" int niCISendSyncRequest(void* request, uint32_t requestSize, niCIOptions* options, niCIStatus* status,
                                   niCIReply* reply) {
  if (reply == nullptr) return breach("niCISendSyncRequest without a reply record", EINVAL);
  reply->requestStatus = 0;
  reply->requestSize = 0;
  reply->pAnswer = reply->pReplyBuffer;
  g_connection.lastReply = reply;
  g_connection.lastAnswer = reply->pAnswer;
  const std::string wrong = sendBreach(request, requestSize, options, status, reply);
  // Each request makes its own three option calls.
  g_connection.options = nullptr;
  g_connection.optionCalls = 0;
  g_connection.optionBreach.clear();
  if (!wrong.empty()) return breach(wrong, EINVAL);
  std::memset(status, 0, sizeof *status);

  // The reply buffer holds block size + extra size bytes; the answer never
  // exceeds the block.
  const std::span<const std::uint8_t> block(static_cast<const std::uint8_t*>(request), requestSize);
  const std::span<std::uint8_t> answer(static_cast<std::uint8_t*>(reply->pReplyBuffer),
                                       std::size_t{requestSize} + options->value[NICI_OPTION_EXTRA_SIZE]);
  const auto dataAddress = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(request) + kiv::wire::kDataOffset);
  nicisim::Sent sent;
  if (int err = visit("niCISendSyncRequest",
                      [&](nicisim::State& s) {
                        sent = nicisim::sendRequest(s, block, answer, dataAddress);
                        std::string why;
                        if (sent.image && !nicisim::writeImage(*sent.image, why)) {
                          // Not taken after all: the state stays as it was.
                          sent = nicisim::Sent{EIO, 0, 0, sent.line + " failed: " + why, {}};
                          nicisim::appendLog(sent.line);
                          return false;
                        }
                        nicisim::appendLog(sent.line);
                        return true;
                      });
      err != 0) {
    return fail(err);
  }
  reply->requestSize = sent.answerSize;
  reply->requestStatus = sent.replyStatus;
  return sent.err != 0 ? fail(sent.err) : 0;
}

extern "C" int niCIBGetRequestStatus(const niCIReply* reply) { return reply != nullptr ? reply->requestStatus : -1; }

namespace {
// Size and address are asked for after the send that filled the record.
bool sentWith(const niCIReply* reply, const char* call) {
  if (reply != nullptr && reply == g_connection.lastReply && reply->pAnswer == g_connection.lastAnswer) return true;
  breach(std::string(call) + " before any send on its reply record", EINVAL);
  return false;
}
}  // namespace

extern "C" uint32_t niCIBGetRequestSize(const niCIReply* reply) {
  return sentWith(reply, "niCIBGetRequestSize") ? reply->requestSize : 0;
}

extern "C" void* niCIBGetRequest(const niCIReply* reply) {
  return sentWith(reply, "niCIBGetRequest") ? reply->pAnswer : nullptr;
}

extern "C" int niCIClose(void) {
  if (!g_connection.open) return breach("niCIClose without an open connection", EBADF);
  g_connection = Connection{};
  bool fails = false;
  if (int err = visit("niCIClose", [&](nicisim::State& s) { return fireAndLog(s, nicisim::kClose, fails, "niCIClose"); });
      err != 0) {
    return fail(err);
  }
  return fails ? fail(EIO) : 0;
}
