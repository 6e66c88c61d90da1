#pragma once

class QWidget;

namespace saalwacht::helpers {

// Marks a top-level window as staying above all normal windows. Call before
// the window is shown: changing flags later re-creates the native window.
void makeAlwaysOnTop(QWidget* window);

// Shows the window and asks for it to be raised and focused, so a message
// does not end up hidden behind whatever the student has open.
void showInFront(QWidget* window);

}  // namespace saalwacht::helpers
