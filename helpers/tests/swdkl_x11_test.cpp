// swdkl against a private Xvfb server: it must black out the screen, hold
// keyboard and mouse, survive attempts to close it and end on SIGTERM.

// gtest before Xlib: Xlib #defines None and Bool, which gtest uses as names.
#include <gtest/gtest.h>

#include "child_process.h"
#include "x11_test_util.h"
#include "xvfb.h"

#include <X11/Xutil.h>

#include <csignal>
#include <sys/wait.h>

namespace {

using namespace saalwacht::helpers_test;
using saalwacht::testing::XvfbDisplay;

constexpr int kWidth = 640;
constexpr int kHeight = 480;

class SwdklOnDisplay : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(xvfb_.start(kWidth, kHeight)) << xvfb_.message();
    x_ = std::make_unique<XConnection>(xvfb_.name());
    ASSERT_TRUE(*x_);
    // Something bright for swdkl to cover, like a student's open program.
    other_ = createFilledWindow(x_->get(), 0, 0, kWidth, kHeight, {255, 255, 0});
  }

  void startSwdkl() {
    ASSERT_TRUE(swdkl_.start(SWDKL_EXE, {},
                             {{"DISPLAY", xvfb_.name()}, {"QT_QPA_PLATFORM", std::nullopt}}));
  }

  // swdkl's full-screen window, once it is mapped.
  Window waitForBlankWindow() {
    Window found = 0;
    pollUntil([&] {
      for (Window w : viewableWindowsOfClass(x_->get(), "swdkl")) {
        XWindowAttributes a;
        if (XGetWindowAttributes(x_->get(), w, &a) && a.x <= 0 && a.y <= 0 &&
            a.x + a.width >= kWidth && a.y + a.height >= kHeight) {
          found = w;
          return true;
        }
      }
      return !swdkl_.running();
    });
    return found;
  }

  bool screenIsBlack() { return captureRoot(x_->get()).countNotBlack() == 0; }

  void expectCleanExitOnSigterm() {
    ASSERT_TRUE(swdkl_.running()) << swdkl_.output();
    swdkl_.signal(SIGTERM);
    const std::optional<int> status = swdkl_.waitFor(std::chrono::seconds(10));
    ASSERT_TRUE(status.has_value()) << "swdkl did not end on SIGTERM";
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0)
        << "wait status " << *status << "\n" << swdkl_.output();
  }

  XvfbDisplay xvfb_;
  std::unique_ptr<XConnection> x_;
  Window other_ = 0;
  XWindowAttributes attributes_ = {};
  ChildProcess swdkl_;
};

TEST_F(SwdklOnDisplay, BlanksTheScreenGrabsInputAndEndsOnSigterm) {
  ASSERT_FALSE(screenIsBlack());
  startSwdkl();
  const Window blank = waitForBlankWindow();
  ASSERT_NE(blank, 0u) << "no full-screen swdkl window appeared\n" << swdkl_.output();

  XWindowAttributes attributes;
  ASSERT_TRUE(XGetWindowAttributes(x_->get(), blank, &attributes));
  EXPECT_TRUE(attributes.override_redirect) << "the window manager must be bypassed";

  EXPECT_TRUE(pollUntil([&] { return screenIsBlack(); }))
      << captureRoot(x_->get()).countNotBlack() << " pixels are not black";
  EXPECT_TRUE(pollUntil([&] { return keyboardHeldByOther(x_->get()); }))
      << "the keyboard is not grabbed";
  EXPECT_TRUE(pollUntil([&] { return pointerHeldByOther(x_->get()); }))
      << "the mouse is not grabbed";

  expectCleanExitOnSigterm();
}

TEST_F(SwdklOnDisplay, SurvivesCloseAttemptsAndComesBackOnTop) {
  startSwdkl();
  const Window blank = waitForBlankWindow();
  ASSERT_NE(blank, 0u) << swdkl_.output();
  ASSERT_TRUE(pollUntil([&] { return screenIsBlack(); }));

  // What a window manager sends for Alt+F4 or a click on the close button.
  Display* d = x_->get();
  XEvent close = {};
  close.xclient.type = ClientMessage;
  close.xclient.window = blank;
  close.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
  close.xclient.format = 32;
  close.xclient.data.l[0] = static_cast<long>(XInternAtom(d, "WM_DELETE_WINDOW", False));
  close.xclient.data.l[1] = CurrentTime;
  XSendEvent(d, blank, False, NoEventMask, &close);
  XSync(d, False);

  // And the keys themselves, which go to swdkl while it holds the keyboard.
  const std::string xdotool = findProgram("xdotool");
  ASSERT_FALSE(xdotool.empty()) << "xdotool is not installed (package xdotool)";
  const RunResult keys = runToEnd(xdotool, {"key", "alt+F4", "Escape", "ctrl+q"},
                                  {{"DISPLAY", xvfb_.name()}});
  ASSERT_TRUE(keys.status && WIFEXITED(*keys.status) && WEXITSTATUS(*keys.status) == 0)
      << "xdotool: " << keys.output;

  // Another program pushes itself to the front: swdkl must cover it again.
  // By the time it has, it has also handled the close attempts sent before.
  XRaiseWindow(d, other_);
  XSync(d, False);
  EXPECT_TRUE(pollUntil([&] { return screenIsBlack(); }))
      << "swdkl did not come back on top";

  EXPECT_TRUE(swdkl_.running()) << swdkl_.output();
  ASSERT_TRUE(XGetWindowAttributes(d, blank, &attributes_));
  EXPECT_EQ(attributes_.map_state, IsViewable);
  EXPECT_TRUE(keyboardHeldByOther(d));

  expectCleanExitOnSigterm();
}

TEST_F(SwdklOnDisplay, UnmappedByAnotherClientItCoversTheScreenAgain) {
  startSwdkl();
  const Window blank = waitForBlankWindow();
  ASSERT_NE(blank, 0u) << swdkl_.output();
  ASSERT_TRUE(pollUntil([&] { return screenIsBlack(); }));
  Display* d = x_->get();
  // What "xdotool windowunmap" does, from the student's own program.
  for (int round = 0; round < 3; ++round) {
    XUnmapWindow(d, blank);
    XSync(d, False);
    EXPECT_TRUE(pollUntil([&] { return screenIsBlack(); }, std::chrono::seconds(3)))
        << "round " << round << ": the student's window is visible";
    EXPECT_TRUE(pollUntil([&] { return keyboardHeldByOther(d); }, std::chrono::seconds(3)))
        << "round " << round << ": the keyboard is free";
  }
  expectCleanExitOnSigterm();
}

TEST_F(SwdklOnDisplay, StoppedAndUnmappedItCoversAgainOnceItRuns) {
  startSwdkl();
  const Window blank = waitForBlankWindow();
  ASSERT_NE(blank, 0u) << swdkl_.output();
  ASSERT_TRUE(pollUntil([&] { return screenIsBlack(); }));
  Display* d = x_->get();
  swdkl_.signal(SIGSTOP);
  XUnmapWindow(d, blank);
  XMapRaised(d, other_);
  XSync(d, False);
  ASSERT_TRUE(pollUntil([&] { return !screenIsBlack(); }));
  swdkl_.signal(SIGCONT);
  EXPECT_TRUE(pollUntil([&] { return screenIsBlack(); }, std::chrono::seconds(3)))
      << "after SIGCONT the blanker did not notice that its window was gone";
  expectCleanExitOnSigterm();
}

TEST_F(SwdklOnDisplay, AWindowMovedOrResizedByAnotherClientIsPutBack) {
  startSwdkl();
  const Window blank = waitForBlankWindow();
  ASSERT_NE(blank, 0u) << swdkl_.output();
  Display* d = x_->get();
  XMoveResizeWindow(d, blank, 200, 200, 50, 50);
  XSync(d, False);
  EXPECT_TRUE(pollUntil([&] { return screenIsBlack(); }, std::chrono::seconds(3)));
  expectCleanExitOnSigterm();
}

TEST_F(SwdklOnDisplay, TakesTheGrabOnceAnotherClientLetsGo) {
  Display* d = x_->get();
  ASSERT_EQ(XGrabKeyboard(d, x_->root(), False, GrabModeAsync, GrabModeAsync, CurrentTime),
            GrabSuccess);
  ASSERT_EQ(XGrabPointer(d, x_->root(), False, ButtonPressMask, GrabModeAsync, GrabModeAsync,
                         None, None, CurrentTime),
            GrabSuccess);
  XSync(d, False);

  startSwdkl();
  ASSERT_NE(waitForBlankWindow(), 0u) << swdkl_.output();
  // Painted means its first grab attempt, made right after mapping, is done
  // and was refused.
  ASSERT_TRUE(pollUntil([&] { return screenIsBlack(); }));

  XUngrabKeyboard(d, CurrentTime);
  XUngrabPointer(d, CurrentTime);
  XSync(d, False);

  EXPECT_TRUE(pollUntil([&] { return keyboardHeldByOther(d); }))
      << "swdkl did not retry the keyboard grab";
  EXPECT_TRUE(pollUntil([&] { return pointerHeldByOther(d); }))
      << "swdkl did not retry the mouse grab";

  expectCleanExitOnSigterm();
}

}  // namespace
