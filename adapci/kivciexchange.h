// The steps that every request through the command-interface client library
// shares, whoever sends it: the option, status and reply records cleared,
// the three option calls in their order, a zero-filled reply buffer of block
// size + extra size bytes, the synchronous send, and the copy of the answer
// back over the caller's block, never more than that block holds. Opening
// and closing the connection, tracing and judging the answer stay with the
// caller (the adapter exchange and the enclosure module), each in its own
// words.
#ifndef KIV_ADAPCI_KIVCIEXCHANGE_H
#define KIV_ADAPCI_KIVCIEXCHANGE_H

#include <cstddef>
#include <cstdint>
#include <span>

// When the answer is read back from the library.
enum class CIAnswerRead {
  // After any send, failed or not: size, then address, then the copy.
  AfterAnySend,
  // Only after a good send: the reply status first, and size, address and
  // copy only when it is 0.
  AfterGoodReplyStatus,
};

struct CIExchange {
  bool sent = false;             // false: no reply buffer, nothing was sent
  int sendResult = 0;            // niCISendSyncRequest's result
  int sendErrno = 0;             // errno right after a failed send
  int replyStatus = 0;           // niCIBGetRequestStatus, when it was asked
  bool answerRead = false;       // size and address were asked for
  std::uint32_t answerSize = 0;  // the size the library reported
  std::size_t copied = 0;        // bytes copied over the caller's block
};

// block must hold requestSize + responseSize bytes; the request is its
// first requestSize bytes.
CIExchange KIV_CIExchange(std::span<std::uint8_t> block, std::uint32_t requestSize, std::uint32_t responseSize,
                          CIAnswerRead read);

#endif
