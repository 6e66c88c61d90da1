#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <grp.h>
#include <pwd.h>
#include <string>
#include <systemd/sd-daemon.h>
#include <systemd/sd-login.h>
#include <unistd.h>
#include <vector>

#include "platform/posix/spawn_posix.h"
#include "platform/session.h"
#include "platform/system.h"

extern char** environ;

namespace saalwacht::platform {

namespace {

// Variables a helper needs to reach the student's display and desktop.
constexpr const char* kDisplayVariables[] = {"DISPLAY", "XAUTHORITY", "WAYLAND_DISPLAY", "XDG_RUNTIME_DIR",
                                             "DBUS_SESSION_BUS_ADDRESS", "XDG_SESSION_TYPE", "LANG", "LC_ALL"};

struct StudentSession {
  posix::SpawnRequest::Account account;
  std::vector<std::string> environment;
};

std::vector<std::string> splitEnvironment(const std::string& block) {
  std::vector<std::string> entries;
  std::size_t start = 0;
  while (start < block.size()) {
    const auto end = block.find('\0', start);
    entries.push_back(block.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return entries;
}

std::optional<std::string> lookup(const std::vector<std::string>& environment, std::string_view name) {
  for (const auto& entry : environment) {
    if (entry.size() > name.size() && entry.compare(0, name.size(), name) == 0 && entry[name.size()] == '=') {
      return entry.substr(name.size() + 1);
    }
  }
  return std::nullopt;
}

// The environment of the oldest process of the session that knows the
// display (the session's own processes come first in process id order).
std::vector<std::string> sessionEnvironment(const char* session, uid_t uid) {
  std::vector<pid_t> candidates;
  if (DIR* dir = ::opendir("/proc")) {
    while (const dirent* entry = ::readdir(dir)) {
      char* end = nullptr;
      const long pid = std::strtol(entry->d_name, &end, 10);
      if (pid <= 0 || *end != '\0') continue;
      uid_t owner = 0;
      char* pidSession = nullptr;
      if (sd_pid_get_owner_uid(static_cast<pid_t>(pid), &owner) >= 0 && owner == uid &&
          sd_pid_get_session(static_cast<pid_t>(pid), &pidSession) >= 0 && std::strcmp(pidSession, session) == 0) {
        candidates.push_back(static_cast<pid_t>(pid));
      }
      std::free(pidSession);
    }
    ::closedir(dir);
  }
  std::sort(candidates.begin(), candidates.end());
  for (pid_t pid : candidates) {
    const auto block = readFile("/proc/" + std::to_string(pid) + "/environ");
    if (!block) continue;
    auto environment = splitEnvironment(*block);
    if (lookup(environment, "DISPLAY") || lookup(environment, "WAYLAND_DISPLAY")) return environment;
  }
  return {};
}

class PosixSessionLauncher final : public SessionLauncher {
 public:
  PosixSessionLauncher(bool ownSession, std::vector<std::string> extraEnvironment)
      : ownSession_(ownSession), extraEnvironment_(std::move(extraEnvironment)) {}

  bool interactiveSessionExists() override {
    if (ownSession_) return environmentValue("DISPLAY") || environmentValue("WAYLAND_DISPLAY");
    char* session = nullptr;
    uid_t uid = 0;
    const bool found = activeGraphicalSession(&session, &uid);
    std::free(session);
    return found;
  }

  std::unique_ptr<LaunchedProcess> launch(const std::filesystem::path& program,
                                          const std::vector<std::string>& args) override {
    posix::SpawnRequest request{program, args, std::nullopt, std::nullopt};
    if (!ownSession_) {
      auto session = findStudentSession();
      if (!session) return nullptr;
      request.environment = std::move(session->environment);
      request.account = std::move(session->account);
    } else if (!interactiveSessionExists()) {
      return nullptr;
    }
    if (!extraEnvironment_.empty()) {
      if (!request.environment) {
        request.environment.emplace();
        for (char** entry = environ; *entry; ++entry) request.environment->push_back(*entry);
      }
      request.environment->insert(request.environment->end(), extraEnvironment_.begin(), extraEnvironment_.end());
    }
    return posix::spawn(request);
  }

  std::optional<unsigned> sessionUserId() override {
    if (ownSession_) return std::nullopt;
    char* session = nullptr;
    uid_t uid = 0;
    const bool found = activeGraphicalSession(&session, &uid);
    std::free(session);
    if (!found) return std::nullopt;
    return uid;
  }

 private:
  // The session in front of the PC: the active one on seat0, if graphical.
  static bool activeGraphicalSession(char** session, uid_t* uid) {
    if (sd_seat_get_active("seat0", session, uid) < 0 || !*session) return false;
    char* type = nullptr;
    bool graphical = false;
    if (sd_session_get_type(*session, &type) >= 0 && type) {
      graphical = std::strcmp(type, "x11") == 0 || std::strcmp(type, "wayland") == 0 || std::strcmp(type, "mir") == 0;
    }
    std::free(type);
    return graphical;
  }

  static std::optional<StudentSession> findStudentSession() {
    char* session = nullptr;
    uid_t uid = 0;
    if (!activeGraphicalSession(&session, &uid)) {
      std::free(session);
      return std::nullopt;
    }
    const auto sessionEnv = sessionEnvironment(session, uid);
    std::optional<std::string> display = lookup(sessionEnv, "DISPLAY");
    if (!display) {
      char* x11 = nullptr;
      if (sd_session_get_display(session, &x11) >= 0 && x11) display = x11;
      std::free(x11);
    }
    std::free(session);

    const passwd* user = ::getpwuid(uid);
    if (!user) return std::nullopt;
    StudentSession result;
    result.account.uid = uid;
    result.account.gid = user->pw_gid;
    int groupCount = 64;
    result.account.groups.resize(static_cast<std::size_t>(groupCount));
    if (::getgrouplist(user->pw_name, user->pw_gid, result.account.groups.data(), &groupCount) < 0) {
      result.account.groups.resize(static_cast<std::size_t>(groupCount));
      ::getgrouplist(user->pw_name, user->pw_gid, result.account.groups.data(), &groupCount);
    }
    result.account.groups.resize(static_cast<std::size_t>(groupCount));

    auto& env = result.environment;
    env.push_back(std::string("HOME=") + user->pw_dir);
    env.push_back(std::string("USER=") + user->pw_name);
    env.push_back(std::string("LOGNAME=") + user->pw_name);
    env.push_back(std::string("SHELL=") + (user->pw_shell ? user->pw_shell : "/bin/sh"));
    env.push_back("PATH=/usr/local/bin:/usr/bin:/bin");
    bool haveRuntimeDir = false;
    for (const char* name : kDisplayVariables) {
      std::optional<std::string> value = lookup(sessionEnv, name);
      if (std::strcmp(name, "DISPLAY") == 0) value = display;
      if (!value) continue;
      haveRuntimeDir = haveRuntimeDir || std::strcmp(name, "XDG_RUNTIME_DIR") == 0;
      env.push_back(std::string(name) + "=" + *value);
    }
    if (!haveRuntimeDir) env.push_back("XDG_RUNTIME_DIR=/run/user/" + std::to_string(uid));
    return result;
  }

  bool ownSession_;
  std::vector<std::string> extraEnvironment_;
};

}  // namespace

std::unique_ptr<SessionLauncher> createSessionLauncher(const SessionOptions& options) {
  // The session manager is asked only by a service that may start programs as
  // another user on a system that runs it; otherwise helpers share the
  // service's own display.
  const bool ownSession = options.useOwnSession || ::geteuid() != 0 || sd_booted() <= 0;
  return std::make_unique<PosixSessionLauncher>(ownSession, options.helperEnvironment);
}

}  // namespace saalwacht::platform
