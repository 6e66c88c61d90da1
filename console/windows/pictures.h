#pragma once
// The console's own drawings: seat monitor pictures and button glyphs.
// Drawn with QPainter at run time, so they stay sharp and need no files.
// Window thread only (QPixmap).

#include <QImage>
#include <QPixmap>

#include "console/seat_plan.h"

namespace saalwacht::console {

// One entry of the seat picture list: 96 x 48, the enabled look on the left
// half and the greyed look on the right half.
QImage seatPictureStrip(SeatState state);

// The half of the strip a seat button shows.
QImage seatPicture(SeatState state, bool enabled);

enum class Glyph {
  Menu,
  ResetAll,
  BlankAll,
  TeacherToAll,
  MessageToAll,
  ShutdownAll,
  InternetOpen,
  InternetLock,
  NewSeat,
  SavePlan,
  CancelEdit,
  Waiting,
  Folder,
  Delete,
};

// A button glyph of `size` pixels square.
QPixmap glyph(Glyph which, int size = 32);

// The product lettering for the about box.
QPixmap productLettering(int width, int height);

}  // namespace saalwacht::console
