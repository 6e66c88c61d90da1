#pragma once
// Screenshots of a student screen into the screenshot window, to print or to
// save as the JPEG bytes the PC sent. One picture is awaited at a time; a new
// request gives up the older one. A request waits (in this object, not on the
// command link) until its seat's link is free, so one that is cancelled
// meanwhile is never started. Window thread only.

#include <QByteArray>
#include <QObject>
#include <QString>

namespace saalwacht::console {

class CommandLink;
class MessageDisplay;
class ScreenshotWindow;
class Seats;

class Screenshots : public QObject {
  Q_OBJECT
 public:
  Screenshots(CommandLink& link, Seats& seats, ScreenshotWindow& window, MessageDisplay& messages,
              QObject* parent = nullptr);

  // Asks `seat`'s PC for its screen and shows the window, waiting.
  void request(int seat);
  // "Abbrechen": while a picture is awaited, gives up the request (the window
  // goes once the exchange has ended; at once when it had not started);
  // otherwise closes the window.
  void cancel();
  // "Speichern + Schließen", "Drucken + Schließen".
  void save();
  void print();
  // The close sequence: every request ends, the window goes.
  void cancelAll();
  // The window was closed (its close box): a picture that comes later is not shown.
  void windowClosed() { closeWindow(); }
  // Shown when a PC answers with no picture at all (%1: its name).
  void setNoPictureText(const QString& text) { noPicture_ = text; }

  // The JPEG bytes of the picture shown, as received.
  const QByteArray& bytes() const { return bytes_; }

  // "Screenshot NAME - DATE - H.MM": the date in the locale's short format
  // with a four-digit year.
  static QString caption(const QString& name, const QDateTime& when);
  // The caption as a file name: no character that a folder path or Windows forbids.
  static QString fileName(const QString& caption);

 private:
  void submit();
  void received(int seat, quint64 request, const QByteArray& jpeg);
  void cancelled(int seat, quint64 request);
  void failed(int seat, quint64 request);
  void closeWindow();

  CommandLink& link_;
  Seats& seats_;
  ScreenshotWindow& window_;
  MessageDisplay& messages_;

  int seat_ = 0;
  QString host_;
  quint64 request_ = 0;   // the request on the link whose picture is awaited
  bool held_ = false;     // asked for, waiting for the seat's link
  bool waiting_ = false;  // a picture is awaited
  bool cancelled_ = false;
  QByteArray bytes_;
  QString noPicture_;
};

}  // namespace saalwacht::console
