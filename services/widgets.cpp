#include "services/widgets.h"

#include <QCloseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScreen>
#include <algorithm>
#include <cmath>
#include <vector>

#include "services/form.h"
#include "services/platform.h"
#include "services/pump.h"

namespace kelvarion {

void ScheduleFree();  // form.cpp

namespace {

std::vector<PictureBoxWidget*>& Canvases() {
  static auto* list = new std::vector<PictureBoxWidget*>;
  return *list;
}

std::vector<LabelWidget*>& PendingLabels() {
  static auto* list = new std::vector<LabelWidget*>;
  return *list;
}

template <class T>
void Remove(std::vector<T*>& list, T* item) {
  list.erase(std::remove(list.begin(), list.end(), item), list.end());
}

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

}  // namespace

FormWindow::FormWindow(Form& form, const FormLayout& layout)
    : QWidget(nullptr, FlagsFor(layout.frame)), form_(&form) {
  ++Tracked<QWidget>::liveWidgets;
  setAttribute(Qt::WA_DeleteOnClose, false);
  setWindowTitle(QString::fromUtf8(layout.caption));
  setFixedSize(TwipsToPixels(layout.innerWidth), TwipsToPixels(layout.innerHeight));
}

FormWindow::~FormWindow() {
  --Tracked<QWidget>::liveWidgets;
}

void FormWindow::Leave() {
  if (--busy_ == 0 && dead_) ScheduleFree();
}

bool FormWindow::event(QEvent* e) {
  Enter();
  bool r = true;
  if (e->type() == platform::FrameEvent()) {
    if (followFrame_ && !dead_) PlaceCentred();
  } else {
    r = QWidget::event(e);
  }
  if (centreFrame_ && !dead_) CentreFrame();
  Leave();
  return r;
}

// The frame is the window manager's to say. Qt's frameGeometry() cannot be trusted for it: Qt
// reads it from the window tree, at whatever moment, while the manager is still building the
// frame (a 1 x 1 frame, or the client not yet moved into it), and then keeps it until the window
// next moves. So the window is placed by the frame extents the manager announces: at once if it
// has (it can be asked to before the window is mapped), and again at each announcement until it
// has mapped the window. The position set is the inner area's, which the manager keeps.
void FormWindow::PlaceCentred() {
  QMargins frame;
  const platform::FrameNews news = platform::ReadFrame(this, frame);
  followFrame_ = news == platform::FrameNews::kPending || news == platform::FrameNews::kAnnounced;
  centreFrame_ = news == platform::FrameNews::kNever;
  const QRect avail = screen()->availableGeometry();
  const QSize outer = size().grownBy(frame);
  const QPoint frameTopLeft(avail.x() + std::max(0, (avail.width() - outer.width()) / 2),
                            avail.y() + std::max(0, (avail.height() - outer.height()) / 2));
  setGeometry(QRect(frameTopLeft + QPoint(frame.left(), frame.top()), size()));
}

// Where nothing announces frames, the toolkit's frame geometry is all there is: once it
// differs from the inner size, the window is moved so that the frame is centred.
void FormWindow::CentreFrame() {
  const QRect frame = frameGeometry();
  if (frame.size() == size()) return;
  centreFrame_ = false;
  const QRect avail = screen()->availableGeometry();
  QPoint topLeft(avail.x() + (avail.width() - frame.width()) / 2,
                 avail.y() + (avail.height() - frame.height()) / 2);
  topLeft.setX(std::max(topLeft.x(), avail.x()));
  topLeft.setY(std::max(topLeft.y(), avail.y()));
  move(topLeft);
}

void FormWindow::closeEvent(QCloseEvent* e) {
  // The unload decides: it hides the window itself unless Form_Unload cancels.
  e->ignore();
  form_->Unload();
}

PictureBoxWidget::PictureBoxWidget(FormWindow* top, bool canvas, const QImage& picture)
    : Tracked<QWidget>(top), canvas_(canvas), picture_(picture) {
  setFocusPolicy(Qt::StrongFocus);
  setAttribute(Qt::WA_OpaquePaintEvent);
  if (canvas_) Canvases().push_back(this);
}

PictureBoxWidget::~PictureBoxWidget() {
  Remove(Canvases(), this);
}

LabelWidget::~LabelWidget() {
  if (pending_) Remove(PendingLabels(), this);
}

void LabelWidget::SetCaption(const QString& text) {
  next_ = text;
  if (!pending_) PendingLabels().push_back(this);
  pending_ = true;
}

void LabelWidget::ShowCaption() {
  if (!pending_) return;
  pending_ = false;
  if (next_ != text()) setText(next_);
}

void PictureBoxWidget::Rebuild() {
  if (!canvas_) return;
  const qreal r = devicePixelRatioF();
  const int w = std::max(0, static_cast<int>(std::lround(width() * r)) - 2 * kBorder);
  const int h = std::max(0, static_cast<int>(std::lround(height() * r)) - 2 * kBorder);
  if (r == ratio_ && image_.width() == w && image_.height() == h) return;
  QImage fresh(w, h, QImage::Format_RGB32);
  fresh.fill(palette().color(QPalette::Window));
  if (!image_.isNull()) {  // keep what was drawn
    QPainter p(&fresh);
    p.drawImage(0, 0, image_);
  }
  image_ = fresh;
  ratio_ = r;
  drawn_.assign(static_cast<std::size_t>(w) + 1, 0);
  surface_.bits = reinterpret_cast<std::uint32_t*>(image_.bits());
  surface_.drawn = drawn_.data();
  surface_.SetSize(w, h, static_cast<int>(image_.bytesPerLine() / 4));
  surface_.innerWidth = static_cast<float>(w);
  surface_.innerHeight = static_cast<float>(h);
  update();
}

void PictureBoxWidget::resizeEvent(QResizeEvent* e) {
  QWidget::resizeEvent(e);
  Rebuild();
}

void PictureBoxWidget::Flush() {
  int first = 0, last = 0;
  if (!surface_.TakeDrawnColumns(first, last)) return;
  const qreal r = ratio_;
  update(QRectF((first + kBorder) / r, kBorder / r, (last - first + 1) / r, surface_.height / r)
             .toAlignedRect());
}

void PictureBoxWidget::paintEvent(QPaintEvent* e) {
  if (canvas_ && devicePixelRatioF() != ratio_) Rebuild();
  ++Stats().repaints;
  QPainter p(this);
  const qreal r = devicePixelRatioF();
  const QRect edge(0, 0, static_cast<int>(std::lround(width() * r)),
                   static_cast<int>(std::lround(height() * r)));
  const QImage& shown = canvas_ ? image_ : picture_;
  const QRect interior = edge.adjusted(kBorder, kBorder, -kBorder, -kBorder);
  p.save();
  p.scale(1 / r, 1 / r);
  // The canvas image covers the interior; only a picture needs the background around it.
  if (!canvas_ || shown.size() != interior.size())
    p.fillRect(interior, palette().color(QPalette::Window));
  DrawSunkenEdge(p, edge, palette());
  p.restore();
  if (shown.isNull()) return;
  p.setClipRect(e->rect());
  if (canvas_) {
    // Device pixels one for one: the image carries no ratio of its own, so draw it unscaled.
    p.save();
    p.scale(1 / r, 1 / r);
    p.drawImage(QPoint(kBorder, kBorder), shown);
    p.restore();
  } else {
    p.drawImage(QPoint(kBorder, kBorder), shown);
  }
}

bool FlushRepaints(std::int64_t nowNs) {
  static std::int64_t last = 0;
  // 40 frames a second show the picture growing smoothly; each repaint of the test window
  // costs a few hundred microseconds that the kernel would otherwise have.
  constexpr std::int64_t kFrameNs = 25'000'000;
  if (nowNs - last < kFrameNs) return false;
  last = nowNs;
  std::vector<LabelWidget*> labels;
  labels.swap(PendingLabels());
  for (LabelWidget* l : labels) l->ShowCaption();
  for (PictureBoxWidget* c : Canvases())
    if (c->isVisible()) c->Flush();
  return true;
}

}  // namespace kelvarion
