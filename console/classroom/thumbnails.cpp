#include "console/classroom/thumbnails.h"

#include "console/thumbnail_viewer.h"
#include "console/windows/main_window.h"

namespace saalwacht::console {

Thumbnails::Thumbnails(MainWindow& window, Sources sources, QObject* parent)
    : QObject(parent), window_(window), sources_(std::move(sources)) {}

void Thumbnails::create() {
  if (viewers_[0]) return;
  for (int seat = 1; seat <= kSeatCount; ++seat) {
    auto* viewer = new ThumbnailViewer(seat, window_.seatPanel(seat));
    viewer->resize(thumbnailSize(sources_.zoom()));
    viewer->move(0, 20);
    viewers_[seat - 1] = viewer;
    // A connection that ends, or a refused password, hides the miniature.
    connect(viewer, &ThumbnailViewer::ended, this, [this, seat] { setVisible(seat, false); });
  }
}

void Thumbnails::setVisible(int seat, bool visible) {
  ThumbnailViewer* viewer = viewers_[seat - 1];
  if (!viewer) return;
  viewer->setVisible(visible);
  // The seat grows with a miniature larger than its button.
  QWidget* panel = window_.seatPanel(seat);
  panel->resize(visible ? std::max(72, viewer->width()) : 72, visible ? std::max(67, 20 + viewer->height()) : 67);
  if (visible) viewer->raise();
}

void Thumbnails::connectTo(int seat, const QString& host) {
  ThumbnailViewer* viewer = viewers_[seat - 1];
  if (!viewer) return;
  viewer->resize(thumbnailSize(sources_.zoom()));
  setVisible(seat, true);
  if (viewer->connectionUp()) return;
  const auto port = sources_.port();
  if (!port) {
    setVisible(seat, false);
    return;
  }
  viewer->connectTo(host, *port, sources_.password());
}

void Thumbnails::disconnect(int seat) {
  if (ThumbnailViewer* viewer = viewers_[seat - 1]) viewer->disconnectFromServer();
}

bool Thumbnails::connected(int seat) const {
  const ThumbnailViewer* viewer = viewers_[seat - 1];
  return viewer && viewer->connectionUp();
}

void Thumbnails::showAll() {
  window_.action("Miniaturbildereinblenden1")->setVisible(false);
  window_.action("Miniaturbilderausblenden1")->setVisible(true);
  // The seat walk connects them one by one as it visits the seats.
  shown_ = true;
}

void Thumbnails::hideAll() {
  window_.action("Miniaturbildereinblenden1")->setVisible(true);
  window_.action("Miniaturbilderausblenden1")->setVisible(false);
  shown_ = false;
  for (int seat = 1; seat <= kSeatCount; ++seat) disconnect(seat);
}

}  // namespace saalwacht::console
