// Simulated adapter behind the stand-in client library: its persistent
// state, the decoding of request blocks and the adapter's answers. Shared by
// the library (nicisimlib.cpp) and the control command kivadapsim.
//
// simstate.cpp     the state, its text form and the text helpers both use
// simstore.cpp     the files: state, lock, request log, firmware images
// simadapter.cpp   the adapter: request blocks checked, port requests answered
// simenclosure.cpp the enclosures behind it: SES requests answered
// simfaults.cpp    one send with the faults a tester staged
#ifndef KIV_NICISIM_NICISIM_H
#define KIV_NICISIM_NICISIM_H

#include <sys/types.h>

#include <array>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "adapci/kivwire.h"
#include "debug/kivcodes.h"

namespace nicisim {

constexpr int kPorts = 4;
constexpr std::size_t kMaxLogLines = 10000;
constexpr std::int32_t kAuto = INT32_MIN;  // no forced result: the rules apply
constexpr std::int64_t kAlways = -1;       // fault count that never runs out
constexpr std::int64_t kMaxFaultNumber = 1000000000;  // largest count= or after=

struct Port {
  bool serviceMode = false;
  bool loopUp = true;
  std::int32_t forcedQuery = kAuto;
  std::int32_t forcedSet = kAuto;
  std::int32_t forcedClear = kAuto;
};

enum FaultKind {
  kOpen,
  kSend,
  kSendAnswered,
  kClose,
  kDirective,
  kNetwork,
  kReplyStatus,
  kResultByte,
  kShort,
  kNoAnswer,
  kFaultKinds
};

// What the fault verb and the state file accept for each kind: its name,
// the key of its number (errno= or value=, with range and default), and
// whether it takes executed= and what executed is unless given. A fault
// that marks the answer as failed defaults to a transaction the adapter
// never carried out; one that loses part of a good answer on the way back
// defaults to a transaction that was carried out.
enum class FaultNumber { kNone, kErrno, kValue };
struct FaultKindInfo {
  const char* name;
  FaultNumber number;
  std::int32_t min, max, byDefault;
  bool takesExecuted;
  bool executedByDefault;
};
constexpr std::array<FaultKindInfo, kFaultKinds> kFaultKindInfo{{
    {"open", FaultNumber::kNone, 0, 0, 0, false, false},
    {"send", FaultNumber::kErrno, 1, 4095, EIO, false, false},
    {"send-answered", FaultNumber::kErrno, 1, 4095, EIO, true, false},
    {"close", FaultNumber::kNone, 0, 0, 0, false, false},
    {"directive", FaultNumber::kValue, 1, UINT8_MAX, DE_Failure, true, false},
    {"network", FaultNumber::kValue, 1, UINT8_MAX, 1, true, false},
    {"replystatus", FaultNumber::kValue, 1, INT32_MAX, 1, true, true},
    {"resultbyte", FaultNumber::kValue, 1, UINT8_MAX, 1, true, false},
    {"short", FaultNumber::kValue, 0, UINT16_MAX, static_cast<std::int32_t>(kiv::wire::kHeaderSize), true, true},
    {"noanswer", FaultNumber::kNone, 0, 0, 0, true, true},
}};

struct Fault {
  std::int64_t count = 0;  // 0: off; kAlways; else the requests left
  std::int32_t value = 0;  // its errno= or value=
  std::int64_t after = 0;  // chances to let pass before the first firing
  bool executed = false;   // the adapter carried the transaction out
};

constexpr std::size_t kMaxEnclosures = 64;
constexpr std::size_t kMaxImage = 16u << 20;     // firmware bytes kept per device
constexpr std::size_t kMaxStringIn = 4096;
constexpr std::size_t kMaxStatuses = 64;

// A firmware transfer to one device behind an enclosure. An enclosure runs
// one transfer at a time: a start page opens it (ending any other one still
// receiving), image pages for its device add to it in order, and a commit
// page commits it when it is complete. A transfer that a nonzero Short
// Enclosure Status, an overlong image or another start ended is stopped and
// can no longer be committed.
enum Transfer { kReceiving, kStopped, kCommitted };
constexpr std::array<const char*, 3> kTransferNames{"receiving", "stopped", "committed"};

// Each transfer writes a file of its own, numbered per device; a commit
// that is accepted makes that file the device's committed image, in the
// same save of the state, so that no crash leaves the state naming an image
// that its file does not hold.
struct Device {
  int number = 0;            // 0 to 63
  std::uint64_t pages = 0;   // image pages taken
  std::uint64_t length = 0;  // image bytes taken, kept in this transfer's file
  Transfer transfer = kReceiving;
  std::uint64_t file = 0;            // this transfer's file number, from 1
  std::uint64_t imageFile = 0;       // the committed image's file number, 0: none
  std::uint64_t imageLength = 0;     // its length
  friend bool operator==(const Device&, const Device&) = default;
};

struct Enclosure {
  std::string serial;                  // 1 to 37 of [A-Za-z0-9._:-]
  std::vector<std::uint8_t> statuses;  // page 8 answers in turn, the last repeats
  std::size_t next = 0;
  std::vector<std::uint8_t> stringIn;  // page 4 as read
  std::int64_t busy = 0;               // sends still to fail with EBUSY
  std::uint8_t pending = 0;            // nonzero: the next page 8 read answers it (a refused commit)
  std::vector<Device> devices;         // by number, those that had a start page
  Device* device(int number);
  friend bool operator==(const Enclosure&, const Enclosure&) = default;
};

// The status that the next page 8 read shows after a commit page that
// could not be carried out.
constexpr std::uint8_t kRefusedCommitStatus = 2;

// What an answered request does to a transfer's file: a start page makes
// it empty (and removes the device's files that neither the state before
// nor the state after the request names), an image page writes its bytes
// at offset.
struct ImageWrite {
  std::string serial;
  int device = 0;
  bool start = false;
  std::uint64_t file = 0;                 // the transfer's file number
  std::array<std::uint64_t, 2> keep{};    // start: the files to keep besides it
  std::uint64_t offset = 0;
  std::span<const std::uint8_t> bytes;  // in the answered block
};

bool validSerial(const std::string& serial);
bool fromHex(const std::string& hex, std::vector<std::uint8_t>& out, std::size_t max);

// ---- text helpers shared by the state file and kivadapsim ----

// A whole decimal number, nothing before or after it.
template <typename T>
bool toInt(const std::string& v, T& out) {
  if (v.empty()) return false;
  auto [p, ec] = std::from_chars(v.data(), v.data() + v.size(), out);
  return ec == std::errc() && p == v.data() + v.size();
}
// A forced result: "auto" or a signed 16-bit decimal code.
std::string rcText(std::int32_t rc);
bool parseRc(const std::string& v, std::int32_t& out);
// A fault count: "always", "off" or a positive number.
std::string countText(std::int64_t count);
bool parseCount(const std::string& v, std::int64_t& out);
// Page 8 statuses: "N[,N...]", each 0 to 255, at most kMaxStatuses.
std::string statusListText(const std::vector<std::uint8_t>& statuses);
std::optional<std::vector<std::uint8_t>> parseStatusList(const std::string& v);
const char* onOff(bool on);
const char* yesNo(bool yes);
bool parseYesNo(const std::string& v, bool& out);
const char* upDown(bool up);

struct State {
  std::uint64_t generation = 0;  // counts the saves; the newer of two copies wins
  std::array<Port, kPorts> ports{};
  std::array<Fault, kFaultKinds> faults{};
  std::vector<Enclosure> enclosures;
  Enclosure* find(const std::string& serial);
  State();
};

// Fires the fault when armed: counts it down and returns true.
bool fire(State& s, FaultKind k);

// Text form of the state and its strict reader. parse returns false with a
// reason for anything it did not write itself; a checksum on the last line
// makes a torn write read as damaged.
std::string serialize(const State& s);
bool parse(const std::string& text, State& out, std::string& why);

// ---- the files: simstore.cpp ----

// Path of the state file (KIVADAPSIM_STATE, else a per-user default); its
// second copy, the lock, the log and the firmware images lie beside it.
// The default below /tmp (when neither XDG_STATE_HOME nor HOME is set) is
// used only when its folder is the user's own with mode 0700.
std::string statePath();
std::string altStatePath();
extern const char* SimTmpBase;  // "/tmp"; a seam for tests
std::string lockPath();
std::string logPath();

struct Fd {
  int fd = -1;
  explicit Fd(int f) : fd(f) {}
  ~Fd();
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
};

// Opens path (flags as for open; O_NOFOLLOW and O_NONBLOCK are added) only
// when it is a regular file of this user with one link: never through a
// symbolic link, never a FIFO or device that could block. -1 with why and
// errno (ENOENT when the file does not exist) otherwise.
int openOurs(const std::string& path, int flags, std::string& why, mode_t mode = 0600);

// The wait for the lock: at most 10 s, with these seams for its clock and
// its pauses, which tests pin.
constexpr std::uint64_t kLockWaitMicroseconds = 10000000;
extern std::uint64_t (*SimNowMicroseconds)();
extern void (*SimSleepMicroseconds)(std::uint64_t microseconds);

enum class Access { kDone, kTimedOut, kRefused };
// One visit of the state: the lock taken, the state loaded, fn run, the
// state saved when fn returns true (or when the file is new), the lock
// released. A missing file is created. kTimedOut or kRefused with a reason
// when the lock or the file cannot be had (fn is not run then), or when the
// save failed. The state is kept in two copies, and a save rewrites the
// older one, so that a crash or a full file system in mid-save leaves the
// newer one whole: the state read is the newest copy that is whole.
Access withState(const std::function<bool(State&)>& fn, std::string& why);
// Replaces the state, damaged or not, with a fresh one, empties the log and
// removes the firmware images and the temporary files of killed runs;
// refuses a state path that is not a regular file of ours.
Access resetState(std::string& why);
// The newest whole copy of the state, read without the lock (tests).
bool readState(State& out, std::string& why);

// Test seam: the operations that change the simulator's files (writes,
// truncations, creations, renames, removals) are counted in this process
// from 1. At operation SimFailAt (0: never) a write stops halfway, and the
// process ends there (kCrash) or the operation fails with ENOSPC (kFull).
enum class SimFailure { kNone, kCrash, kFull };
extern SimFailure SimFailKind;
extern std::uint64_t SimFailAt;
extern std::uint64_t SimFileOps;
constexpr int kSimCrashStatus = 86;

// The request log: one line per request, kept to its newest kMaxLogLines
// once it passes kMaxLogBytes. Each line is stored with the process ID that
// made the request. appendLog, readLog and clearLog are called within a
// visit, except for the lines of calls that could not have one. The lines
// of a visit are written after its save, so that the log never shows a
// request that the state does not; when the save fails, they end in
// " not saved".
constexpr std::size_t kMaxLogBytes = 2u << 20;
void appendLog(const std::string& line);
struct LogLine {
  std::string pid;
  std::string line;
};
std::vector<LogLine> readLog(std::string& why);
bool clearLog(std::string& why);

// A transfer's file of one device of an enclosure; writeImage applies an
// ImageWrite to it.
std::string imagePath(const std::string& serial, int device, std::uint64_t file);
bool writeImage(const ImageWrite& w, std::string& why);

// What became of one request block at the adapter.
struct Answer {
  int err = 0;       // 0: answered; EINVAL: too short to answer; EBUSY: the enclosure is busy
  std::string line;  // the log line: the request and its outcome
  std::optional<ImageWrite> image;
};

// The layout check that every block passes before the adapter acts on it:
// "" when every byte is as its layout says, else what is not.
std::string blockError(std::span<const std::uint8_t> block, std::uint64_t dataAddress);
// The request that a sound block makes, as the log names it.
std::string describe(std::span<const std::uint8_t> block);

// Answers one request block in place (the block holds the request on
// entry). dataAddress is the address the block's data area was passed at.
// A block that fails the layout check is answered with DE_BadParameter (or
// not at all, with EINVAL, when it is too short to carry a directive
// status); a sound one is carried out, and its state change applied.
Answer answerBlock(State& s, std::span<std::uint8_t> block, std::uint64_t dataAddress);

// Where a block of either kind keeps its directive status, its result word
// and its network result; the faults that spoil an answer write there.
struct ResultFields {
  std::size_t directiveStatus;
  std::size_t resultWordFirstByte;
  std::size_t networkResult;
};
ResultFields resultFieldsOf(std::span<const std::uint8_t> block);

// One send as the library carries it out, with the staged faults: the
// answer is written to reply (which holds at least request.size() bytes)
// and never exceeds the request's size.
struct Sent {
  int err = 0;                   // 0: the send succeeds; else the errno it fails with
  std::uint32_t answerSize = 0;  // bytes of reply handed back
  std::int32_t replyStatus = 0;
  std::string line;              // the log line
  std::optional<ImageWrite> image;
};
Sent sendRequest(State& s, std::span<const std::uint8_t> request, std::span<std::uint8_t> reply,
                 std::uint64_t dataAddress);

// ---- shared by the adapter and the enclosure side ----

// "" when every byte of [from, to) outside the valued fields is zero, else
// which byte is not.
std::string strayByte(std::span<const std::uint8_t> b, std::size_t from, std::size_t to,
                      std::span<const kiv::wire::Field> valued);
// "" when the four descriptors at `at` are `want` with zeros between their
// fields, else what differs.
std::string areasDiffer(std::span<const std::uint8_t> b, std::size_t at, const kiv::wire::Areas& want);
std::string decimal(std::uint32_t v);

// The enclosure side: checks the layout of an SES block ("" when it is
// sound), names its request, and answers a sound one.
std::string sesLayoutError(std::span<const std::uint8_t> b, std::uint64_t dataAddress);
std::string describeSes(std::span<const std::uint8_t> b);
Answer answerSes(State& s, std::span<std::uint8_t> b);

}  // namespace nicisim

#endif
