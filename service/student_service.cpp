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
      blanking_(deps_.processes, deps_.launcher, deps_.helperDir / executableName("swdkl"),
                deps_.stateDir / "swdkl.bin"),
      capture_(deps_.launcher, deps_.spool, deps_.helperDir / executableName("swscr"),
               deps_.helperDir / "swscrerror.jpg", deps_.captureTimeout) {}

std::filesystem::path StudentService::helper(std::string_view name) const {
  return deps_.helperDir / executableName(name);
}

std::shared_ptr<const std::string> StudentService::handle(const protocol::Command& command,
                                                          ExchangeState& exchange) {
  using protocol::CommandCode;
  switch (command.code) {
    case CommandCode::Reset:
      blanking_.reset();
      return nullptr;
    case CommandCode::Blank:
      blanking_.blank();
      return nullptr;
    case CommandCode::Shutdown:
      shutdown();
      return nullptr;
    case CommandCode::Message:
      showMessage(command.payload);
      return nullptr;
    case CommandCode::ScreenshotRequest:
      return prepareScreenshot(exchange);
    case CommandCode::SendPicture:
      return sendPicture(exchange);
    case CommandCode::EndScreenshot:
      exchange.picture.reset();
      return nullptr;
  }
  return nullptr;
}

void StudentService::shutdown() {
  deps_.launcher.launch(helper("swsdmsg"), {});
  // A second request during the wait must not power off twice.
  if (shutdownPending_) return;
  shutdownPending_ = true;
  deps_.schedule(kShutdownDelay, [this] {
    deps_.power.powerOff();
    shutdownPending_ = false;
  });
}

void StudentService::showMessage(const std::string& wirePayload) {
  std::string text = platform::fromWireText(
      std::string_view(wirePayload).substr(0, protocol::kMaxMessageTextBytes));
  // A program argument ends at the first NUL; drop them rather than lose the rest.
  text.erase(std::remove(text.begin(), text.end(), '\0'), text.end());
  text = std::string(protocol::truncateUtf8(text, protocol::kMaxMessageTextBytes));
  deps_.launcher.launch(helper("swmsg"), {text});
}

std::shared_ptr<const std::string> StudentService::prepareScreenshot(ExchangeState& exchange) {
  exchange.picture.reset();  // an earlier picture that was never fetched
  auto picture = std::make_shared<const std::string>(capture_.capture());
  deps_.status("Bild vor in Stream schreiben");
  exchange.picture = picture;
  deps_.status("Bild in Stream geschrieben");
  const std::string size = protocol::encodeSizeText(picture->size());
  deps_.status("Streamgröße: " + size);
  return std::make_shared<const std::string>(platform::toWireText(size));
}

std::shared_ptr<const std::string> StudentService::sendPicture(ExchangeState& exchange) {
  if (!exchange.picture) return nullptr;  // nothing announced on this connection
  deps_.status("Stream direkt vorm senden");
  auto picture = exchange.picture;
  deps_.status("Stream senden");
  return picture;
}

}  // namespace saalwacht::service
