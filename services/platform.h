#pragma once
// The few things the toolkit has no portable call for. Each platform has its own file.

class QWidget;

namespace kelvarion::platform {

// Keeps a top-level window off the taskbar. Must be called before every show.
void SkipTaskbar(QWidget* window);

}  // namespace kelvarion::platform
