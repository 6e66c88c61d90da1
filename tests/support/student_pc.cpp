#include "student_pc.h"

#include <arpa/inet.h>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

#include "platform/system.h"

extern char** environ;

namespace saalwacht::testing {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

bool accepts(const std::string& address) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(4000);
  ::inet_pton(AF_INET, address.c_str(), &to.sin_addr);
  const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0;
  ::close(fd);
  return ok;
}

std::string exeName(pid_t pid) {
  std::error_code error;
  const auto target = fs::read_symlink("/proc/" + std::to_string(pid) + "/exe", error);
  return error ? std::string() : target.filename().string();
}

pid_t spawnWith(const std::vector<std::string>& argv, const std::vector<std::string>& env, int outFd,
                int descriptorLimit = 0) {
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  std::vector<char*> envp;
  for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (outFd >= 0) {
      ::dup2(outFd, 1);
      ::dup2(outFd, 2);
    }
    if (descriptorLimit > 0) {
      const rlimit limit{static_cast<rlim_t>(descriptorLimit), static_cast<rlim_t>(descriptorLimit)};
      ::setrlimit(RLIMIT_NOFILE, &limit);
    }
    ::execve(args[0], args.data(), envp.data());
    _exit(127);
  }
  return pid;
}

}  // namespace

fs::path binDir() { return platform::executableDir(); }

StudentPc::StudentPc(std::string address, std::string display)
    : address_(std::move(address)), display_(std::move(display)) {
  std::string pattern = (fs::temp_directory_path() / "saalwacht-pc-XXXXXX").string();
  stateDir_ = ::mkdtemp(pattern.data());
}

StudentPc::~StudentPc() {
  stop();
  std::error_code ignored;
  fs::remove_all(stateDir_, ignored);
}

bool StudentPc::start() {
  const fs::path powerOff = stateDir_ / "poweroff-standin";
  {
    std::ofstream script(powerOff);
    script << "#!/bin/sh\necho powered off > '" << powerOffMarker().string() << "'\n";
  }
  fs::permissions(powerOff, fs::perms::owner_all);

  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e;
    if (entry.starts_with("DISPLAY=") || entry.starts_with("WAYLAND_DISPLAY=") || entry.starts_with("KURSDIENST_")) {
      continue;
    }
    env.push_back(entry);
  }
  env.push_back("DISPLAY=" + display_);
  env.push_back("KURSDIENST_STATE_DIR=" + stateDir_.string());
  env.push_back("KURSDIENST_POWEROFF=" + powerOff.string());
  // The machine's own console stays free to switch, whatever the test blanks.
  env.push_back("KURSDIENST_CONSOLE_DEVICE=" + (stateDir_ / "no-console").string());
  env.push_back("KURSDIENST_SESSION=service");
  env.push_back("KURSDIENST_CONFIG=" + settingsFile().string());
  for (const auto& [name, value] : environment_) {
    std::erase_if(env, [&name](const std::string& e) { return e.starts_with(name + "="); });
    if (!value.empty()) env.push_back(name + "=" + value);
  }

  const int log = ::open((stateDir_ / "service.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  const fs::path programs = programFolder_.empty() ? binDir() : programFolder_;
  pid_ = spawnWith({(programs / "kursdienst").string(), "--bind", address_}, env, log, descriptorLimit_);
  ::close(log);
  if (pid_ < 0) return false;
  bool ended = false;
  const bool up = eventually(
      [&] {
        ended = ::waitpid(pid_, nullptr, WNOHANG) == pid_;
        return ended || accepts(address_);
      },
      10s);
  if (ended) pid_ = -1;  // it refused to start
  return up && !ended;
}

void StudentPc::configure(const std::string& text) { std::ofstream(settingsFile()) << text; }

std::string StudentPc::journal() const { return platform::readFile(stateDir_ / "service.log").value_or(""); }

std::vector<pid_t> StudentPc::children() const {
  std::vector<pid_t> found;
  if (pid_ < 0) return found;
  DIR* dir = ::opendir("/proc");
  if (!dir) return found;
  while (const dirent* entry = ::readdir(dir)) {
    const pid_t pid = static_cast<pid_t>(std::atoi(entry->d_name));
    if (pid <= 0) continue;
    const auto stat = platform::readFile("/proc/" + std::to_string(pid) + "/stat");
    if (!stat) continue;
    const auto close = stat->rfind(')');
    if (close == std::string::npos) continue;
    char state = 0;
    int parent = 0;
    if (std::sscanf(stat->c_str() + close + 1, " %c %d", &state, &parent) == 2 && parent == pid_ && state != 'Z') {
      found.push_back(pid);
    }
  }
  ::closedir(dir);
  return found;
}

std::vector<pid_t> StudentPc::helpers(const std::string& name) const {
  std::vector<pid_t> found;
  for (pid_t pid : children()) {
    if (exeName(pid) == name) found.push_back(pid);
  }
  return found;
}

std::vector<std::string> StudentPc::arguments(pid_t pid) {
  std::vector<std::string> args;
  const auto cmdline = platform::readFile("/proc/" + std::to_string(pid) + "/cmdline").value_or("");
  std::size_t start = 0;
  while (start < cmdline.size()) {
    const auto end = cmdline.find('\0', start);
    args.push_back(cmdline.substr(start, end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return args;
}

void StudentPc::stop() {
  if (pid_ < 0) return;
  // The helpers are the service's children until it ends; take them now,
  // while their ids are surely still theirs.
  const std::vector<pid_t> leftovers = children();
  ::kill(pid_, SIGTERM);
  const bool ended = eventually([&] { return ::waitpid(pid_, nullptr, WNOHANG) == pid_; }, 5s);
  if (!ended) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  for (pid_t helper : leftovers) ::kill(helper, SIGKILL);
  pid_ = -1;
}

CliRun runCli(const std::vector<std::string>& args) {
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) return {};
  std::vector<std::string> argv{(binDir() / "saalwacht-cli").string()};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) env.emplace_back(*e);
  const pid_t pid = spawnWith(argv, env, pipeFds[1]);
  ::close(pipeFds[1]);
  CliRun run;
  char buffer[4096];
  ssize_t n;
  while ((n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0) run.output.append(buffer, static_cast<std::size_t>(n));
  ::close(pipeFds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

}  // namespace saalwacht::testing
