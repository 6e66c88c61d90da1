#pragma once
// The console's own key pair, which proves its commands to the student PCs
// that trust it: made at the first start in the console's folder (the
// private key readable by the teacher's user only), shown with its
// fingerprint and exported from the key dialog (TForm14). A PC that refuses
// this console is told to the teacher once, with its name and what to do,
// however many commands it refuses. Window thread only.

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <filesystem>
#include <optional>
#include <set>

#include "crypto/signing.h"
#include "protocol/signed_link.h"

namespace saalwacht::console {

class CommandClient;
class ConsoleKeyDialog;
class MessageDisplay;

inline constexpr const char* kConsoleKeyFileName = "saalwacht.key";

class ConsoleKey : public QObject {
  Q_OBJECT
 public:
  struct Texts {
    QString exported;  // %1: the file
    QString refused;   // %1: the PCs, %2: the fingerprint
  };

  ConsoleKey(ConsoleKeyDialog& dialog, MessageDisplay& messages, QWidget* window, std::filesystem::path home,
             QObject* parent = nullptr);

  // Reads the key from the console's folder, or makes one where there is
  // none yet. A German error text that ends the start when the file is
  // damaged or others may read it.
  std::optional<QString> loadOrMake();
  void setTexts(const Texts& texts) { texts_ = texts; }

  // Signs with this key; nothing before loadOrMake() succeeded.
  std::optional<protocol::ClientLink::Signer> signer() const;
  QString fingerprint() const;
  QString publicLine() const;

  // Menu "Konsolenschlüssel".
  void openDialog();
  // "Öffentlichen Schlüssel exportieren ...": asks where, then writes it.
  void exportPublicKey();

  // A PC refused a command of this console; refusals that come together are
  // told in one message, and each PC only once per run.
  void refusedBy(const QString& host);
  // The PCs told about so far.
  const std::set<QString>& toldRefusals() const { return told_; }

 private:
  void tellRefusals();

  ConsoleKeyDialog& dialog_;
  MessageDisplay& messages_;
  QWidget* window_;
  std::filesystem::path home_;
  std::optional<crypto::PrivateKey> key_;
  Texts texts_;
  std::set<QString> told_;
  QStringList waiting_;
  QTimer gather_;
};

}  // namespace saalwacht::console
