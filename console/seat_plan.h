#pragma once
// The seats of the room plan as plain data: their states, default places and
// the walk over named seats. No user interface here.

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace saalwacht::console {

inline constexpr int kSeatCount = 48;

// A seat's state; the names are what the console keeps as the seat's hint.
enum class SeatState {
  Normal = 0,   // "monitor.bmp"
  Dark = 1,     // "monitordunkel.bmp"
  Teacher = 2,  // "monitorlehrer.bmp"
  Green = 3,    // "monitorschuelergruen.bmp"
  Red = 4,      // "monitorschuelerrot.bmp"
};
inline constexpr int kSeatStateCount = 5;

std::string_view seatStateName(SeatState state);
// Exact, case-sensitive; nothing for any other text.
std::optional<SeatState> seatStateFromName(std::string_view name);
// Index into the seat picture list.
inline int seatImageIndex(SeatState state) { return static_cast<int>(state); }

struct SeatPosition {
  int left = 0;
  int top = 0;
  bool operator==(const SeatPosition&) const = default;
};

// Rows of eight from seat 1 at the bottom left (12, 456) upwards.
SeatPosition defaultSeatPosition(int seat);

// Computer names of seats 1..48 (index 0 = seat 1); empty = not in use.
using SeatNames = std::array<std::string, kSeatCount>;

// From `cursor` (1..48) on, the first seat with a name, wrapping after 48;
// the cursor's own seat counts. Nothing when no seat has a name.
std::optional<int> findNamedSeat(const SeatNames& names, int cursor);

// The lowest-numbered seat whose name equals `name` exactly.
std::optional<int> lookupSeat(const SeatNames& names, std::string_view name);

// Dragging a seat: its panel moves by the whole multiples of 8 pixels that
// the mouse has gone past the grab point, and stays between 16 and
// `extent` - 89 (extent: the room plan's width or height).
int draggedPosition(int panelPosition, int mouse, int grab, int extent);

// The place of a seat added while editing.
inline constexpr SeatPosition kNewSeatPosition{320, 10};

}  // namespace saalwacht::console
