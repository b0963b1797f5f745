// What the tests share: temporary folders and files, programs run without a
// shell, and the one fixture that runs a body as a utility runs, in a child
// process with its trace in a temporary folder and its clocks pinned.
#ifndef KIV_TESTS_SUPPORT_KIVTESTSUPPORT_H
#define KIV_TESTS_SUPPORT_KIVTESTSUPPORT_H

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace kivtest {

// A fresh folder below $TMPDIR (or /tmp), removed with all it holds.
// InMemory puts it on a memory file system where there is one, for tests
// that make many files, so that the disk does not decide their time.
class TempDir {
 public:
  enum Where { Default, InMemory };
  explicit TempDir(Where where = Default);
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& contents);
// Entry names of a folder, sorted, without "." and "..".
std::vector<std::string> listDir(const std::string& path);
void removeTree(const std::string& path);

struct ChildResult {
  int pid = -1;     // the child's process ID
  int status = -1;  // exit status, or 128 + signal number
  std::string out;  // standard output
  std::string err;  // standard error
};

// Runs a program without a shell, standard input on /dev/null. argv[0] is
// passed as given; env entries are added to (or replace) the environment.
ChildResult runProgram(const std::string& path, const std::vector<std::string>& argv,
                       const std::vector<std::pair<std::string, std::string>>& env = {});

struct Traced {
  int status = -1;
  std::string out, err;
  std::string traceName;            // the trace file left behind, "" if none
  std::string trace;                // its text, unpacked when compressed
  std::vector<std::string> events;  // its trace lines as "module:text", no source line
  std::string waits;                // "s10 u25000 p503/1006": sleeps and progress of the SES module
  std::string report;               // what report() returned at exit
};

// Runs body in a forked child as a utility runs: the trace directory is a
// fresh temporary folder, the clocks are pinned (2026-12-04 12:25:40 local,
// and the elapsed time stands still), the enclosure module's
// waits and progress are recorded instead of slept, and the trace file is
// opened as `utility` (unless utility is null: the body opens it itself).
// exit() inside body ends the child as it ends a utility, exit handlers
// included; report, if given, runs after them and its text comes back.
Traced runTraced(const std::function<void()>& body, const char* utility = "kivtest",
                 const std::function<std::string()>& report = {});

}  // namespace kivtest

#endif
