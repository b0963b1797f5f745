// The faults a tester stages, applied to one send. A fault either keeps the
// request from the adapter (send), answers it without the adapter carrying
// it out, or spoils the answer of a request it carried out; executed=
// chooses between the last two. A malformed block is answered as malformed
// whatever is staged: a fault must never hide a caller's broken block.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "adapci/kivwire.h"
#include "nicisim/nicisim.h"

namespace nicisim {

using namespace kiv::wire;

bool fire(State& s, FaultKind k) {
  Fault& f = s.faults[k];
  if (f.count == 0) return false;
  if (f.after > 0) {
    --f.after;
    return false;
  }
  if (f.count > 0) --f.count;
  return true;
}

namespace {
// The kinds that act on a send that reaches the adapter, in the order they
// are given their chance.
constexpr std::array<FaultKind, 7> kAnswerFaults{kSendAnswered, kDirective, kNetwork, kReplyStatus,
                                                 kResultByte,   kShort,     kNoAnswer};
}  // namespace

Sent sendRequest(State& s, ConstBytes request, std::span<std::uint8_t> reply, std::uint64_t dataAddress) {
  Sent out;
  const std::size_t size = std::min(request.size(), reply.size());
  if (size > 0) std::memmove(reply.data(), request.data(), size);
  const Bytes answer = reply.first(size);

  if (!blockError(answer, dataAddress).empty()) {
    Answer a = answerBlock(s, answer, dataAddress);
    out.err = a.err;
    out.answerSize = a.err == 0 ? static_cast<std::uint32_t>(size) : 0;
    out.line = std::move(a.line);
    return out;
  }
  if (fire(s, kSend)) {
    out.err = s.faults[kSend].value;
    out.line = describe(answer) + " executed=no fault=send";
    return out;
  }
  std::string fired;
  bool executed = true;
  std::array<bool, kFaultKinds> fires{};
  for (FaultKind k : kAnswerFaults) {
    if (!fire(s, k)) continue;
    fires[k] = true;
    executed = executed && s.faults[k].executed;
    fired += (fired.empty() ? " fault=" : ",") + std::string(kFaultKindInfo[k].name);
  }
  if (executed) {
    Answer a = answerBlock(s, answer, dataAddress);
    if (a.err != 0) {
      out.err = a.err;
      out.line = a.line + fired;
      return out;
    }
    out.line = std::move(a.line);
    out.image = a.image;
  } else {
    out.line = describe(answer) + " executed=no";
  }
  out.line += fired;
  out.answerSize = static_cast<std::uint32_t>(size);
  const ResultFields at = resultFieldsOf(answer);
  auto byte = [&](FaultKind k) { return static_cast<std::uint8_t>(s.faults[k].value); };
  if (fires[kDirective]) put8(answer, at.directiveStatus, byte(kDirective));
  if (fires[kNetwork]) put8(answer, at.networkResult, byte(kNetwork));
  if (fires[kResultByte]) put8(answer, at.resultWordFirstByte, byte(kResultByte));
  if (fires[kReplyStatus]) out.replyStatus = s.faults[kReplyStatus].value;
  if (fires[kSendAnswered]) out.err = s.faults[kSendAnswered].value;
  if (fires[kShort]) out.answerSize = std::min(out.answerSize, static_cast<std::uint32_t>(s.faults[kShort].value));
  if (fires[kNoAnswer]) out.answerSize = 0;
  return out;
}

}  // namespace nicisim
