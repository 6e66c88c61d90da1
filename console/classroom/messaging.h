#pragma once
// Text messages to one seat or to all: the message dialog's target and
// "Senden". The text is taken at "Senden", so every seat gets the same one.
// Window thread only.

#include <QObject>
#include <QString>

namespace saalwacht::console {

class ActionLock;
class CommandLink;
class MessageDialog;
class MessageDisplay;
class Seats;

class Messaging : public QObject {
  Q_OBJECT
 public:
  struct Texts {
    QString allMarker;     // "ALLE"
    QString emptyWarning;  // "Sie müssen zuerst noch einen Nachrichtentext eingeben!"
  };
  Messaging(MessageDialog& dialog, MessageDisplay& messages, Seats& seats, CommandLink& link, ActionLock& lock,
            QObject* parent = nullptr);
  void setTexts(const Texts& texts) { texts_ = texts; }

  void openFor(const QString& name);
  void openForAll();
  // "Senden".
  void send();

 private:
  MessageDialog& dialog_;
  MessageDisplay& messages_;
  Seats& seats_;
  CommandLink& link_;
  ActionLock& lock_;
  Texts texts_;
};

}  // namespace saalwacht::console
