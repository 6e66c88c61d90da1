#include "blankwindow.h"

#include <QApplication>
#include <QGuiApplication>
#include <QImage>
#include <QKeyEvent>
#include <QScreen>
#include <gtest/gtest.h>

namespace {

using saalwacht::helpers::BlankWindow;
using saalwacht::helpers::ScreenBlanker;

TEST(BlankWindow, IsFramelessOnTopAndBypassesTheWindowManager) {
  BlankWindow window(QGuiApplication::primaryScreen());
  const Qt::WindowFlags flags = window.windowFlags();
  EXPECT_TRUE(flags & Qt::FramelessWindowHint);
  EXPECT_TRUE(flags & Qt::WindowStaysOnTopHint);
  EXPECT_TRUE(flags & Qt::X11BypassWindowManagerHint);
  EXPECT_EQ(window.cursor().shape(), Qt::BlankCursor);
}

TEST(BlankWindow, CoversItsScreenInBlack) {
  QScreen* screen = QGuiApplication::primaryScreen();
  BlankWindow window(screen);
  window.show();
  QApplication::processEvents();
  EXPECT_EQ(window.geometry(), screen->geometry());
  const QImage image = window.grab().toImage();
  ASSERT_FALSE(image.isNull());
  for (QPoint p : {QPoint(0, 0), QPoint(image.width() / 2, image.height() / 2),
                   QPoint(image.width() - 1, image.height() - 1)}) {
    EXPECT_EQ(image.pixelColor(p), QColor(Qt::black)) << p.x() << "," << p.y();
  }
}

TEST(BlankWindow, RefusesToCloseUntilAllowed) {
  BlankWindow window(QGuiApplication::primaryScreen());
  window.show();
  QApplication::processEvents();
  EXPECT_FALSE(window.close());
  EXPECT_TRUE(window.isVisible());

  window.allowClose();
  EXPECT_TRUE(window.close());
  EXPECT_FALSE(window.isVisible());
}

struct KeyCase {
  const char* name;
  int key;
  Qt::KeyboardModifiers modifiers;
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const KeyCase& c, std::ostream* os) { *os << c.name; }

class BlankWindowKeys : public ::testing::TestWithParam<KeyCase> {};

TEST_P(BlankWindowKeys, SwallowsTheKeyAndStaysOpen) {
  BlankWindow window(QGuiApplication::primaryScreen());
  window.show();
  QApplication::processEvents();
  QKeyEvent press(QEvent::KeyPress, GetParam().key, GetParam().modifiers);
  QApplication::sendEvent(&window, &press);
  QKeyEvent release(QEvent::KeyRelease, GetParam().key, GetParam().modifiers);
  QApplication::sendEvent(&window, &release);
  QApplication::processEvents();
  EXPECT_TRUE(press.isAccepted());
  EXPECT_TRUE(window.isVisible());
}

INSTANTIATE_TEST_SUITE_P(
    Keys, BlankWindowKeys,
    ::testing::Values(KeyCase{"Escape", Qt::Key_Escape, Qt::NoModifier},
                      KeyCase{"AltF4", Qt::Key_F4, Qt::AltModifier},
                      KeyCase{"CtrlW", Qt::Key_W, Qt::ControlModifier},
                      KeyCase{"CtrlQ", Qt::Key_Q, Qt::ControlModifier}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ScreenBlanker, CoversEveryScreenAndLetsGoOnRelease) {
  ScreenBlanker blanker;
  blanker.start();
  QApplication::processEvents();
  const QList<QScreen*> screens = QGuiApplication::screens();
  ASSERT_EQ(blanker.windows().size(), screens.size());
  for (qsizetype i = 0; i < screens.size(); ++i) {
    BlankWindow* window = blanker.windows()[i];
    EXPECT_EQ(window->coveredScreen(), screens[i]);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->geometry(), screens[i]->geometry());
  }
  EXPECT_FALSE(blanker.windows().first()->close());

  blanker.release();
  for (BlankWindow* window : blanker.windows()) EXPECT_TRUE(window->close());
}

}  // namespace
