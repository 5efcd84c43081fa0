#pragma once
// The Qt widgets behind the handles: the Linux backend's windows and controls. Every widget of
// a window counts the events being delivered to it on its top-level window (WindowBase).

#include <QAccessibleInterface>
#include <QEvent>
#include <QImage>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "services/canvas_surface.h"
#include "services/layout.h"
#include "services/peer.h"
#include "services/peer_base.h"

namespace kelvarion {

class Form;

class FormWindow : public QWidget, public WindowBase {
 public:
  FormWindow(Form& form, const FormLayout& layout);
  ~FormWindow() override;

  void ShowAndRaise() override;
  void ShowBeside(const WindowPeer* anchor) override;
  const FormLayout& layout() const { return layout_; }

 protected:
  bool event(QEvent* e) override;
  void closeEvent(QCloseEvent* e) override;
  void HideNow() override { hide(); }

 private:
  // Puts the window where it belongs, its frame centred on the screen's available area (at the
  // area's top-left corner along a side too small for it), or beside anchor_. Called before it
  // is shown, and again as the window manager tells more of the frame.
  void PlaceFramed();
  void PlaceByGuessedFrame();
  QWidget* Anchor() const;  // anchor_ while it is shown
  QPoint FrameTopLeft(const QSize& outer) const;
  void FocusFirst();
  Form* form_;
  const FormLayout& layout_;
  bool followFrame_ = false;  // placed again at each frame the window manager announces
  bool guessFrame_ = false;   // placed again once the toolkit reports a frame
  QPointer<QWidget> anchor_;  // the window this one opened beside
};

// Where a window whose frame is `frame` big goes beside the frame `anchor` on the screen area
// `avail`: the top-left corner of its frame. To the right of the anchor, else to its left,
// below or above it, the first that lies wholly on the screen clear of the anchor; where none
// does, the one of these, pushed onto the screen, that covers the least of the anchor.
QPoint BesidePosition(const QRect& anchor, const QSize& frame, const QRect& avail);

// Adds the busy count and the live-widget count to a Qt widget class.
template <class Base>
class Tracked : public Base {
 public:
  explicit Tracked(FormWindow* top) : Base(top), top_(top) { ++liveWidgets; }
  ~Tracked() override { --liveWidgets; }
  static inline int liveWidgets = 0;

 protected:
  bool event(QEvent* e) override {
    top_->Enter();
    // The control that takes the focus shows it, however it came (Qt's styles draw a
    // button's focus mark only after the keyboard has moved the focus, and each change of
    // focus by other means clears the window's note of that).
    if (e->type() == QEvent::FocusIn) top_->setAttribute(Qt::WA_KeyboardFocusChange);
    const bool r = Base::event(e);
    top_->Leave();
    return r;
  }
  FormWindow* top_;
};

// A push button that Enter (either key) presses when it has the focus, as Space does. It is
// never the window's default button, so Enter presses the focused button and no other.
class ButtonWidget : public Tracked<QPushButton>, public ControlPeer {
 public:
  using Tracked<QPushButton>::Tracked;
  void SetClick(std::function<void()> click) override;

 protected:
  void keyPressEvent(QKeyEvent* e) override;
};

// A label (LabelBase: a caption set at run time shows at the next frame).
//
// Screen readers are told the caption that is on the screen: the label's accessible name
// follows its text when it is painted, so it announces a change no more often than it is
// repainted, and not at all while its window is not shown.
class LabelWidget : public Tracked<QLabel>, public LabelBase {
 public:
  // Shows `caption` (UTF-8), the layout's, from the start.
  LabelWidget(FormWindow* top, const char* caption);
  void SetLayoutCaption(const QString& text);

 protected:
  void Display(const std::string& text) override;
  void paintEvent(QPaintEvent* e) override;
};

// A picture box: a 2-pixel sunken border around an interior that shows a picture, scaled to
// fill it, or, as a canvas, a persistent image in device pixels that the kernel draws into.
// It takes the focus and shows it with a dotted frame on the interior's outermost pixels, drawn
// on the screen only: a canvas's image and interior size stay as they are.
class PictureBoxWidget : public Tracked<QWidget>, public PictureBase {
 public:
  PictureBoxWidget(FormWindow* top, bool canvas, const QImage& picture);

  const QImage& image() const { return image_; }

 protected:
  bool Shown() const override { return isVisible(); }
  void Invalidate(int x, int y, int width, int height) override;
  void paintEvent(QPaintEvent* e) override;
  void focusInEvent(QFocusEvent* e) override;
  void focusOutEvent(QFocusEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;

 private:
  void Rebuild();  // sizes the image to the interior at the current device pixel ratio
  void UpdateFocusFrame();
  QImage picture_;
  QImage scaled_;  // the picture at the interior's size in device pixels
  QImage image_;
  qreal ratio_ = 0;
};

// What screen readers are told about the program's windows and picture boxes.
QAccessibleInterface* AccessibleFor(const QString& className, QObject* object);

}  // namespace kelvarion
