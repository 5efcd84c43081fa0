#include "services/qt/widgets.h"

#include <QAccessibleWidget>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScreen>
#include <algorithm>
#include <cmath>
#include <vector>

#include "services/form.h"
#include "services/placement.h"
#include "services/pump.h"
#include "services/qt/platform.h"

namespace kelvarion {

namespace {

Qt::WindowFlags FlagsFor(Frame frame) {
  const Qt::WindowFlags common = Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                 Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint;
  return (frame == Frame::ToolWindow ? Qt::Tool : Qt::Dialog) | common;
}

// The classic sunken edge: dark and shadow above and to the left, light and midlight below
// and to the right, one device pixel each.
void DrawSunkenEdge(QPainter& p, const QRect& r, const QPalette& pal) {
  const int x0 = r.left(), y0 = r.top(), x1 = r.right(), y1 = r.bottom();
  p.fillRect(QRect(x0, y0, r.width() - 1, 1), pal.color(QPalette::Dark));
  p.fillRect(QRect(x0, y0, 1, r.height() - 1), pal.color(QPalette::Dark));
  p.fillRect(QRect(x0 + 1, y0 + 1, r.width() - 3, 1), pal.color(QPalette::Shadow));
  p.fillRect(QRect(x0 + 1, y0 + 1, 1, r.height() - 3), pal.color(QPalette::Shadow));
  p.fillRect(QRect(x0, y1, r.width(), 1), pal.color(QPalette::Light));
  p.fillRect(QRect(x1, y0, 1, r.height()), pal.color(QPalette::Light));
  p.fillRect(QRect(x0 + 1, y1 - 1, r.width() - 2, 1), pal.color(QPalette::Midlight));
  p.fillRect(QRect(x1 - 1, y0 + 1, 1, r.height() - 2), pal.color(QPalette::Midlight));
}

// The focus frame: the outermost ring of pixels of `interior` (device pixels), dotted in two
// tones so that it shows over any picture, even the noise of a high-order image. Only what
// lies in `dirty` is drawn, a few strips of pixels: the canvas is repainted 40 times a second.
void DrawFocusFrame(QPainter& p, const QRect& interior, const QRect& dirty, const QPalette& pal) {
  if (interior.width() < 2 || interior.height() < 2) return;
  const QRgb dot = pal.color(QPalette::WindowText).rgb(), gap = pal.color(QPalette::Base).rgb();
  const int x0 = interior.left(), y0 = interior.top(), x1 = interior.right(),
            y1 = interior.bottom();
  const QRect sides[] = {
      QRect(QPoint(x0, y0), QPoint(x1, y0)), QRect(QPoint(x0, y1), QPoint(x1, y1)),
      QRect(QPoint(x0, y0 + 1), QPoint(x0, y1 - 1)), QRect(QPoint(x1, y0 + 1), QPoint(x1, y1 - 1))};
  for (const QRect& side : sides) {
    const QRect part = side.intersected(dirty);
    if (part.isEmpty()) continue;
    QImage strip(part.size(), QImage::Format_RGB32);
    for (int y = 0; y < strip.height(); ++y) {
      auto* line = reinterpret_cast<QRgb*>(strip.scanLine(y));
      for (int x = 0; x < strip.width(); ++x)
        line[x] = (part.x() + x - x0 + part.y() + y - y0) % 2 == 0 ? dot : gap;
    }
    p.drawImage(part.topLeft(), strip);
  }
}

}  // namespace

FormWindow::FormWindow(Form& form, const FormLayout& layout)
    : QWidget(nullptr, FlagsFor(layout.frame)), form_(&form), layout_(layout) {
  ++Tracked<QWidget>::liveWidgets;
  setAttribute(Qt::WA_DeleteOnClose, false);
  setWindowTitle(QString::fromUtf8(layout.caption));
  setFixedSize(TwipsToPixels(layout.innerWidth), TwipsToPixels(layout.innerHeight));
}

FormWindow::~FormWindow() {
  --Tracked<QWidget>::liveWidgets;
}

bool FormWindow::event(QEvent* e) {
  BusyScope busy(*this);
  bool r = true;
  if (e->type() == platform::FrameEvent()) {
    if (followFrame_ && !Dead()) PlaceFramed();
  } else {
    r = QWidget::event(e);
  }
  if (guessFrame_ && !Dead()) PlaceByGuessedFrame();
  return r;
}

// The frame is the window manager's to say. Qt's frameGeometry() cannot be trusted for it: Qt
// reads it from the window tree, at whatever moment, while the manager is still building the
// frame (a 1 x 1 frame, or the client not yet moved into it), and then keeps it until the window
// next moves. So the window is placed by the frame extents the manager announces: at once if it
// has (it can be asked to before the window is mapped), and again at each announcement until it
// has mapped the window. The position set is the inner area's, which the manager keeps.
void FormWindow::PlaceFramed() {
  QMargins frame;
  const platform::FrameNews news = platform::ReadFrame(this, frame);
  followFrame_ = news == platform::FrameNews::kPending || news == platform::FrameNews::kAnnounced;
  guessFrame_ = news == platform::FrameNews::kNever;
  // Where nothing is announced, a window beside another is taken to have a frame like it.
  if (news == platform::FrameNews::kNever && Anchor()) {
    const QRect outer = anchor_->frameGeometry(), inner = anchor_->geometry();
    frame = QMargins(inner.left() - outer.left(), inner.top() - outer.top(),
                     outer.right() - inner.right(), outer.bottom() - inner.bottom());
  }
  const QPoint frameTopLeft = FrameTopLeft(size().grownBy(frame));
  setGeometry(QRect(frameTopLeft + QPoint(frame.left(), frame.top()), size()));
}

// Where nothing announces frames, the toolkit's frame geometry is all there is: once it
// differs from the inner size, the window is placed again by it.
void FormWindow::PlaceByGuessedFrame() {
  const QRect frame = frameGeometry();
  if (frame.size() == size()) return;
  guessFrame_ = false;
  move(FrameTopLeft(frame.size()));
}

QWidget* FormWindow::Anchor() const {
  return anchor_ && anchor_->isVisible() ? anchor_.data() : nullptr;
}

// Where the frame's top-left corner goes: beside the anchor, or centred on the screen.
QPoint FormWindow::FrameTopLeft(const QSize& outer) const {
  if (QWidget* anchor = Anchor()) {
    QMargins frame;
    const QRect anchorFrame = platform::ReadFrame(anchor, frame) == platform::FrameNews::kSettled
                                  ? anchor->geometry().marginsAdded(frame)
                                  : anchor->frameGeometry();
    return BesidePosition(anchorFrame, outer, anchor->screen()->availableGeometry());
  }
  const QRect avail = screen()->availableGeometry();
  const placement::Point p = placement::Centred(
      outer.width(), outer.height(), {avail.x(), avail.y(), avail.width(), avail.height()});
  return {p.x, p.y};
}

QPoint BesidePosition(const QRect& anchor, const QSize& frame, const QRect& avail) {
  const auto box = [](const QRect& r) {
    return placement::Box{r.x(), r.y(), r.width(), r.height()};
  };
  const placement::Point p =
      placement::Beside(box(anchor), frame.width(), frame.height(), box(avail));
  return {p.x, p.y};
}

void FormWindow::closeEvent(QCloseEvent* e) {
  // The unload decides: it hides the window itself unless Form_Unload cancels.
  e->ignore();
  form_->Unload();
}

PictureBoxWidget::PictureBoxWidget(FormWindow* top, bool canvas, const QImage& picture)
    : Tracked<QWidget>(top), PictureBase(canvas), picture_(picture) {
  setFocusPolicy(Qt::StrongFocus);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

LabelWidget::LabelWidget(FormWindow* top, const char* caption)
    : Tracked<QLabel>(top), LabelBase(caption ? caption : "") {}

void ButtonWidget::SetClick(std::function<void()> click) {
  QObject::disconnect(this, &QPushButton::clicked, nullptr, nullptr);
  QObject::connect(this, &QPushButton::clicked, this, std::move(click));
}

void ButtonWidget::keyPressEvent(QKeyEvent* e) {
  const bool enter = e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter;
  const bool chord = e->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
  if (!enter || chord) return QPushButton::keyPressEvent(e);
  e->accept();
  // One press a keystroke: a held key does not press the button over and over.
  if (!e->isAutoRepeat()) click();
}

void LabelWidget::Display(const std::string& text) {
  setText(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
}

void LabelWidget::SetLayoutCaption(const QString& text) {
  // The name first: a label with an accessible name of its own announces no change of text.
  setAccessibleName(text);
  setText(text);
}

void LabelWidget::paintEvent(QPaintEvent* e) {
  QLabel::paintEvent(e);
  // Now that the caption is on the screen, screen readers hear of it (setAccessibleName tells
  // them the name changed).
  if (accessibleName() != text()) setAccessibleName(text());
}

void PictureBoxWidget::Rebuild() {
  if (!IsCanvas()) return;
  const qreal r = devicePixelRatioF();
  const int w = Interior(static_cast<int>(std::lround(width() * r)));
  const int h = Interior(static_cast<int>(std::lround(height() * r)));
  if (r == ratio_ && Sized(w, h)) return;
  QImage fresh(w, h, QImage::Format_RGB32);
  Adopt(fresh.isNull() ? nullptr : reinterpret_cast<std::uint32_t*>(fresh.bits()), w, h,
        static_cast<int>(fresh.bytesPerLine() / 4), palette().color(QPalette::Window).rgb());
  image_ = fresh;
  ratio_ = r;
  update();
}

void PictureBoxWidget::resizeEvent(QResizeEvent* e) {
  QWidget::resizeEvent(e);
  Rebuild();
}

void PictureBoxWidget::Invalidate(int x, int y, int width, int height) {
  const qreal r = ratio_;
  update(QRectF(x / r, y / r, width / r, height / r).toAlignedRect());
}

void PictureBoxWidget::paintEvent(QPaintEvent* e) {
  if (IsCanvas() && devicePixelRatioF() != ratio_) Rebuild();
  ++Stats().repaints;
  QPainter p(this);
  const qreal r = devicePixelRatioF();
  // Painted in device pixels: the border is 2 of them at every ratio.
  p.scale(1 / r, 1 / r);
  const QRect edge(0, 0, static_cast<int>(std::lround(width() * r)),
                   static_cast<int>(std::lround(height() * r)));
  const QRect interior = edge.adjusted(kBorder, kBorder, -kBorder, -kBorder);
  if (!IsCanvas() && !picture_.isNull() && scaled_.size() != interior.size()) {
    // The picture fills the interior: one for one at ratio 1, scaled smoothly at others.
    scaled_ = picture_.scaled(interior.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                  .convertToFormat(QImage::Format_RGB32);
  }
  const QImage& shown = IsCanvas() ? image_ : scaled_;
  // The canvas image covers the interior; the background shows only while it is resized.
  if (shown.size() != interior.size()) p.fillRect(interior, palette().color(QPalette::Window));
  p.drawImage(interior.topLeft(), shown);
  DrawSunkenEdge(p, edge, palette());
  if (hasFocus()) {
    const QRect dirty =
        QRectF(e->rect().x() * r, e->rect().y() * r, e->rect().width() * r, e->rect().height() * r)
            .toAlignedRect();
    DrawFocusFrame(p, interior, dirty, palette());
  }
}

void PictureBoxWidget::UpdateFocusFrame() {
  // Only the frame's own pixels, so that a canvas is not repainted whole.
  const qreal r = devicePixelRatioF();
  const QRectF inner =
      QRectF(rect()).adjusted(kBorder / r, kBorder / r, -kBorder / r, -kBorder / r);
  const qreal px = 1 / r;
  QRegion ring;
  ring += QRectF(inner.left(), inner.top(), inner.width(), px).toAlignedRect();
  ring += QRectF(inner.left(), inner.bottom() - px, inner.width(), px).toAlignedRect();
  ring += QRectF(inner.left(), inner.top(), px, inner.height()).toAlignedRect();
  ring += QRectF(inner.right() - px, inner.top(), px, inner.height()).toAlignedRect();
  update(ring);
}

// Qt's own handlers would repaint the whole box.
void PictureBoxWidget::focusInEvent(QFocusEvent* e) {
  (void)e;
  UpdateFocusFrame();
}

void PictureBoxWidget::focusOutEvent(QFocusEvent* e) {
  (void)e;
  UpdateFocusFrame();
}

QAccessibleInterface* AccessibleFor(const QString& className, QObject* object) {
  (void)className;  // the program's widgets carry Qt's class names: they are told by type
  if (auto* w = dynamic_cast<FormWindow*>(object))
    return new QAccessibleWidget(
        w, w->layout().role == WindowRole::Dialog ? QAccessible::Dialog : QAccessible::Window);
  if (auto* p = dynamic_cast<PictureBoxWidget*>(object))
    return new QAccessibleWidget(p, p->Surface() ? QAccessible::Canvas : QAccessible::Graphic);
  return nullptr;
}

}  // namespace kelvarion
