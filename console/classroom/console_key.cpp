#include "console/classroom/console_key.h"

#include "console/message_display.h"
#include "console/windows/dialogs.h"
#include "platform/system.h"

namespace saalwacht::console {

namespace {

QString q(const std::string& text) { return QString::fromStdString(text); }

// Refusals of one whole-class action arrive within this time of each other.
constexpr int kGatherMs = 800;

}  // namespace

ConsoleKey::ConsoleKey(ConsoleKeyDialog& dialog, MessageDisplay& messages, QWidget* window, std::filesystem::path home,
                       QObject* parent)
    : QObject(parent), dialog_(dialog), messages_(messages), window_(window), home_(std::move(home)) {
  gather_.setSingleShot(true);
  gather_.setInterval(kGatherMs);
  connect(&gather_, &QTimer::timeout, this, &ConsoleKey::tellRefusals);
  connect(&dialog_, &ConsoleKeyDialog::exportRequested, this, &ConsoleKey::exportPublicKey);
}

std::optional<QString> ConsoleKey::loadOrMake() {
  const auto file = home_ / kConsoleKeyFileName;
  std::error_code error;
  if (std::filesystem::exists(file, error)) {
    std::string why;
    key_ = crypto::loadPrivateKey(file, why);
    if (key_) return std::nullopt;
    return QStringLiteral("Der Schlüssel dieser Lehrerkonsole in %1 ist nicht zu gebrauchen (%2). Beheben Sie das "
                          "oder löschen Sie die Datei; dann wird ein neuer Schlüssel gemacht, dem die Schüler-PCs "
                          "erst wieder vertrauen müssen.")
        .arg(q(file.string()), q(why));
  }
  const std::string comment = platform::environmentValue("USER").value_or("lehrer") + " (Saalwacht)";
  auto made = crypto::PrivateKey::generate(comment);
  if (auto failure = crypto::savePrivateKey(file, made)) {
    return QStringLiteral("Der Schlüssel dieser Lehrerkonsole kann nicht in %1 gespeichert werden.").arg(q(file.string()));
  }
  key_ = std::move(made);
  return std::nullopt;
}

std::optional<protocol::ClientLink::Signer> ConsoleKey::signer() const {
  if (!key_) return std::nullopt;
  const auto& raw = key_->publicKey().bytes;
  // The key lives as long as this object, which outlives every command.
  const crypto::PrivateKey* key = &*key_;
  return protocol::ClientLink::Signer{std::string(reinterpret_cast<const char*>(raw.data()), raw.size()),
                                      [key](std::string_view data) { return key->sign(data); }};
}

QString ConsoleKey::fingerprint() const { return key_ ? q(crypto::fingerprint(key_->publicKey().bytes)) : QString(); }

QString ConsoleKey::publicLine() const {
  return key_ ? q(crypto::formatPublicKey(key_->publicKey())).trimmed() : QString();
}

void ConsoleKey::openDialog() {
  dialog_.showKey(fingerprint(), publicLine());
  dialog_.show();
  dialog_.raise();
  dialog_.activateWindow();
}

void ConsoleKey::exportPublicKey() {
  if (!key_) return;
  const QString file = messages_.askSaveFileName(&dialog_, QStringLiteral("saalwacht-lehrer.pub"),
                                                 QStringLiteral("Öffentlicher Schlüssel (*.pub)"));
  if (file.isEmpty()) return;
  if (crypto::savePublicKey(file.toStdString(), key_->publicKey())) {
    messages_.show(&dialog_, dialog_.windowTitle(), QStringLiteral("%1 kann nicht gespeichert werden.").arg(file),
                   MessageDisplay::Kind::Error);
    return;
  }
  messages_.show(&dialog_, dialog_.windowTitle(), QString(texts_.exported).arg(file), MessageDisplay::Kind::Plain);
}

void ConsoleKey::refusedBy(const QString& host) {
  if (told_.count(host) || waiting_.contains(host)) return;
  waiting_.append(host);
  if (!gather_.isActive()) gather_.start();
}

void ConsoleKey::tellRefusals() {
  if (waiting_.isEmpty()) return;
  const QStringList hosts = std::exchange(waiting_, {});
  for (const auto& host : hosts) told_.insert(host);
  messages_.show(window_, QStringLiteral("Saalwacht"), QString(texts_.refused).arg(hosts.join(QStringLiteral(", ")), fingerprint()),
                 MessageDisplay::Kind::Warning);
}

}  // namespace saalwacht::console
