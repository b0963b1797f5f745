// What the tests share: temporary folders, programs, and the traced run.
#include "kivtestsupport.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

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

std::string drain(int fd) {
  std::string s;
  lseek(fd, 0, SEEK_SET);
  char buf[4096];
  for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;) s.append(buf, static_cast<std::size_t>(n));
  close(fd);
  return s;
}

// Runs child() in a fork with standard output and error captured; a child
// that hangs is killed after a minute, so it fails its test, not the run.
ChildResult inChild(const std::function<void()>& child) {
  std::fflush(nullptr);
  const int outFd = tempFd(), errFd = tempFd();
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    dup2(outFd, STDOUT_FILENO);
    dup2(errFd, STDERR_FILENO);
    child();
    _exit(127);
  }
  ChildResult r;
  r.pid = pid;
  int status = 0;
  for (int waited = 0; waitpid(pid, &status, WNOHANG) == 0; ++waited) {
    if (waited == 60000) kill(pid, SIGKILL);
    usleep(1000);
  }
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  r.out = drain(outFd);
  r.err = drain(errFd);
  return r;
}

// ---- the traced run's child ----

std::time_t g_start = 0;
long g_step = 0;
long g_readings = 0;
std::string g_waits;
std::string g_reportPath;
std::function<std::string()> g_report;

std::time_t pinnedTime() { return g_start; }
void pinnedTimeOfDay(struct timeval* tv) {
  const long long us = static_cast<long long>(g_readings++) * g_step;
  tv->tv_sec = g_start + static_cast<std::time_t>(us / 1000000);
  tv->tv_usec = static_cast<suseconds_t>(us % 1000000);
}
void recordWait(char kind, std::uint64_t amount) {
  if (!g_waits.empty()) g_waits += ' ';
  g_waits += kind;
  g_waits += std::to_string(amount);
}
void recordSeconds(unsigned s) { recordWait('s', s); }
void recordMicroseconds(std::uint64_t us) { recordWait('u', us); }
void recordProgress(std::uint32_t sent, std::uint32_t total) {
  recordWait('p', sent);
  g_waits += '/';
  g_waits += std::to_string(total);
}
void writeReport() {
  writeFile(g_reportPath, g_waits + "\n" + (g_report ? g_report() : std::string()));
}

std::time_t defaultStart() {
  std::tm t{};
  t.tm_year = 126;
  t.tm_mon = 11;
  t.tm_mday = 4;
  t.tm_hour = 12;
  t.tm_min = 25;
  t.tm_sec = 40;
  t.tm_isdst = -1;
  return std::mktime(&t);
}

}  // namespace

TempDir::TempDir(Where where) {
  std::string name = tempBase(where) + "/kivtest.XXXXXX";
  if (mkdtemp(name.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = name;
}

TempDir::~TempDir() { removeTree(path_); }

void removeTree(const std::string& path) {
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0) return;
  if (!S_ISDIR(st.st_mode)) {
    unlink(path.c_str());
    return;
  }
  chmod(path.c_str(), 0700);
  for (const std::string& name : listDir(path)) removeTree(path + "/" + name);
  rmdir(path.c_str());
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void writeFile(const std::string& path, const std::string& contents) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << contents;
}

std::vector<std::string> listDir(const std::string& path) {
  std::vector<std::string> names;
  if (DIR* d = opendir(path.c_str())) {
    while (const dirent* e = readdir(d)) {
      if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) names.emplace_back(e->d_name);
    }
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string numbered(const char* prefix, long number) {
  std::string s = prefix;
  s += std::to_string(number);
  return s;
}

ChildResult runProgram(const std::string& path, const std::vector<std::string>& argv,
                       const std::vector<std::pair<std::string, std::string>>& env) {
  std::vector<std::string> entries;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    if (std::none_of(env.begin(), env.end(), [&](const auto& kv) { return entry.starts_with(kv.first + "="); })) {
      entries.push_back(entry);
    }
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

Traced runTraced(const std::function<void()>& body, const char* utility, Clock clock,
                 const std::function<std::string()>& report) {
  TempDir tmp;
  const std::string dir = tmp.file("traces");
  mkdir(dir.c_str(), 0755);
  g_reportPath = tmp.file("report");
  const ChildResult r = inChild([&] {
    g_start = clock.start != 0 ? clock.start : defaultStart();
    g_step = clock.stepMicroseconds;
    g_report = report;
    KIV_DebugDir = dir.c_str();
    KIV_TimeNow = pinnedTime;
    KIV_TimeOfDayNow = pinnedTimeOfDay;
    KIV_HouseKeepingNow = pinnedTime;
    SES_SleepSeconds = recordSeconds;
    SES_SleepMicroseconds = recordMicroseconds;
    SES_DownloadProgress = recordProgress;
    // Registered first, so it runs after every exit handler of the body.
    std::atexit(writeReport);
    if (utility != nullptr) KIV_OpenTraceFile(utility);
    body();
    std::exit(0);
  });
  Traced t;
  t.status = r.status;
  t.out = r.out;
  t.err = r.err;
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

std::vector<std::string> traceEvents(const std::string& trace) {
  std::vector<std::string> events;
  std::istringstream in(trace);
  std::string line;
  for (int lineNo = 1; std::getline(in, line); ++lineNo) {
    if (lineNo <= 3) continue;  // "Program ... started.", the date, a blank
    if (line.starts_with("Completed at ")) break;
    const bool timeLine = line.find_first_not_of("0123456789.") == std::string::npos;
    if (timeLine) continue;  // the empty line before the completion line too
    const std::size_t colon = line.find(':');
    const std::size_t blank = line.find(' ', colon == std::string::npos ? 0 : colon);
    events.push_back(colon == std::string::npos || blank == std::string::npos
                         ? line
                         : line.substr(0, colon + 1) + line.substr(blank + 1));
  }
  return events;
}

}  // namespace kivtest
