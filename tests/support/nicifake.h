// A programmable, in-process client library for unit tests: scripted
// answers and a record of every call, in order.
#ifndef KIV_TESTS_SUPPORT_NICIFAKE_H
#define KIV_TESTS_SUPPORT_NICIFAKE_H

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "adapci/nici.h"

namespace nicifake {

// What one niCISendSyncRequest does. By default the request comes back
// unchanged as its own answer.
struct Send {
  int rc = 0;            // result of niCISendSyncRequest
  int err = 0;           // errno left by a failed send
  int replyStatus = 0;   // result of niCIBGetRequestStatus
  // Edits the answer, which starts as a copy of the request block.
  std::function<void(std::vector<std::uint8_t>&)> answer;
  // Reported answer size. Default: the request size after a good send and 0
  // after a failed one. A size larger than the request is reported as given
  // (the answer is zero-padded), so callers' bounds can be tested.
  std::optional<std::uint32_t> size;
};

struct Call {
  std::string what;  // "open", "setopt", "send", "status", "size", "request", "close"
  int option = 0;
  std::uint32_t value = 0;
};

struct State {
  std::deque<int> openResults;   // next results of niCIOpen (default 0)
  std::deque<int> closeResults;  // next results of niCIClose (default 0)
  std::deque<Send> sends;        // next sends (default: a plain echo)

  std::vector<Call> calls;
  std::vector<std::vector<std::uint8_t>> sentBlocks;  // each block as it was sent
  std::vector<std::uint32_t> sentSizes;
  std::vector<const void*> replyBuffers;  // pReplyBuffer at each send
  int openCount = 0;
  int closeCount = 0;
  int openConnections = 0;  // opens that succeeded minus closes

  std::vector<std::uint8_t> lastAnswer;  // what niCIBGetRequest points into
};

State& state();
void reset();
// The sequence of call names, e.g. "open setopt setopt setopt send size request close".
std::string callNames();

}  // namespace nicifake

#endif
