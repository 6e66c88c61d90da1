#include "child_process.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace saalwacht::helpers_test {

ChildProcess::~ChildProcess() {
  if (pid_ > 0 && !status_) {
    ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
  }
  if (!outputPath_.empty()) ::unlink(outputPath_.c_str());
}

bool ChildProcess::start(const std::string& program, const std::vector<std::string>& args,
                         const EnvChanges& env) {
  if (pid_ > 0) return false;

  char outTemplate[] = "/tmp/saalwacht-child-XXXXXX";
  const int outFd = ::mkstemp(outTemplate);
  if (outFd < 0) return false;
  outputPath_ = outTemplate;

  // Built before fork: the child may only make async-signal-safe calls.
  std::vector<std::string> envStrings;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    const std::string name = entry.substr(0, entry.find('='));
    if (env.count(name) == 0) envStrings.push_back(entry);
  }
  for (const auto& [name, value] : env)
    if (value) envStrings.push_back(name + "=" + *value);
  std::vector<char*> envp;
  for (auto& s : envStrings) envp.push_back(s.data());
  envp.push_back(nullptr);

  std::vector<std::string> argStrings = {program};
  argStrings.insert(argStrings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& s : argStrings) argv.push_back(s.data());
  argv.push_back(nullptr);

  const pid_t parent = ::getpid();
  const pid_t child = ::fork();
  if (child < 0) {
    ::close(outFd);
    return false;
  }
  if (child == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) _exit(127);
    const int devnull = ::open("/dev/null", O_RDONLY);
    ::dup2(devnull, 0);
    ::dup2(outFd, 1);
    ::dup2(outFd, 2);
    ::execve(program.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  ::close(outFd);
  pid_ = child;
  status_.reset();
  return true;
}

bool ChildProcess::running() {
  if (pid_ <= 0 || status_) return false;
  int status = 0;
  if (::waitpid(pid_, &status, WNOHANG) == pid_) {
    status_ = status;
    return false;
  }
  return true;
}

std::optional<int> ChildProcess::waitFor(std::chrono::milliseconds bound) {
  const auto deadline = std::chrono::steady_clock::now() + bound;
  while (running()) {
    if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return status_;
}

void ChildProcess::signal(int signo) {
  if (running()) ::kill(pid_, signo);
}

std::string ChildProcess::output() const {
  std::ifstream in(outputPath_);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

RunResult runToEnd(const std::string& program, const std::vector<std::string>& args,
                   const ChildProcess::EnvChanges& env, std::chrono::milliseconds bound) {
  ChildProcess child;
  RunResult result;
  if (!child.start(program, args, env)) return result;
  result.status = child.waitFor(bound);
  result.output = child.output();
  return result;
}

std::string findProgram(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path ? path : "/usr/bin:/bin");
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    const std::string candidate = dir + "/" + name;
    if (!dir.empty() && ::access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return {};
}

}  // namespace saalwacht::helpers_test
