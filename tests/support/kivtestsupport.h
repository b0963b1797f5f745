// Helpers shared by the tests: temporary folders, files, and running code or
// programs in a child process with its output captured.
#ifndef KIV_TESTS_SUPPORT_KIVTESTSUPPORT_H
#define KIV_TESTS_SUPPORT_KIVTESTSUPPORT_H

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace kivtest {

// A fresh folder below $TMPDIR (or /tmp), removed with all it holds.
// InMemory puts it on a memory file system where there is one, for tests
// that make many files or sync often, so that the load on the disk does
// not decide their time.
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

// The text of the one trace file in dir, unpacked with gzip when it was
// compressed at exit; "" when there is none. name receives its file name.
std::string readOnlyTrace(const std::string& dir, std::string* name = nullptr);

// The trace lines of a trace file's text, each as "module:event text"
// without its source line, with the opening lines, the time lines and the
// completion line left out.
std::vector<std::string> traceEvents(const std::string& trace);

struct ChildResult {
  int pid = -1;         // the child's process ID
  int status = -1;      // exit status, or 128 + signal number
  std::string out;      // standard output
  std::string err;      // standard error
};

// Runs body in a forked child; the child exits with 0 when body returns.
// exit() inside body runs the child's atexit handlers, as in a real run.
ChildResult runInChild(const std::function<void()>& body, int timeoutSeconds = 120);

// Runs a program without a shell. argv[0] is passed as given, so a test can
// choose the name a program sees; path is what is executed.
ChildResult runProgram(const std::string& path, const std::vector<std::string>& argv,
                       const std::vector<std::pair<std::string, std::string>>& env = {},
                       int timeoutSeconds = 120);

}  // namespace kivtest

#endif
