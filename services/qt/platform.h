#pragma once
// The few things Qt has no portable call for on Linux desktops.

#include <QEvent>
#include <QMargins>

class QWidget;

namespace kelvarion::platform {

// Keeps a top-level window off the taskbar. Must be called before every show.
void SkipTaskbar(QWidget* window);

// What is known of the frame a window manager puts around a top-level window.
enum class FrameNews {
  kNever,      // nothing here announces frames: the toolkit's own frame geometry is all there is
  kPending,    // the window manager will announce it
  kAnnounced,  // announced, but the window is not mapped yet: it may still change
  kSettled,    // announced, and the window manager has mapped the window with it
};

// Reads the frame around `window` (left, top, right, bottom) as the window manager last
// announced it. While it has not, asks it to announce the frame before the window is mapped,
// where it can. Each announcement, and the window's mapping, posts a FrameEvent() to it.
FrameNews ReadFrame(QWidget* window, QMargins& frame);
QEvent::Type FrameEvent();

// Ends the process with a one-line message and status 1 when there is no display to open
// windows on, before the toolkit would abort with a screenful of its own.
void RequireDisplay();

// Around the toolkit's start: keeps it from starting a session bus (a session bus that is
// already there still serves accessibility) and from making a runtime folder where the
// desktop gives none. EndToolkitStart undoes what only the start needed.
void BeginToolkitStart();
void EndToolkitStart();

// From now until StopReportingLostDisplay, a display connection that breaks and ends the
// process is reported in one line of the program's own.
void ReportLostDisplay();
void StopReportingLostDisplay();

}  // namespace kelvarion::platform
