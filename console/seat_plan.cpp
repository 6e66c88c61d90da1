#include "console/seat_plan.h"

namespace saalwacht::console {
namespace {

constexpr std::array<std::string_view, kSeatStateCount> kStateNames = {
    "monitor.bmp", "monitordunkel.bmp", "monitorlehrer.bmp",
    "monitorschuelergruen.bmp", "monitorschuelerrot.bmp",
};

}  // namespace

std::string_view seatStateName(SeatState state) {
  return kStateNames[static_cast<std::size_t>(state)];
}

std::optional<SeatState> seatStateFromName(std::string_view name) {
  for (std::size_t i = 0; i < kStateNames.size(); ++i) {
    if (kStateNames[i] == name) return static_cast<SeatState>(i);
  }
  return std::nullopt;
}

SeatPosition defaultSeatPosition(int seat) {
  return {12 + 72 * ((seat - 1) % 8), 456 - 88 * ((seat - 1) / 8)};
}

std::optional<int> findNamedSeat(const SeatNames& names, int cursor) {
  if (cursor < 1 || cursor > kSeatCount) cursor = 1;
  // One full round at most, so an empty plan ends the search instead of spinning.
  for (int step = 0; step < kSeatCount; ++step) {
    const int seat = (cursor - 1 + step) % kSeatCount + 1;
    if (!names[seat - 1].empty()) return seat;
  }
  return std::nullopt;
}

std::optional<int> lookupSeat(const SeatNames& names, std::string_view name) {
  for (int seat = 1; seat <= kSeatCount; ++seat) {
    if (names[seat - 1] == name) return seat;
  }
  return std::nullopt;
}

int draggedPosition(int panelPosition, int mouse, int grab, int extent) {
  // Integer division truncates toward zero, so -9 moves by -8 and 7 not at all.
  const int moved = panelPosition + ((mouse - grab) / 8) * 8;
  if (moved < 16) return 16;
  if (moved > extent - 89) return extent - 89;
  return moved;
}

}  // namespace saalwacht::console
