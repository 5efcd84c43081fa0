#pragma once
// Window layouts as data. All geometry is in twips, 1/1440 inch, 15 to a device-independent
// pixel; a window's inner size and every control's place are measured from the top-left
// corner of the window's inner area.

#include <vector>

namespace kelvarion {

inline constexpr int kTwipsPerPixel = 15;
inline constexpr int TwipsToPixels(int twips) {
  return (twips + kTwipsPerPixel / 2) / kTwipsPerPixel;
}

enum class Frame {
  Dialog,      // fixed dialog frame, close box only
  ToolWindow,  // fixed tool-window frame with a narrow title bar, close box only
};

enum class ControlKind {
  PushButton,
  Label,       // wraps its caption at word boundaries
  Image,       // shows a picture at natural size, takes no focus
  PictureBox,  // sunken 2-pixel border; shows a picture or serves as a canvas; takes focus
};

enum ControlStyle : unsigned {
  kStyleNone = 0,
  kStyleValue = 1u << 0,     // a value label: the value is right-aligned in its box
  kStyleBoldFont = 1u << 1,  // the button's own font: "MS Sans Serif", 8.25 pt, bold
  kStyleCanvas = 1u << 2,    // a picture box that serves as a canvas, in device pixels
};

inline constexpr int kNoTabStop = -1;

struct ControlLayout {
  const char* name;
  ControlKind kind;
  const char* content;  // caption, or the name of the picture among the program's resources
  int left, top, width, height;
  int tabIndex;
  unsigned style;
  // What a screen reader calls a control that has no caption of its own (a picture box that
  // takes the focus would otherwise be announced as nothing), or nullptr.
  const char* accessibleName = nullptr;
};

// What a window is to assistive technology: an application window or a dialog.
enum class WindowRole { Window, Dialog };

struct FormLayout {
  const char* caption;
  int innerWidth, innerHeight;
  Frame frame;
  const char* icon;                     // resource name, or nullptr for none
  std::vector<ControlLayout> controls;  // in creation order: later ones lie on top
  WindowRole role = WindowRole::Window;
};

}  // namespace kelvarion
