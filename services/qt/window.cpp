// Windows built from their layouts as Qt widgets, and their release.
#include <QAccessible>
#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QFont>
#include <QIcon>
#include <QScreen>
#include <algorithm>
#include <cstring>

#include "services/form.h"
#include "services/qt/platform.h"
#include "services/qt/widgets.h"

namespace kelvarion {

namespace {

// Frees released windows from a posted event, which runs at the next pump or loop iteration at
// whatever depth of nested pumps the program is; deleteLater would wait for the outermost loop.
class Waker : public QObject {
 public:
  void Post() {
    if (pending_) return;
    pending_ = true;
    QCoreApplication::postEvent(this, new QEvent(QEvent::User));
  }

 protected:
  bool event(QEvent* e) override {
    if (e->type() != QEvent::User) return QObject::event(e);
    pending_ = false;
    FreeUnloadedWindows();
    return true;
  }

 private:
  bool pending_ = false;
};

// The program's resources are compiled in under this prefix.
QString ResourcePath(const char* name) {
  return QStringLiteral(":/kelvarion/") + QString::fromUtf8(name);
}

QImage LoadPicture(const char* name) {
  return name ? QImage(ResourcePath(name)) : QImage();
}

}  // namespace

namespace backend {
void ReadEventQueue() {
  QCoreApplication::processEvents();
}
void RunPostedEvents() {
  QCoreApplication::sendPostedEvents();
}
void PostFreeUnloaded() {
  static auto* waker = new Waker;  // lives as long as the program
  waker->Post();
}
}  // namespace backend

int LiveWidgetCount() {
  return Tracked<QWidget>::liveWidgets + Tracked<QPushButton>::liveWidgets +
         Tracked<QLabel>::liveWidgets;
}

WindowPeer* CreateWindowPeer(Form& form, const FormLayout& layout) {
  static const bool accessible = (QAccessible::installFactory(&AccessibleFor), true);
  (void)accessible;
  auto* w = new FormWindow(form, layout);
  if (layout.icon) w->setWindowIcon(QIcon(ResourcePath(layout.icon)));
  std::vector<std::pair<int, QWidget*>> tabs;
  for (const ControlLayout& c : layout.controls) {
    QWidget* widget = nullptr;
    ControlPeer* peer = nullptr;
    const QString text = QString::fromUtf8(c.content ? c.content : "");
    switch (c.kind) {
      case ControlKind::PushButton: {
        auto* b = new ButtonWidget(w);
        b->setText(text);
        b->setAutoDefault(false);
        b->setDefault(false);
        if (c.style & kStyleBoldFont) {
          QFont f(QStringLiteral("MS Sans Serif"));
          f.setPointSizeF(8.25);
          f.setWeight(QFont::Bold);
          b->setFont(f);
        }
        widget = b;
        peer = b;
        break;
      }
      case ControlKind::Label: {
        auto* l = new LabelWidget(w, c.content);
        l->setTextFormat(Qt::PlainText);
        l->setWordWrap(true);
        l->setAlignment(((c.style & kStyleValue) ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignTop);
        l->SetLayoutCaption(text);
        widget = l;
        peer = l;
        break;
      }
      case ControlKind::Image: {
        auto* l = new LabelWidget(w, nullptr);
        const int px = TwipsToPixels(c.width);
        l->setPixmap(QIcon(ResourcePath(c.content)).pixmap(QSize(px, px), w->devicePixelRatioF()));
        l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        widget = l;
        peer = l;
        break;
      }
      case ControlKind::PictureBox: {
        auto* p =
            new PictureBoxWidget(w, (c.style & kStyleCanvas) != 0,
                                 (c.style & kStyleCanvas) ? QImage() : LoadPicture(c.content));
        widget = p;
        peer = p;
        break;
      }
    }
    widget->setObjectName(QString::fromUtf8(c.name));
    if (c.accessibleName) widget->setAccessibleName(QString::fromUtf8(c.accessibleName));
    widget->setGeometry(TwipsToPixels(c.left), TwipsToPixels(c.top), TwipsToPixels(c.width),
                        TwipsToPixels(c.height));
    if (c.kind == ControlKind::Label || c.kind == ControlKind::Image)
      widget->setFocusPolicy(Qt::NoFocus);
    else if (c.tabIndex != kNoTabStop)
      tabs.emplace_back(c.tabIndex, widget);
    w->AddControl(c.name, peer);
  }
  std::stable_sort(tabs.begin(), tabs.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  for (std::size_t i = 1; i < tabs.size(); ++i)
    QWidget::setTabOrder(tabs[i - 1].second, tabs[i].second);
  return w;
}

void FormWindow::FocusFirst() {
  QWidget* first = nullptr;
  int best = 0;
  for (const ControlLayout& c : layout_.controls) {
    if (c.kind == ControlKind::Label || c.kind == ControlKind::Image || c.tabIndex == kNoTabStop)
      continue;
    QWidget* widget = findChild<QWidget*>(QString::fromUtf8(c.name), Qt::FindDirectChildrenOnly);
    if (widget && (!first || c.tabIndex < best)) {
      first = widget;
      best = c.tabIndex;
    }
  }
  if (first) first->setFocus(Qt::OtherFocusReason);
}

void FormWindow::ShowAndRaise() {
  if (!isVisible()) {
    platform::SkipTaskbar(this);  // before every show: the state does not survive a hide
    anchor_ = nullptr;
    PlaceFramed();
    show();
    FocusFirst();
  }
  raise();
  activateWindow();
}

void FormWindow::ShowBeside(const WindowPeer* anchor) {
  if (!isVisible()) {
    const auto* other = static_cast<const FormWindow*>(anchor);
    anchor_ = (other && other->isVisible()) ? const_cast<FormWindow*>(other) : nullptr;
    // Before the native window exists (SkipTaskbar makes it): Qt reads it when it creates one.
    setAttribute(Qt::WA_ShowWithoutActivating);
    platform::SkipTaskbar(this);  // before every show: the state does not survive a hide
    PlaceFramed();
    show();
    FocusFirst();
  }
  raise();
}

}  // namespace kelvarion
