// A programmable, in-process client library for unit tests: scripted
// answers and a record of every call, in order. It also makes a chosen
// allocation of a request block or reply buffer fail.
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
  // The result of niCISendSyncRequest, the errno a failed send leaves, and
  // the result of niCIBGetRequestStatus.
  int rc = 0, err = 0, replyStatus = 0;
  // Edits the answer, which starts as a copy of the request block.
  std::function<void(std::vector<std::uint8_t>&)> answer{};
  // Reported answer size. Default: the request size after a good send and 0
  // after a failed one. A larger size is reported as given (the answer is
  // zero-padded), so callers' bounds can be tested.
  std::optional<std::uint32_t> size{};
  // The answer's address leads to memory that cannot be read: a caller
  // that reads the answer when the contract does not promise one crashes.
  bool unreadable = false;
};

// The script, then the record. A test sets it whole: state() = {...}.
struct State {
  std::deque<int> openResults{}, closeResults{};  // next results of niCIOpen and niCIClose (default 0)
  std::deque<Send> sends{};                       // next sends (default: a plain echo)
  int failAllocation = 0;                         // n > 0: the n-th nothrow array new from now fails

  // Every call, e.g. "open setopt2=1 setopt0=1 setopt1=0 send size request close".
  std::string calls{};
  std::vector<std::vector<std::uint8_t>> sentBlocks{};  // each block as it was sent
  std::vector<std::uint64_t> sentAddresses{};           // where each block lay
  int openConnections = 0;                              // good opens minus closes
  std::vector<std::uint8_t> lastAnswer{};               // what niCIBGetRequest points into
};

State& state();

}  // namespace nicifake

#endif
