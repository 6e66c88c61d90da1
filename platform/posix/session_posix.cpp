#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <grp.h>
#include <pwd.h>
#include <string>
#include <systemd/sd-daemon.h>
#include <systemd/sd-login.h>
#include <vector>

#include "platform/posix/spawn_posix.h"
#include "platform/posix/xauthority.h"
#include "platform/session.h"
#include "platform/system.h"

extern char** environ;

namespace saalwacht::platform {

namespace {

using Account = posix::SpawnRequest::Account;

// Variables a helper takes over from the student's session.
constexpr const char* kSessionVariables[] = {"LANG", "LC_ALL", "LC_MESSAGES"};

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

std::vector<std::string> ownEnvironment() {
  std::vector<std::string> entries;
  for (char** entry = environ; *entry; ++entry) entries.emplace_back(*entry);
  return entries;
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

std::optional<Account> accountOf(const passwd& user) {
  Account account;
  account.uid = user.pw_uid;
  account.gid = user.pw_gid;
  int groupCount = 64;
  account.groups.resize(static_cast<std::size_t>(groupCount));
  if (::getgrouplist(user.pw_name, user.pw_gid, account.groups.data(), &groupCount) < 0) {
    account.groups.resize(static_cast<std::size_t>(groupCount));
    ::getgrouplist(user.pw_name, user.pw_gid, account.groups.data(), &groupCount);
  }
  account.groups.resize(static_cast<std::size_t>(groupCount));
  return account;
}

// The student in front of the PC and how to reach his display.
struct StudentSession {
  uid_t uid = 0;
  std::string userName;
  std::string home;
  SessionKind kind = SessionKind::Wayland;
  std::optional<std::string> display;
  std::optional<std::string> xauthority;  // the session's own cookie file
  std::vector<std::string> environment;   // the session's variables
};

class PosixSessionLauncher final : public SessionLauncher {
 public:
  enum class Mode {
    Own,      // the service's own user and environment (not root, or asked for)
    Logind,   // the active graphical session of seat0
    Named,    // a named student on the service's own display (trials without logind)
  };

  PosixSessionLauncher(Mode mode, SessionOptions options) : mode_(mode), options_(std::move(options)) {}

  // Cheap enough for the 5 s check: the session's processes are looked at
  // only when a helper is started.
  bool interactiveSessionExists() override { return sessionKind() != SessionKind::NoSession; }

  SessionKind sessionKind() override {
    if (mode_ == Mode::Own) {
      if (environmentValue("DISPLAY")) return SessionKind::Coverable;
      return environmentValue("WAYLAND_DISPLAY") ? SessionKind::Wayland : SessionKind::NoSession;
    }
    if (mode_ == Mode::Named) return namedSession() ? SessionKind::Coverable : SessionKind::NoSession;
    return logindSessionKind(nullptr, nullptr);
  }

  std::unique_ptr<LaunchedProcess> launch(const std::filesystem::path& program,
                                          const std::vector<std::string>& args) override {
    posix::SpawnRequest request{program, args, std::nullopt, std::nullopt};
    if (mode_ == Mode::Own) {
      if (!interactiveSessionExists()) return nullptr;
      if (!options_.helperEnvironment.empty()) request.environment = ownEnvironment();
    } else {
      const auto session = studentSession();
      if (!session || !session->display) return nullptr;
      if (!prepare(*session, request)) return nullptr;
    }
    if (!options_.helperEnvironment.empty()) {
      request.environment->insert(request.environment->end(), options_.helperEnvironment.begin(),
                                  options_.helperEnvironment.end());
    }
    return posix::spawn(request);
  }

  std::optional<unsigned> sessionUserId() override {
    if (mode_ == Mode::Own) return std::nullopt;
    if (const auto helper = helperAccount()) return helper->uid;
    const auto session = studentSession();
    if (!session) return std::nullopt;
    return session->uid;
  }

 private:
  std::optional<StudentSession> studentSession() {
    return mode_ == Mode::Logind ? logindSession() : namedSession();
  }

  // The kind of the session in front of the PC: the active one on seat0, if
  // graphical; with `name`, its id (to be freed), and its user.
  static SessionKind logindSessionKind(char** name, uid_t* user) {
    char* session = nullptr;
    uid_t uid = 0;
    if (sd_seat_get_active("seat0", &session, &uid) < 0 || !session) {
      std::free(session);
      return SessionKind::NoSession;
    }
    char* type = nullptr;
    SessionKind kind = SessionKind::NoSession;
    if (sd_session_get_type(session, &type) >= 0 && type) {
      const std::string_view t(type);
      if (t == "x11") kind = SessionKind::Coverable;
      if (t == "wayland" || t == "mir") kind = SessionKind::Wayland;
    }
    std::free(type);
    if (name && kind != SessionKind::NoSession) {
      *name = session;
      *user = uid;
    } else {
      std::free(session);
    }
    return kind;
  }

  // The session in front of the PC, with what a helper needs to reach it.
  static std::optional<StudentSession> logindSession() {
    char* session = nullptr;
    uid_t uid = 0;
    const SessionKind kind = logindSessionKind(&session, &uid);
    std::optional<StudentSession> result;
    if (kind != SessionKind::NoSession) {
      result.emplace();
      result->kind = kind;
      result->uid = uid;
      result->environment = sessionEnvironment(session, uid);
      result->display = lookup(result->environment, "DISPLAY");
      if (!result->display) {
        char* x11 = nullptr;
        if (sd_session_get_display(session, &x11) >= 0 && x11) result->display = x11;
        std::free(x11);
      }
      result->xauthority = lookup(result->environment, "XAUTHORITY");
    }
    std::free(session);
    if (result && !fillUser(*result)) return std::nullopt;
    return result;
  }

  std::optional<StudentSession> namedSession() const {
    const passwd* user = ::getpwnam(options_.sessionUser->c_str());
    const auto display = environmentValue("DISPLAY");
    if (!user || !display) return std::nullopt;
    StudentSession result;
    result.uid = user->pw_uid;
    result.kind = SessionKind::Coverable;
    result.display = display;
    result.xauthority = environmentValue("XAUTHORITY");
    result.environment = ownEnvironment();
    if (!fillUser(result)) return std::nullopt;
    return result;
  }

  static bool fillUser(StudentSession& session) {
    const passwd* user = ::getpwuid(session.uid);
    if (!user) return false;
    session.userName = user->pw_name;
    session.home = user->pw_dir ? user->pw_dir : "/";
    if (!session.xauthority) session.xauthority = session.home + "/.Xauthority";
    return true;
  }

  std::optional<Account> helperAccount() const {
    if (options_.helperUser.empty()) return std::nullopt;
    const passwd* user = ::getpwnam(options_.helperUser.c_str());
    if (!user || user->pw_uid == 0) return std::nullopt;
    auto account = accountOf(*user);
    // The helper account belongs to its own group only.
    if (account) account->groups = {user->pw_gid};
    return account;
  }

  // Account and environment for a helper in the student's session: the
  // helper account with a private copy of the session's cookie; without
  // that account, the student's own (and a line in the journal).
  bool prepare(const StudentSession& session, posix::SpawnRequest& request) {
    auto& env = request.environment.emplace();
    env.push_back("DISPLAY=" + *session.display);
    env.push_back("PATH=/usr/local/bin:/usr/bin:/bin");
    env.push_back("QT_QPA_PLATFORM=xcb");
    for (const char* name : kSessionVariables) {
      if (auto value = lookup(session.environment, name)) env.push_back(std::string(name) + "=" + *value);
    }
    const auto helper = helperAccount();
    if (!helper) {
      if (!warnedNoHelper_) {
        options_.log("helper account \"" + options_.helperUser +
                     "\" is missing: the helpers run as the student, who can end them (kursdienst /INSTALL makes it)");
        warnedNoHelper_ = true;
      }
      const passwd* user = ::getpwuid(session.uid);
      if (!user) return false;
      request.account = accountOf(*user);
      env.push_back("HOME=" + session.home);
      env.push_back("USER=" + session.userName);
      env.push_back("LOGNAME=" + session.userName);
      if (session.xauthority) env.push_back("XAUTHORITY=" + *session.xauthority);
      if (auto runtime = lookup(session.environment, "XDG_RUNTIME_DIR")) {
        env.push_back("XDG_RUNTIME_DIR=" + *runtime);
      } else {
        env.push_back("XDG_RUNTIME_DIR=/run/user/" + std::to_string(session.uid));
      }
      return true;
    }
    warnedNoHelper_ = false;
    const auto cookie = privateCookie(session, *helper);
    if (!cookie) return false;
    const auto home = options_.runtimeDir / "helper";
    request.account = *helper;
    env.push_back("XAUTHORITY=" + cookie->string());
    env.push_back("HOME=" + home.string());
    env.push_back("XDG_RUNTIME_DIR=" + home.string());
    env.push_back("USER=" + options_.helperUser);
    env.push_back("LOGNAME=" + options_.helperUser);
    // Accessibility and desktop buses belong to the student, not to us.
    env.push_back("NO_AT_BRIDGE=1");
    env.push_back("QT_ACCESSIBILITY=0");
    return true;
  }

  // Copies the session's cookie for its display into a file that only the
  // helper account may read, in a folder only root may change.
  std::optional<std::filesystem::path> privateCookie(const StudentSession& session, const Account& helper) {
    const auto& dir = options_.runtimeDir;
    const auto home = dir / "helper";
    std::error_code error;
    std::filesystem::create_directories(dir, error);
    struct stat info {};
    if (::lstat(dir.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != 0) {
      fail(dir.string() + " is no folder of root's");
      return std::nullopt;
    }
    ::chmod(dir.c_str(), 0755);
    if (::mkdir(home.c_str(), 0700) != 0 && errno != EEXIST) {
      fail(home.string() + ": " + std::strerror(errno));
      return std::nullopt;
    }
    if (::lstat(home.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) ||
        (info.st_uid != helper.uid && ::lchown(home.c_str(), helper.uid, helper.gid) != 0)) {
      fail(home.string() + " cannot be made the helper account's own");
      return std::nullopt;
    }
    ::chmod(home.c_str(), 0700);

    std::vector<posix::XauthEntry> entries;
    if (session.xauthority) {
      if (const auto bytes = readFile(*session.xauthority)) {
        if (const auto all = posix::parseXauthority(*bytes)) entries = posix::entriesForDisplay(*all, *session.display);
      }
    }
    if (entries.empty()) {
      // A display without cookie (xhost) needs none; say so once.
      if (!warnedNoCookie_) options_.log("no X cookie for " + *session.display + " in " +
                                         session.xauthority.value_or("?") + "; the helpers try without one");
      warnedNoCookie_ = true;
    }
    const auto number = posix::displayNumber(*session.display).value_or("x");
    const auto file = dir / ("xauth-" + number);
    const auto temporary = dir / ("xauth-" + number + ".new");
    ::unlink(temporary.c_str());
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
      fail(temporary.string() + ": " + std::strerror(errno));
      return std::nullopt;
    }
    const std::string bytes = posix::formatXauthority(entries);
    const bool written = ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()) &&
                         ::fchown(fd, helper.uid, helper.gid) == 0 && ::fchmod(fd, 0600) == 0;
    ::close(fd);
    if (!written || ::rename(temporary.c_str(), file.c_str()) != 0) {
      ::unlink(temporary.c_str());
      fail(file.string() + " cannot be written");
      return std::nullopt;
    }
    return file;
  }

  void fail(const std::string& why) { options_.log("helpers cannot be started: " + why); }

  Mode mode_;
  SessionOptions options_;
  bool warnedNoHelper_ = false;
  bool warnedNoCookie_ = false;
};

}  // namespace

std::unique_ptr<SessionLauncher> createSessionLauncher(const SessionOptions& options) {
  // Another account's session is reached only by a service run as root: on
  // a system with logind, the seat's active session; without it, a student
  // named for a trial. Otherwise helpers share the service's own display.
  using Mode = PosixSessionLauncher::Mode;
  Mode mode = Mode::Own;
  if (!options.useOwnSession && ::geteuid() == 0) {
    if (options.sessionUser) {
      mode = Mode::Named;
    } else if (sd_booted() > 0) {
      mode = Mode::Logind;
    }
  }
  return std::make_unique<PosixSessionLauncher>(mode, options);
}

}  // namespace saalwacht::platform
