#pragma once
// Sizes of the main window and of the room plan that grows with it.

namespace saalwacht::console {

struct Size {
  int width = 0;
  int height = 0;
  bool operator==(const Size&) const = default;
};

// The main window's inner area as designed; a window in normal state always
// has exactly this size.
inline constexpr Size kDesignClientSize{1007, 711};

struct MainLayout {
  Size roomPlan;        // group box Raumplan
  Size background;      // Raumplanhintergrundbild inside it
  Size grid;            // DrawGrid inside it
  int barWidth = 0;     // Buttonhauptleiste and the edit bar
  bool operator==(const MainLayout&) const = default;
};

// The layout for an inner size: the design layout grown by exactly what the
// window has over its design size (a maximized window gives all extra room
// to the room plan). Sizes smaller than the design give the design layout.
MainLayout layoutForClientSize(Size client);

}  // namespace saalwacht::console
