#include "console/core/window_geometry.h"

#include <algorithm>

namespace saalwacht::console {

MainLayout layoutForClientSize(Size client) {
  // Growth is measured from the design size every time, never added onto the
  // current layout, so repeated maximizing cannot make the plan drift.
  const int dW = std::max(0, client.width - kDesignClientSize.width);
  const int dH = std::max(0, client.height - kDesignClientSize.height);
  MainLayout layout;
  layout.roomPlan = {990 + dW, 620 + dH};
  layout.background = {layout.roomPlan.width - 25, layout.roomPlan.height - 30};
  layout.grid = {layout.background.width - 25, layout.background.height - 30};
  layout.barWidth = kDesignClientSize.width + dW + 8;
  return layout;
}

}  // namespace saalwacht::console
