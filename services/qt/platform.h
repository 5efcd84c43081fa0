#pragma once
// The few things Qt has no portable call for on X11.

class QWidget;

namespace kelvarion::platform {

// Keeps a top-level window off the taskbar. Must be called before every show.
void SkipTaskbar(QWidget* window);

// Ends the process with a one-line message and status 1 when there is no display to open
// windows on, before the toolkit would abort with a screenful of its own.
void RequireDisplay();

}  // namespace kelvarion::platform
