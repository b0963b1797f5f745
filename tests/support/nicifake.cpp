// The programmable fake of the client library: scripted answers and a
// record of every call.
#include "nicifake.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace nicifake {

State& state() {
  static State s;
  return s;
}

void reset() { state() = State{}; }

std::string callNames() {
  std::string out;
  for (const Call& c : state().calls) {
    if (!out.empty()) out += ' ';
    out += c.what;
  }
  return out;
}

namespace {
int nextOr(std::deque<int>& q, int fallback) {
  if (q.empty()) return fallback;
  int v = q.front();
  q.pop_front();
  return v;
}
}  // namespace

}  // namespace nicifake

using nicifake::state;

extern "C" int niCIOpen(void) {
  auto& s = state();
  s.calls.push_back({"open"});
  ++s.openCount;
  int rc = nicifake::nextOr(s.openResults, 0);
  if (rc == 0) ++s.openConnections;
  return rc;
}

extern "C" int niCISetOptions(niCIOptions* options, int option, uint32_t value) {
  state().calls.push_back({"setopt", option, value});
  if (options != nullptr && option >= 0 && option < 3) options->value[option] = value;
  return 0;
}

extern "C" int niCISendSyncRequest(void* request, uint32_t requestSize, niCIOptions*, niCIStatus*,
                                   niCIReply* reply) {
  auto& s = state();
  s.calls.push_back({"send", 0, requestSize});
  const auto* bytes = static_cast<const std::uint8_t*>(request);
  s.sentBlocks.emplace_back(bytes, bytes + requestSize);
  s.sentSizes.push_back(requestSize);
  s.replyBuffers.push_back(reply != nullptr ? reply->pReplyBuffer : nullptr);

  nicifake::Send script;
  if (!s.sends.empty()) {
    script = std::move(s.sends.front());
    s.sends.pop_front();
  }
  std::vector<std::uint8_t> answer(bytes, bytes + requestSize);
  if (script.answer) script.answer(answer);
  std::uint32_t size = script.size.value_or(script.rc == 0 ? requestSize : 0);
  if (answer.size() < size) answer.resize(size, 0);
  s.lastAnswer = std::move(answer);
  if (reply != nullptr) {
    reply->requestStatus = script.replyStatus;
    reply->requestSize = size;
    reply->pAnswer = s.lastAnswer.data();
  }
  if (script.rc != 0) errno = script.err;
  return script.rc;
}

extern "C" int niCIBGetRequestStatus(const niCIReply* reply) {
  state().calls.push_back({"status"});
  return reply->requestStatus;
}

extern "C" uint32_t niCIBGetRequestSize(const niCIReply* reply) {
  state().calls.push_back({"size"});
  return reply->requestSize;
}

extern "C" void* niCIBGetRequest(const niCIReply* reply) {
  state().calls.push_back({"request"});
  return reply->pAnswer;
}

extern "C" int niCIClose(void) {
  auto& s = state();
  s.calls.push_back({"close"});
  ++s.closeCount;
  int rc = nicifake::nextOr(s.closeResults, 0);
  --s.openConnections;
  return rc;
}
