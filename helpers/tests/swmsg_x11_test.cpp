// swmsg as a program: argument handling, and a real window on Xvfb that the
// student closes with OK.

// gtest before Xlib: Xlib #defines None and Bool, which gtest uses as names.
#include <gtest/gtest.h>

#include "child_process.h"
#include "x11_test_util.h"
#include "xvfb.h"


#include <algorithm>
#include <sys/wait.h>

namespace {

using namespace saalwacht::helpers_test;
using saalwacht::testing::XvfbDisplay;

TEST(SwmsgArguments, RefusesWithoutExactlyOneArgument) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{}, std::vector<std::string>{"eins", "zwei"}}) {
    const RunResult r = runToEnd(SWMSG_EXE, args, {{"QT_QPA_PLATFORM", "offscreen"}});
    ASSERT_TRUE(r.status.has_value()) << "swmsg did not refuse, it kept running";
    EXPECT_TRUE(WIFEXITED(*r.status) && WEXITSTATUS(*r.status) == 2) << r.output;
    EXPECT_NE(r.output.find("swmsg: expected exactly one argument"), std::string::npos)
        << r.output;
  }
}

TEST(SwmsgOnDisplay, ShowsAnOnTopWindowThatOkCloses) {
  XvfbDisplay xvfb;
  ASSERT_TRUE(xvfb.start(800, 600)) << xvfb.message();
  XConnection x(xvfb.name());
  ASSERT_TRUE(x);

  ChildProcess swmsg;
  ASSERT_TRUE(swmsg.start(SWMSG_EXE, {"Hallo Klasse,\r\nbitte \"Aufgabe 3\" lösen – danke!"},
                          {{"DISPLAY", xvfb.name()}, {"QT_QPA_PLATFORM", std::nullopt}}));

  Window window = 0;
  ASSERT_TRUE(pollUntil([&] {
    const auto found = viewableWindowsTitled(x.get(), "Nachricht vom Lehrer");
    if (!found.empty()) window = found.front();
    return window != 0 || !swmsg.running();
  }));
  ASSERT_NE(window, 0u) << "no message window appeared\n" << swmsg.output();

  const auto state = atomListProperty(x.get(), window, "_NET_WM_STATE");
  EXPECT_NE(std::find(state.begin(), state.end(), "_NET_WM_STATE_ABOVE"), state.end())
      << "the window does not ask to stay on top";

  // Without a window manager the focus is set by swmsg itself; wait for it
  // so the key goes to the dialog and not to the root window.
  ASSERT_TRUE(pollUntil([&] {
    Window focus = 0;
    int revert = 0;
    XGetInputFocus(x.get(), &focus, &revert);
    return focus == window;
  })) << "the message window never got the keyboard focus";

  const std::string xdotool = findProgram("xdotool");
  ASSERT_FALSE(xdotool.empty()) << "xdotool is not installed (package xdotool)";
  const RunResult key = runToEnd(xdotool, {"key", "Return"}, {{"DISPLAY", xvfb.name()}});
  ASSERT_TRUE(key.status && WIFEXITED(*key.status) && WEXITSTATUS(*key.status) == 0)
      << key.output;

  const std::optional<int> status = swmsg.waitFor(std::chrono::seconds(10));
  ASSERT_TRUE(status.has_value()) << "OK (Return) did not close swmsg";
  EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << swmsg.output();
}

}  // namespace
