#pragma once
// The widgets behind the handles. Internal to the services layer.
//
// Every widget of a window counts the events being delivered to it on its top-level window
// (`busy`). Unload hides a window at once but only marks it dead; the window and its controls
// are freed when no event of theirs is being handled, so a handler that unloads its own window
// (Stop, the close box) never returns into freed memory.

#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QWidget>
#include <cstdint>
#include <vector>

#include "services/canvas_surface.h"
#include "services/layout.h"

namespace kelvarion {

class Form;

class FormWindow : public QWidget {
 public:
  FormWindow(Form& form, const FormLayout& layout);
  ~FormWindow() override;

  void Enter() { ++busy_; }
  void Leave();
  void MarkDead() { dead_ = true; }
  bool Dead() const { return dead_; }
  bool Busy() const { return busy_ > 0; }
  // Puts the window where it belongs: its frame centred on the screen's available area, or at
  // the area's top-left corner along a side too small for it. Called before it is shown.
  void PlaceCentred();

 protected:
  bool event(QEvent* e) override;
  void closeEvent(QCloseEvent* e) override;

 private:
  void CentreFrame();
  Form* form_;
  int busy_ = 0;
  bool dead_ = false;
  bool followFrame_ = false;  // re-placed at each frame the window manager announces
  bool centreFrame_ = false;  // re-placed once the toolkit reports a frame
};

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
    const bool r = Base::event(e);
    top_->Leave();
    return r;
  }
  FormWindow* top_;
};

using ButtonWidget = Tracked<QPushButton>;

// A label whose caption, set at run time, is shown at the next repaint frame: a caption that
// changes hundreds of times a second (the image count) would otherwise repaint the window as
// often. The caption itself is current at once.
class LabelWidget : public Tracked<QLabel> {
 public:
  using Tracked<QLabel>::Tracked;
  ~LabelWidget() override;
  void SetCaption(const QString& text);
  QString Caption() const { return pending_ ? next_ : text(); }
  void ShowCaption();  // applies a caption set since the last frame

 private:
  QString next_;
  bool pending_ = false;
};

// A picture box: a 2-pixel sunken border around an interior that shows a picture or, as a
// canvas, a persistent image in device pixels that the kernel draws into.
class PictureBoxWidget : public Tracked<QWidget> {
 public:
  PictureBoxWidget(FormWindow* top, bool canvas, const QImage& picture);
  ~PictureBoxWidget() override;

  CanvasSurface& surface() { return surface_; }
  const QImage& image() const { return image_; }
  // Asks for a repaint of what was drawn since the last one.
  void Flush();

  static constexpr int kBorder = 2;

 protected:
  void paintEvent(QPaintEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;

 private:
  void Rebuild();  // sizes the image to the interior at the current device pixel ratio
  bool canvas_;
  QImage picture_;
  QImage image_;
  std::vector<unsigned char> drawn_;
  qreal ratio_ = 0;
  CanvasSurface surface_;
};

// Requests repaints of what changed on every canvas and label when a frame is due, at most
// 40 times a second; true if it was.
bool FlushRepaints(std::int64_t nowNs);

}  // namespace kelvarion
