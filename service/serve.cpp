#include "service/serve.h"

#include <iostream>
#include <memory>
#include <mutex>

#include "platform/system.h"
#include "protocol/message.h"
#include "service/command_server.h"
#include "service/student_service.h"

namespace saalwacht::service {
namespace {

asio::ip::tcp::endpoint listenEndpoint(const std::optional<std::string>& bindAddress) {
  if (bindAddress) return {asio::ip::make_address(*bindAddress), protocol::kServicePort};
  return {asio::ip::address_v6::any(), protocol::kServicePort};
}

}  // namespace

int checkSettings(const std::filesystem::path& file, std::ostream& out) {
  ServiceSettings settings;
  try {
    settings = loadServiceSettings(file);
  } catch (const SettingsError& e) {
    out << e.what() << std::endl;
    return 1;
  }
  const Log log = [&out](const std::string& line) { out << line << std::endl; };
  if (!settings.allow && !settings.trustedKeys) {
    log(file.string() + ": open, commands are taken from every source without a proof");
    return 0;
  }
  if (settings.allow) {
    std::string rules;
    for (const auto& rule : *settings.allow) rules += " " + rule.text;
    log("allowed sources:" + rules);
  }
  if (settings.trustedKeys) {
    TrustedKeys keys(*settings.trustedKeys, log);
    log(keys.required() ? "commands must be proven by a key in " + keys.folder().string()
                        : "no key in " + keys.folder().string() + " yet: commands are taken without a proof");
  }
  return 0;
}

std::filesystem::path settingsFile(const std::filesystem::path& standard) {
  return platform::environmentValue("KURSDIENST_CONFIG").value_or(standard.string());
}

int serveStudentService(const ServeParts& parts, const std::function<void(const ServiceControl&)>& started) {
  asio::io_context io;
  const Log log = [](const std::string& line) { std::cout << "kursdienst: " << line << std::endl; };
  ServiceSettings settings;
  try {
    settings = loadServiceSettings(parts.settingsFile);
  } catch (const SettingsError& e) {
    std::cerr << "kursdienst: " << e.what() << std::endl;
    return 1;
  }
  StudentService studentService({
      .io = io,
      .processes = parts.processes,
      .launcher = parts.launcher,
      .power = parts.power,
      .spool = parts.spool,
      .switchLock = parts.switchLock,
      .helperDir = platform::executableDir(),
      .stateDir = parts.stateDir,
      .schedule =
          [&io](std::chrono::milliseconds delay, std::function<void()> action) {
            auto timer = std::make_shared<asio::steady_timer>(io, delay);
            timer->async_wait([timer, action = std::move(action)](const asio::error_code& e) {
              if (!e) action();
            });
          },
      .status = log,
      .log = log,
  });

  // Who may command this PC, as its settings say.
  std::optional<SourceFilter> sources;
  std::optional<TrustedKeys> keys;
  if (settings.allow) sources.emplace(io, *settings.allow, log);
  if (settings.trustedKeys) keys.emplace(*settings.trustedKeys, log);
  const ServerAccess access{sources ? &*sources : nullptr, keys ? &*keys : nullptr};
  if (!sources && !keys) {
    log("open: commands are taken from every source without a proof (" + settings.file.string() +
        " sets no allow and no trusted-keys)");
  } else {
    std::string rules;
    for (const auto& rule : settings.allow.value_or(std::vector<SourceRule>{})) rules += " " + rule.text;
    if (sources) log("allowed sources:" + rules);
    if (keys) {
      log(keys->required() ? "commands must be proven by a key in " + keys->folder().string()
                           : "no key in " + keys->folder().string() + " yet: commands are taken without a proof");
    }
  }

  auto makeServer = [&](const asio::ip::tcp::endpoint& endpoint) {
    return std::make_unique<CommandServer>(
        io, endpoint,
        [&studentService](const protocol::Command& command, const std::shared_ptr<ExchangeState>& exchange,
                          CommandServer::Reply reply) { studentService.handle(command, exchange, std::move(reply)); },
        [&studentService] { studentService.onDisconnect(); }, access, ServerLimits{}, log);
  };
  std::unique_ptr<CommandServer> server;
  auto endpoint = listenEndpoint(parts.bindAddress);
  try {
    try {
      server = makeServer(endpoint);
    } catch (const asio::system_error&) {
      if (parts.bindAddress) throw;
      endpoint = {asio::ip::address_v4::any(), protocol::kServicePort};  // a system without IPv6
      server = makeServer(endpoint);
    }
  } catch (const std::exception& e) {
    std::cerr << "kursdienst: cannot listen on " << endpoint << ": " << e.what() << std::endl;
    return 1;
  }
  std::cout << "kursdienst " << SAALWACHT_VERSION << " listening on " << server->localEndpoint() << std::endl;

  asio::steady_timer checkTimer(io);
  std::function<void()> armCheck = [&] {
    checkTimer.expires_after(kCheckPeriod);
    checkTimer.async_wait([&](const asio::error_code& e) {
      if (e) return;
      studentService.onTimer();
      armCheck();
    });
  };
  armCheck();

  // The stop function may be kept and called from any thread; once the loop
  // has ended it does nothing, so it never reaches what is gone.
  struct StopGate {
    std::mutex mutex;
    bool open = true;
  };
  auto gate = std::make_shared<StopGate>();
  const auto stop = [gate, &io, &server, &checkTimer] {
    std::lock_guard lock(gate->mutex);
    if (!gate->open) return;
    asio::post(io, [&io, &server, &checkTimer] {
      server->stop();
      checkTimer.cancel();
      io.stop();
    });
  };
  studentService.resume();
  started({io, stop, [&studentService] { studentService.onChildChanged(); }});
  io.run();
  {
    std::lock_guard lock(gate->mutex);
    gate->open = false;
  }
  std::cout << "kursdienst stopped" << std::endl;
  return 0;
}

}  // namespace saalwacht::service
