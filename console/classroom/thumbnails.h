#pragma once
// The seats' live thumbnails ViewerX1 .. ViewerX48 (console/thumbnail_viewer.h)
// and the thumbnails flag: whether they are shown. The seat walk connects a
// normal reachable seat's thumbnail at each visit; actions disconnect a seat's
// thumbnail while it shows something else. The menu "Ansicht" shows and hides
// them all. The viewers are children of the seat panels. Window thread only.

#include <QObject>
#include <QString>
#include <array>
#include <functional>
#include <optional>

#include "console/seat_plan.h"

namespace saalwacht::console {

class MainWindow;
class ThumbnailViewer;

class Thumbnails : public QObject {
  Q_OBJECT
 public:
  struct Sources {
    std::function<int()> zoom;                 // the settings' zoom position, 7..35
    std::function<std::optional<int>()> port;  // the student VNC servers' port, if it is one
    std::function<QString()> password;         // the remote password
  };
  Thumbnails(MainWindow& window, Sources sources, QObject* parent = nullptr);

  // Makes the 48 viewers, hidden and unconnected (once).
  void create();
  ThumbnailViewer* viewer(int seat) const { return viewers_.at(seat - 1); }

  bool shown() const { return shown_; }
  // The flag alone, as the class actions keep it for their length.
  void setShown(bool shown) { shown_ = shown; }

  // Sizes the viewer for the zoom, shows it and connects it unless it is connected.
  void connectTo(int seat, const QString& host);
  // The viewer hides itself once its connection has ended.
  void disconnect(int seat);
  bool connected(int seat) const;
  void setVisible(int seat, bool visible);

  // "Miniaturbilder einblenden" / "Miniaturbilder ausblenden".
  void showAll();
  void hideAll();

 private:
  MainWindow& window_;
  Sources sources_;
  bool shown_ = true;
  std::array<ThumbnailViewer*, kSeatCount> viewers_{};
};

}  // namespace saalwacht::console
