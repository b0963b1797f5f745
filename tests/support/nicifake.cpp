// The programmable fake of the client library: scripted answers and a
// record of every call.
#include "nicifake.h"

#include <sys/mman.h>

#include <algorithm>
#include <cerrno>
#include <new>

namespace {
// Constructed before main, so it outlives every exit handler a test
// registers: a traced run's report may still read it.
nicifake::State fake;
void record(const std::string& call) { fake.calls += (fake.calls.empty() ? "" : " ") + call; }
// The next scripted value, or the default one when none is left.
template <typename T>
T next(std::deque<T>& script) {
  if (script.empty()) return T{};
  T value = std::move(script.front());
  script.pop_front();
  return value;
}
}  // namespace

nicifake::State& nicifake::state() { return fake; }

// The nothrow form the modules allocate their blocks with, failing on demand.
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
  if (fake.failAllocation > 0 && --fake.failAllocation == 0) return nullptr;
  try { return ::operator new[](n); } catch (const std::bad_alloc&) { return nullptr; }
}

extern "C" int niCIOpen(void) {
  record("open");
  const int rc = next(fake.openResults);
  if (rc == 0) ++fake.openConnections;
  return rc;
}

extern "C" int niCISetOptions(niCIOptions*, int option, uint32_t value) {
  record("setopt" + std::to_string(option) + "=" + std::to_string(value));
  return 0;
}

extern "C" int niCISendSyncRequest(void* request, uint32_t requestSize, niCIOptions*, niCIStatus*, niCIReply* reply) {
  record(reply->pReplyBuffer != nullptr ? "send" : "send-without-reply-buffer");
  const auto* bytes = static_cast<const std::uint8_t*>(request);
  fake.sentBlocks.emplace_back(bytes, bytes + requestSize);
  fake.sentAddresses.push_back(reinterpret_cast<std::uintptr_t>(request));
  const nicifake::Send script = next(fake.sends);
  fake.lastAnswer = fake.sentBlocks.back();
  if (script.answer) script.answer(fake.lastAnswer);
  const std::uint32_t size = script.size.value_or(script.rc == 0 ? requestSize : 0);
  fake.lastAnswer.resize(std::max<std::size_t>(fake.lastAnswer.size(), size), 0);
  static void* const noAccess = mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  *reply = {script.replyStatus, size, script.unreadable ? noAccess : fake.lastAnswer.data(), reply->pReplyBuffer};
  if (script.rc != 0) errno = script.err;
  return script.rc;
}

// The reply record's fields, as the send filled them in.
extern "C" int niCIBGetRequestStatus(const niCIReply* reply) { return record("status"), reply->requestStatus; }
extern "C" uint32_t niCIBGetRequestSize(const niCIReply* reply) { return record("size"), reply->requestSize; }
extern "C" void* niCIBGetRequest(const niCIReply* reply) { return record("request"), reply->pAnswer; }

extern "C" int niCIClose(void) {
  record("close");
  --fake.openConnections;
  return next(fake.closeResults);
}
