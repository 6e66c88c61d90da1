#include "console/classroom/remote_password.h"

#include "console/windows/dialogs.h"

namespace saalwacht::console {

RemotePassword::RemotePassword(SecurityDialog& dialog, std::filesystem::path store, QObject* parent)
    : QObject(parent), dialog_(dialog), path_(std::move(store)) {
  dialog_.setStore([this](const QString& password) { return this->store(password); });
}

std::optional<QString> RemotePassword::read() {
  std::string error;
  const auto content = readPictureStore(path_, error);
  if (!content) return QString::fromStdString(error);
  content_ = *content;
  dialog_.setRemotePassword(QString::fromStdString(content_.remotePassword));
  return std::nullopt;
}

const QString& RemotePassword::password() const { return dialog_.remotePassword(); }

std::optional<QString> RemotePassword::rewrite() {
  std::string error;
  if (!writePictureStore(path_, content_, error)) return QString::fromStdString(error);
  return std::nullopt;
}

QString RemotePassword::store(const QString& password) {
  PictureStoreContent content = content_;
  content.remotePassword = password.toStdString();
  std::string error;
  if (!writePictureStore(path_, content, error)) return QString::fromStdString(error);
  content_ = content;
  emit changed(password);
  return {};
}

void RemotePassword::askAtStart() {
  if (!set()) dialog_.exec();
}

void RemotePassword::askLater() {
  if (!set()) dialog_.open();
}

void RemotePassword::openDialog() {
  dialog_.show();
  dialog_.raise();
}

}  // namespace saalwacht::console
