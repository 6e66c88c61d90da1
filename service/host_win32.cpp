// kursdienst on Windows: a service of the service control manager ("Service1",
// shown as "kursdienst"); /INSTALL and /UNINSTALL register and remove it. Run
// from a console instead of by the service control manager, it serves in the
// foreground until Ctrl+C.

#include <winsock2.h>
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <asio.hpp>
#include <atomic>
#include <cwctype>
#include <functional>
#include <iostream>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/console_lock.h"
#include "platform/power.h"
#include "platform/processes.h"
#include "platform/session.h"
#include "platform/spool.h"
#include "platform/system.h"
#include "platform/win32/wide.h"
#include "service/serve.h"

namespace fs = std::filesystem;
using namespace saalwacht;
using platform::win32::narrow;
using platform::win32::widen;

namespace {

constexpr const wchar_t* kServiceName = L"Service1";
constexpr const wchar_t* kDisplayName = L"kursdienst";

struct Options {
  enum class Action { Run, Install, Uninstall, Check } action = Action::Run;
  bool silent = false;
  std::optional<std::string> bindAddress;
  std::optional<std::string> powerOff;
};

std::wstring upper(std::wstring text) {
  for (auto& c : text) c = static_cast<wchar_t>(std::towupper(c));
  return text;
}

void usage(std::ostream& out) {
  out << "Aufruf: kursdienst [--bind ADRESSE] [--poweroff PROGRAMM]\n"
         "        kursdienst /INSTALL [/SILENT] [--bind ADRESSE] [--poweroff PROGRAMM]\n"
         "        kursdienst /UNINSTALL [/SILENT]\n"
         "        kursdienst /CHECK                 kursdienst.conf und die Schlüssel prüfen\n";
}

std::optional<Options> parseOptions() {
  int argc = 0;
  wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  if (!argv) return std::nullopt;
  std::vector<std::wstring> args(argv + 1, argv + argc);
  ::LocalFree(argv);

  Options options;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::wstring& arg = args[i];
    if ((arg == L"--bind" || arg == L"--poweroff") && i + 1 < args.size()) {
      (arg == L"--bind" ? options.bindAddress : options.powerOff) = narrow(args[++i]);
      continue;
    }
    const std::wstring name = upper(arg.size() > 1 && (arg[0] == L'/' || arg[0] == L'-') ? arg.substr(1) : L"");
    if (name == L"INSTALL") {
      options.action = Options::Action::Install;
    } else if (name == L"UNINSTALL") {
      options.action = Options::Action::Uninstall;
    } else if (name == L"CHECK") {
      options.action = Options::Action::Check;
    } else if (name == L"SILENT") {
      options.silent = true;
    } else {
      std::cerr << "kursdienst: unbekannter Schalter " << narrow(arg) << "\n";
      usage(std::cerr);
      return std::nullopt;
    }
  }
  // The documented overrides also reach a service that /INSTALL registers.
  if (!options.bindAddress) options.bindAddress = platform::environmentValue("KURSDIENST_BIND");
  if (!options.powerOff) options.powerOff = platform::environmentValue("KURSDIENST_POWEROFF");
  return options;
}

// ---- registration with the service control manager ----

struct ServiceHandleCloser {
  void operator()(SC_HANDLE h) const { ::CloseServiceHandle(h); }
};
using ServiceHandle = std::unique_ptr<std::remove_pointer_t<SC_HANDLE>, ServiceHandleCloser>;

std::wstring registeredCommandLine(const Options& options) {
  std::vector<std::wstring> args;
  if (options.bindAddress) args.insert(args.end(), {L"--bind", widen(*options.bindAddress)});
  if (options.powerOff) args.insert(args.end(), {L"--poweroff", widen(*options.powerOff)});
  return platform::win32::commandLine((platform::executableDir() / "kursdienst.exe").wstring(), args);
}

bool install(const Options& options, std::string& error) {
  const ServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE));
  if (!manager) {
    error = platform::win32::errorText(::GetLastError());
    return false;
  }
  const std::wstring commandLine = registeredCommandLine(options);
  const ServiceHandle service(::CreateServiceW(manager.get(), kServiceName, kDisplayName, SERVICE_ALL_ACCESS,
                                               SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                                               commandLine.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
  if (!service) {
    error = platform::win32::errorText(::GetLastError());
    return false;
  }
  return true;
}

bool uninstall(std::string& error) {
  const ServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) {
    error = platform::win32::errorText(::GetLastError());
    return false;
  }
  const ServiceHandle service(
      ::OpenServiceW(manager.get(), kServiceName, DELETE | SERVICE_STOP | SERVICE_QUERY_STATUS));
  if (!service) {
    error = platform::win32::errorText(::GetLastError());
    return false;
  }
  // A running service is stopped first, so that its files can go too.
  SERVICE_STATUS status{};
  if (::ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) {
    for (int i = 0; i < 50 && status.dwCurrentState != SERVICE_STOPPED; ++i) {
      ::Sleep(100);
      if (!::QueryServiceStatus(service.get(), &status)) break;
    }
  }
  if (!::DeleteService(service.get())) {
    error = platform::win32::errorText(::GetLastError());
    return false;
  }
  return true;
}

int registerService(const Options& options) {
  std::string error;
  const bool installing = options.action == Options::Action::Install;
  const bool ok = installing ? install(options, error) : uninstall(error);
  const std::string text = ok ? (installing ? "Service erfolgreich installiert" : "Service erfolgreich deinstalliert")
                              : "Service1: " + error;
  std::cout << text << std::endl;
  if (!options.silent) {
    ::MessageBoxW(nullptr, widen(text).c_str(), kDisplayName, MB_OK | (ok ? MB_ICONINFORMATION : MB_ICONERROR));
  }
  return ok ? 0 : 1;
}

// ---- serving ----

// Stop requests arrive on another thread (service control, Ctrl+C); they are
// handed to the service's io_context.
std::mutex gStopMutex;
std::function<void()> gRequestStop;

void requestStop() {
  std::lock_guard lock(gStopMutex);
  if (gRequestStop) gRequestStop();
}

// The screenshot spool: the service's own folder under ProgramData, which
// only SYSTEM and the administrators may write (the spool makes sure).
fs::path spoolFolder() {
  wchar_t path[MAX_PATH] = {};
  if (SUCCEEDED(::SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, path))) {
    return fs::path(path) / "Saalwacht" / "spool";
  }
  return platform::executableDir() / "spool";
}

// Serves until a stop request; `running` is called once the port is open.
int serve(const Options& options, const std::function<void()>& running) {
  const fs::path stateDir = fs::path(widen(platform::environmentValue("KURSDIENST_STATE_DIR").value_or("C:\\")));
  std::error_code folderError;
  fs::create_directories(stateDir, folderError);  // a failed write of the flag file is tolerated later
  auto processes = platform::createProcessControl();
  platform::SessionOptions sessionOptions;
  sessionOptions.useOwnSession = platform::environmentValue("KURSDIENST_SESSION") == "service";
  sessionOptions.log = [](const std::string& line) { std::cout << "kursdienst: " << line << std::endl; };
  auto launcher = platform::createSessionLauncher(sessionOptions);
  std::optional<fs::path> powerOff;
  if (options.powerOff) powerOff = fs::path(widen(*options.powerOff));
  auto power = platform::createPowerControl(powerOff);
  auto spool = platform::createScreenshotSpool(spoolFolder());

  auto switchLock = platform::createConsoleSwitchLock();
  const int result = service::serveStudentService(
      {*processes, *launcher, *power, *spool, *switchLock, stateDir, options.bindAddress,
       service::settingsFile(platform::executableDir() / "kursdienst.conf")},
      [&running](const service::ServiceControl& control) {
        {
          std::lock_guard lock(gStopMutex);
          gRequestStop = control.stop;
        }
        running();
      });
  std::lock_guard lock(gStopMutex);
  gRequestStop = nullptr;
  return result;
}

// ---- the service control manager's side ----

Options gOptions;
SERVICE_STATUS_HANDLE gStatusHandle = nullptr;

void reportStatus(DWORD state, DWORD exitCode = NO_ERROR) {
  SERVICE_STATUS status{};
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = state;
  status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
  status.dwWin32ExitCode = exitCode;
  status.dwWaitHint = state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING ? 5000 : 0;
  ::SetServiceStatus(gStatusHandle, &status);
}

DWORD WINAPI controlHandler(DWORD control, DWORD, LPVOID, LPVOID) {
  switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
      reportStatus(SERVICE_STOP_PENDING);
      requestStop();
      return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
      return NO_ERROR;
    default:
      return ERROR_CALL_NOT_IMPLEMENTED;
  }
}

void WINAPI serviceMain(DWORD, LPWSTR*) {
  gStatusHandle = ::RegisterServiceCtrlHandlerExW(kServiceName, controlHandler, nullptr);
  if (!gStatusHandle) return;
  reportStatus(SERVICE_START_PENDING);
  int result = 1;
  try {
    result = serve(gOptions, [] { reportStatus(SERVICE_RUNNING); });
  } catch (const std::exception& e) {
    std::cerr << "kursdienst: " << e.what() << std::endl;
  }
  reportStatus(SERVICE_STOPPED, result == 0 ? NO_ERROR : ERROR_SERVICE_SPECIFIC_ERROR);
}

BOOL WINAPI consoleHandler(DWORD) {
  requestStop();
  return TRUE;
}

int run(const Options& options) {
  gOptions = options;
  wchar_t name[] = L"Service1";
  const SERVICE_TABLE_ENTRYW table[] = {{name, serviceMain}, {nullptr, nullptr}};
  if (::StartServiceCtrlDispatcherW(table)) return 0;
  if (::GetLastError() != ERROR_FAILED_SERVICE_CONTROLLER_CONNECT) {
    std::cerr << "kursdienst: " << platform::win32::errorText(::GetLastError()) << std::endl;
    return 1;
  }
  // Started by hand: serve in the foreground.
  ::SetConsoleCtrlHandler(consoleHandler, TRUE);
  return serve(options, [] {});
}

}  // namespace

int main() {
  const auto options = parseOptions();
  if (!options) return 2;
  try {
    if (options->action == Options::Action::Check) {
      return service::checkSettings(service::settingsFile(platform::executableDir() / "kursdienst.conf"), std::cout);
    }
    if (options->action != Options::Action::Run) return registerService(*options);
    return run(*options);
  } catch (const std::exception& e) {
    std::cerr << "kursdienst: " << e.what() << std::endl;
    return 1;
  }
}
