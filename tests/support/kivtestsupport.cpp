#include "kivtestsupport.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace kivtest {

TempDir::TempDir(Where where) {
  const char* base = std::getenv("TMPDIR");
  if (where == InMemory && access("/dev/shm", W_OK | X_OK) == 0) base = "/dev/shm";
  std::string tmpl = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/kivtest.XXXXXX";
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  if (mkdtemp(buf.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = buf.data();
}

TempDir::~TempDir() { removeTree(path_); }

void removeTree(const std::string& path) {
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0) return;
  if (S_ISDIR(st.st_mode)) {
    chmod(path.c_str(), 0700);
    if (DIR* d = opendir(path.c_str())) {
      while (dirent* e = readdir(d)) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
        removeTree(path + "/" + e->d_name);
      }
      closedir(d);
    }
    rmdir(path.c_str());
  } else {
    unlink(path.c_str());
  }
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void writeFile(const std::string& path, const std::string& contents) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << contents;
}

std::vector<std::string> listDir(const std::string& path) {
  std::vector<std::string> names;
  if (DIR* d = opendir(path.c_str())) {
    while (dirent* e = readdir(d)) {
      if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
      names.emplace_back(e->d_name);
    }
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string readOnlyTrace(const std::string& dir, std::string* name) {
  std::vector<std::string> names = listDir(dir);
  if (names.size() != 1) return "";
  if (name != nullptr) *name = names[0];
  const std::string path = dir + "/" + names[0];
  if (path.size() > 3 && path.compare(path.size() - 3, 3, ".gz") == 0) {
    return runProgram("/bin/gzip", {"gzip", "-dc", path}).out;
  }
  return readFile(path);
}

std::vector<std::string> traceEvents(const std::string& trace) {
  std::vector<std::string> events;
  std::istringstream in(trace);
  std::string line;
  int lineNo = 0;
  while (std::getline(in, line)) {
    if (++lineNo <= 3) continue;  // "Program ... started.", the date, a blank
    if (line.starts_with("Completed at ")) break;
    bool timeLine = !line.empty() && line.find_first_not_of("0123456789.") == std::string::npos;
    if (timeLine || line.empty()) continue;
    std::size_t colon = line.find(':');
    std::size_t blank = line.find(' ', colon == std::string::npos ? 0 : colon);
    if (colon == std::string::npos || blank == std::string::npos) {
      events.push_back(line);
      continue;
    }
    events.push_back(line.substr(0, colon + 1) + line.substr(blank + 1));
  }
  return events;
}

namespace {

// Output goes to unlinked temporary files rather than pipes, so a child that
// writes a lot can never block on a full pipe.
int tempFd() {
  const char* base = std::getenv("TMPDIR");
  std::string tmpl = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/kivout.XXXXXX";
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  int fd = mkstemp(buf.data());
  if (fd < 0) throw std::runtime_error("mkstemp failed");
  unlink(buf.data());
  return fd;
}

std::string drain(int fd) {
  std::string s;
  lseek(fd, 0, SEEK_SET);
  char buf[4096];
  ssize_t n;
  while ((n = read(fd, buf, sizeof buf)) > 0) s.append(buf, static_cast<size_t>(n));
  close(fd);
  return s;
}

ChildResult waitFor(pid_t pid, int outFd, int errFd, int timeoutSeconds) {
  ChildResult r;
  r.pid = pid;
  int status = 0;
  // Poll with a deadline so a hung child fails the test instead of the run.
  const int stepsPerSecond = 200;
  for (int i = 0;; ++i) {
    pid_t w = waitpid(pid, &status, WNOHANG);
    if (w == pid) break;
    if (w < 0 && errno != EINTR) break;
    if (i >= timeoutSeconds * stepsPerSecond) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      r.err = "child timed out\n";
      break;
    }
    usleep(1000000 / stepsPerSecond);
  }
  if (WIFEXITED(status)) r.status = WEXITSTATUS(status);
  else if (WIFSIGNALED(status)) r.status = 128 + WTERMSIG(status);
  r.out = drain(outFd);
  r.err += drain(errFd);
  return r;
}

}  // namespace

ChildResult runInChild(const std::function<void()>& body, int timeoutSeconds) {
  std::fflush(nullptr);
  int outFd = tempFd();
  int errFd = tempFd();
  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    dup2(outFd, STDOUT_FILENO);
    dup2(errFd, STDERR_FILENO);
    body();
    std::exit(0);
  }
  return waitFor(pid, outFd, errFd, timeoutSeconds);
}

ChildResult runProgram(const std::string& path, const std::vector<std::string>& argv,
                       const std::vector<std::pair<std::string, std::string>>& env,
                       int timeoutSeconds) {
  std::fflush(nullptr);
  std::vector<std::string> envStrings;
  for (char** e = environ; *e != nullptr; ++e) {
    std::string entry = *e;
    bool replaced = std::any_of(env.begin(), env.end(), [&](const auto& kv) {
      return entry.compare(0, kv.first.size() + 1, kv.first + "=") == 0;
    });
    if (!replaced) envStrings.push_back(entry);
  }
  for (const auto& [k, v] : env) envStrings.push_back(k + "=" + v);
  std::vector<char*> cargv;
  for (const auto& a : argv) cargv.push_back(const_cast<char*>(a.c_str()));
  cargv.push_back(nullptr);
  std::vector<char*> cenv;
  for (auto& e : envStrings) cenv.push_back(e.data());
  cenv.push_back(nullptr);

  int outFd = tempFd();
  int errFd = tempFd();
  int nullFd = open("/dev/null", O_RDONLY);
  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    dup2(nullFd, STDIN_FILENO);
    dup2(outFd, STDOUT_FILENO);
    dup2(errFd, STDERR_FILENO);
    execve(path.c_str(), cargv.data(), cenv.data());
    _exit(127);
  }
  close(nullFd);
  return waitFor(pid, outFd, errFd, timeoutSeconds);
}

}  // namespace kivtest
