// What the tests share: temporary folders, programs, and the traced run.
#include "kivtestsupport.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <tuple>

#include "debug/kivdebug.h"
#include "ses/kivses.h"

extern char** environ;

namespace kivtest {

namespace {

std::string tempBase(TempDir::Where where) {
  struct stat st {};
  if (where == TempDir::InMemory && stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) && access("/dev/shm", W_OK) == 0) {
    return "/dev/shm";
  }
  const char* base = std::getenv("TMPDIR");
  return base != nullptr && *base != '\0' ? base : "/tmp";
}

// Output goes to unlinked temporary files rather than pipes, so a child
// that writes a lot never blocks on a full pipe.
int tempFd() {
  std::string name = tempBase(TempDir::Default) + "/kivout.XXXXXX";
  int fd = mkstemp(name.data());
  if (fd < 0) throw std::runtime_error("mkstemp failed");
  unlink(name.c_str());
  return fd;
}

// Opened afresh through /proc, so it reads from the start, whatever the
// offset the child left.
std::string drain(int fd) {
  const std::string s = readFile(std::string("/proc/self/fd/").append(std::to_string(fd)));
  close(fd);
  return s;
}

// Runs child() in a fork with standard output and error captured; a child
// that hangs is ended by its alarm after a minute, so it fails its test,
// not the run.
ChildResult inChild(const std::function<void()>& child) {
  std::fflush(nullptr);
  const int outFd = tempFd(), errFd = tempFd();
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    dup2(outFd, STDOUT_FILENO);
    dup2(errFd, STDERR_FILENO);
    alarm(60);
    child();
    _exit(127);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) continue;
  return {pid, WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), drain(outFd), drain(errFd)};
}

// ---- the traced run's child ----

std::time_t g_start = 0;
std::string g_waits;
std::string g_reportPath;
std::function<std::string()> g_report;

void recordWait(char kind, std::uint64_t amount, const std::string& more = "") {
  // Appended piece by piece: GCC 12 misreads literal + temporary under -O3.
  g_waits.append(g_waits.empty() ? "" : " ").append(1, kind).append(std::to_string(amount)).append(more);
}

std::time_t defaultStart() {
  std::tm t{};
  strptime("2026-12-04 12:25:40", "%Y-%m-%d %H:%M:%S", &t);
  t.tm_isdst = -1;
  return std::mktime(&t);
}

// A trace's lines as "module:text", the source line left out, without the
// opening lines, the time lines and the completion line.
std::vector<std::string> traceEvents(const std::string& trace) {
  std::vector<std::string> events;
  std::istringstream in(trace);
  std::string line;
  for (int lineNo = 1; std::getline(in, line); ++lineNo) {
    if (lineNo <= 3) continue;  // "Program ... started.", the date, a blank
    if (line.starts_with("Completed at ")) break;
    // Time lines, and the empty line before the completion line too.
    if (line.find_first_not_of("0123456789.") == std::string::npos) continue;
    const std::size_t colon = line.find(':');
    const std::size_t blank = line.find(' ', colon == std::string::npos ? 0 : colon);
    events.push_back(colon == std::string::npos || blank == std::string::npos
                         ? line
                         : line.substr(0, colon + 1) + line.substr(blank + 1));
  }
  return events;
}

}  // namespace

TempDir::TempDir(Where where) {
  std::string name = tempBase(where) + "/kivtest.XXXXXX";
  if (mkdtemp(name.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = name;
}

TempDir::~TempDir() { removeTree(path_); }

void removeTree(const std::string& path) {
  std::error_code ignored;
  std::filesystem::remove_all(path, ignored);
}

std::string readFile(const std::string& path) {
  std::ostringstream s;  // what cannot be read (a directory, nothing) reads as ""
  s << std::ifstream(path, std::ios::binary).rdbuf();
  return s.str();
}

void writeFile(const std::string& path, const std::string& contents) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << contents;
}

std::vector<std::string> listDir(const std::string& path) {
  std::vector<std::string> names;
  std::error_code ignored;
  for (const auto& e : std::filesystem::directory_iterator(path, ignored)) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

ChildResult runProgram(const std::string& path, const std::vector<std::string>& argv,
                       const std::vector<std::pair<std::string, std::string>>& env) {
  std::vector<std::string> entries;
  for (char** p = environ; *p != nullptr; ++p) {
    const std::string e = *p;
    if (std::none_of(env.begin(), env.end(), [&](const auto& kv) { return e.starts_with(kv.first + "="); })) entries.push_back(e);
  }
  for (const auto& [k, v] : env) entries.push_back(k + "=" + v);
  // Made before the fork: a child forked while another thread holds the
  // allocator's lock must not allocate.
  std::vector<char*> cargv, cenv;
  for (const std::string& a : argv) cargv.push_back(const_cast<char*>(a.c_str()));
  for (std::string& e : entries) cenv.push_back(e.data());
  cargv.push_back(nullptr);
  cenv.push_back(nullptr);
  return inChild([&] {
    const int in = open("/dev/null", O_RDONLY);
    dup2(in, STDIN_FILENO);
    execve(path.c_str(), cargv.data(), cenv.data());
  });
}

Traced runTraced(const std::function<void()>& body, const char* utility,
                 const std::function<std::string()>& report) {
  TempDir tmp;
  const std::string dir = tmp.file("traces");
  mkdir(dir.c_str(), 0755);
  g_reportPath = tmp.file("report");
  const ChildResult r = inChild([&] {
    g_start = defaultStart();
    g_report = report;
    KIV_DebugDir = dir.c_str();
    KIV_TimeNow = [] { return g_start; };
    KIV_HouseKeepingNow = [] { return g_start; };
    KIV_TimeOfDayNow = [](struct timeval* tv) { *tv = {g_start, 0}; };  // the elapsed time stands still
    SES_SleepSeconds = [](unsigned s) { recordWait('s', s); };
    SES_SleepMicroseconds = [](std::uint64_t us) { recordWait('u', us); };
    SES_DownloadProgress = [](std::uint32_t sent, std::uint32_t total) { recordWait('p', sent, '/' + std::to_string(total)); };
    // Registered first, so it runs after every exit handler of the body.
    std::atexit([] { writeFile(g_reportPath, g_waits + "\n" + (g_report ? g_report() : std::string())); });
    if (utility != nullptr) KIV_OpenTraceFile(utility);
    body();
    std::exit(0);
  });
  Traced t;
  std::tie(t.status, t.out, t.err) = std::tie(r.status, r.out, r.err);
  const std::string report_ = readFile(g_reportPath);
  const std::size_t newline = report_.find('\n');
  t.waits = report_.substr(0, newline);
  t.report = newline == std::string::npos ? "" : report_.substr(newline + 1);
  const std::vector<std::string> names = listDir(dir);
  if (names.size() == 1) {
    t.traceName = names[0];
    const std::string path = dir + "/" + names[0];
    t.trace = names[0].ends_with(".gz") ? runProgram("/bin/gzip", {"gzip", "-dc", path}).out : readFile(path);
    t.events = traceEvents(t.trace);
  }
  return t;
}

}  // namespace kivtest
