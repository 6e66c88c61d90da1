#include "service/student_service.h"

#include <algorithm>

#include "platform/system.h"
#include "protocol/cp1252.h"

namespace saalwacht::service {

namespace {
std::string executableName(std::string_view name) {
  return std::string(name) + std::string(platform::kExecutableSuffix);
}
}  // namespace

StudentService::StudentService(ServiceDependencies dependencies)
    : deps_(std::move(dependencies)),
      blanking_({deps_.io, deps_.processes, deps_.launcher, deps_.switchLock, deps_.helperDir / executableName("swdkl"),
                 deps_.stateDir / "swdkl.bin", deps_.log}),
      capture_(deps_.io, deps_.launcher, deps_.spool, deps_.helperDir / executableName("swscr"),
               deps_.helperDir / "swscrerror.jpg", deps_.captureTimeout) {}

std::filesystem::path StudentService::helper(std::string_view name) const {
  return deps_.helperDir / executableName(name);
}

void StudentService::handle(const protocol::Command& command, const std::shared_ptr<ExchangeState>& exchange,
                            Reply reply) {
  using protocol::CommandCode;
  switch (command.code) {
    case CommandCode::Reset:
      blanking_.reset();
      return;
    case CommandCode::Blank:
      blanking_.blank();
      return;
    case CommandCode::Shutdown:
      shutdown();
      return;
    case CommandCode::Message:
      showMessage(command.payload);
      return;
    case CommandCode::ScreenshotRequest:
      prepareScreenshot(exchange, std::move(reply));
      return;
    case CommandCode::SendPicture:
      sendPicture(*exchange, reply);
      return;
    case CommandCode::EndScreenshot:
      exchange->picture.reset();
      return;
  }
}

void StudentService::shutdown() {
  // One notice is enough however often the command comes.
  if (!shutdownNotice_ || shutdownNotice_->hasExited()) {
    shutdownNotice_ = deps_.launcher.launch(helper("swsdmsg"), {});
  } else {
    deps_.log("shut-down notice already shown; another one is not opened");
  }
  // A second request during the wait must not power off twice.
  if (shutdownPending_) return;
  shutdownPending_ = true;
  deps_.schedule(kShutdownDelay, [this] {
    deps_.power.powerOff();
    shutdownPending_ = false;
  });
}

void StudentService::showMessage(const std::string& wirePayload) {
  std::erase_if(messageWindows_, [](const auto& window) { return window->hasExited(); });
  if (messageWindows_.size() >= kMaxMessageWindows) {
    deps_.log("message refused: " + std::to_string(kMaxMessageWindows) + " message windows are open already");
    return;
  }
  std::string text = platform::fromWireText(
      std::string_view(wirePayload).substr(0, protocol::kMaxMessageTextBytes));
  // A program argument ends at the first NUL; drop them rather than lose the rest.
  text.erase(std::remove(text.begin(), text.end(), '\0'), text.end());
  text = std::string(protocol::truncateUtf8(text, protocol::kMaxMessageTextBytes));
  if (auto window = deps_.launcher.launch(helper("swmsg"), {text})) messageWindows_.push_back(std::move(window));
}

void StudentService::prepareScreenshot(const std::shared_ptr<ExchangeState>& exchange, Reply reply) {
  if (exchange->capturing) return;
  exchange->picture.reset();  // an earlier picture that was never fetched
  exchange->capturing = true;
  capture_.capture([this, exchange, reply = std::move(reply)](std::string bytes) {
    exchange->capturing = false;
    deps_.status("Bild vor in Stream schreiben");
    exchange->picture = std::make_shared<const std::string>(std::move(bytes));
    deps_.status("Bild in Stream geschrieben");
    const std::string size = protocol::encodeSizeText(exchange->picture->size());
    deps_.status("Streamgröße: " + size);
    reply(std::make_shared<const std::string>(platform::toWireText(size)));
  });
}

void StudentService::sendPicture(ExchangeState& exchange, const Reply& reply) {
  if (!exchange.picture) return;  // nothing announced on this connection, or sent already
  deps_.status("Stream direkt vorm senden");
  // Handed over: a second "41" sends nothing more.
  auto picture = std::move(exchange.picture);
  exchange.picture.reset();
  reply(std::move(picture));
  deps_.status("Stream senden");
}

}  // namespace saalwacht::service
