#pragma once
// The remote password that teacher and student PCs share: read from the
// picture store at start-up, set or changed in the security dialog (TForm13),
// written back into the store; every change adds its option to the viewer
// parameters. The dialog holds the password ("0": none set yet).
// Window thread only.

#include <QObject>
#include <QString>
#include <filesystem>
#include <optional>

#include "console/core/picture_store.h"

namespace saalwacht::console {

class SecurityDialog;

class RemotePassword : public QObject {
  Q_OBJECT
 public:
  RemotePassword(SecurityDialog& dialog, std::filesystem::path store, QObject* parent = nullptr);

  // Reads the store; an error text when it cannot be read.
  std::optional<QString> read();
  const QString& password() const;
  bool set() const { return password() != QStringLiteral("0"); }

  // Writes the store as read (the room plan's "Speichern" does); an error text.
  std::optional<QString> rewrite();

  // While none is set: asks for one and returns when the teacher has
  // answered (the start-up routine, before the main window shows).
  void askAtStart();
  // While none is set: opens the dialog, modal to the windows, and returns at once.
  void askLater();
  // Menu "Sicherheit".
  void openDialog();

 signals:
  // A new password has been stored.
  void changed(const QString& password);

 private:
  // For the dialog's "OK": an error text, or empty when stored.
  QString store(const QString& password);

  SecurityDialog& dialog_;
  std::filesystem::path path_;
  PictureStoreContent content_;
};

}  // namespace saalwacht::console
