#pragma once
// The few things Qt has no portable call for on Linux desktops.

class QWidget;

namespace kelvarion::platform {

// Keeps a top-level window off the taskbar. Must be called before every show.
void SkipTaskbar(QWidget* window);

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
