// swdkl with two monitors side by side: both must be covered.

#include "blankwindow.h"

#include <QApplication>
#include <QScreen>
#include <QTemporaryFile>
#include <gtest/gtest.h>

namespace {

using saalwacht::helpers::ScreenBlanker;

const QRect kLeft(0, 0, 800, 600);
const QRect kRight(800, 0, 1024, 768);

TEST(ScreenBlankerTwoScreens, CoversBothScreens) {
  ASSERT_EQ(QGuiApplication::screens().size(), 2) << "the offscreen screen setup was not used";

  ScreenBlanker blanker;
  blanker.start();
  QApplication::processEvents();

  ASSERT_EQ(blanker.windows().size(), 2);
  QList<QRect> covered;
  for (auto* window : blanker.windows()) {
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->screen(), window->coveredScreen());
    covered.append(window->geometry());
  }
  EXPECT_TRUE(covered.contains(kLeft));
  EXPECT_TRUE(covered.contains(kRight));
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);

  QTemporaryFile config;
  if (!config.open()) return 2;
  config.write(R"({"screens": [
    {"name": "links",  "x": 0,   "y": 0, "width": 800,  "height": 600, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1},
    {"name": "rechts", "x": 800, "y": 0, "width": 1024, "height": 768, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}
  ]})");
  config.flush();
  qputenv("QT_QPA_PLATFORM", ("offscreen:configfile=" + config.fileName()).toLocal8Bit());

  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
