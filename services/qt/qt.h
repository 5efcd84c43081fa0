#pragma once
// The Qt widgets behind a window, for in-process tests, tools and the benchmark on Linux.

#include <QWidget>

#include "services/form.h"
#include "services/qt/widgets.h"

namespace kelvarion::qt {

// The live top-level window of `form`, or nullptr once it is unloaded.
inline QWidget* Widget(const Form& form) {
  return static_cast<FormWindow*>(form.peer());
}

// The live widget the layout names `name` in `form`'s window, or nullptr.
inline QWidget* Child(const Form& form, const char* name) {
  QWidget* w = Widget(form);
  return w ? w->findChild<QWidget*>(QString::fromUtf8(name)) : nullptr;
}

}  // namespace kelvarion::qt
