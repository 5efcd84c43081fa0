// Platform file: Windows. A Qt::Tool window gets no taskbar button by itself; dialog-framed
// windows get the tool-window extended style, which keeps them off the taskbar too.
#include <QWidget>

#include "services/platform.h"

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace kelvarion::platform {

void SkipTaskbar(QWidget* window) {
#ifdef Q_OS_WIN
  const HWND hwnd = reinterpret_cast<HWND>(window->winId());
  const LONG_PTR style = GetWindowLongPtrW(hwnd, GWL_EXSTYLE);
  SetWindowLongPtrW(hwnd, GWL_EXSTYLE, (style | WS_EX_TOOLWINDOW) & ~WS_EX_APPWINDOW);
#else
  (void)window;
#endif
}

void RequireDisplay() {}  // a Windows session always has its desktop

// The toolkit knows the frame from the window's style; nothing is announced.
FrameNews ReadFrame(QWidget*, QMargins& frame) {
  frame = QMargins();
  return FrameNews::kNever;
}
QEvent::Type FrameEvent() {
  static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
  return type;
}

}  // namespace kelvarion::platform
