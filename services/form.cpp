#include "services/form.h"

#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QFont>
#include <QIcon>
#include <algorithm>
#include <cstring>

#include "services/fpstatus.h"
#include "services/platform.h"
#include "services/widgets.h"

namespace kelvarion {

namespace {

// Holds unloaded windows until no event of theirs is being handled, then frees them. It works
// through a posted event, which runs at the next pump or loop iteration at whatever depth of
// nested pumps the program is; deleteLater would wait for the outermost loop.
class Graveyard : public QObject {
 public:
  void Bury(FormWindow* w) {
    w->MarkDead();
    dead_.push_back(w);
    Schedule();
  }
  void Schedule() {
    if (pending_) return;
    pending_ = true;
    QCoreApplication::postEvent(this, new QEvent(QEvent::User));
  }
  void FreeIdle() {
    std::vector<FormWindow*> keep;
    std::vector<FormWindow*> free;
    for (FormWindow* w : dead_) (w->Busy() ? keep : free).push_back(w);
    dead_.swap(keep);
    for (FormWindow* w : free) delete w;
  }

 protected:
  bool event(QEvent* e) override {
    if (e->type() != QEvent::User) return QObject::event(e);
    pending_ = false;
    FreeIdle();
    return true;
  }

 private:
  std::vector<FormWindow*> dead_;
  bool pending_ = false;
};

Graveyard& TheGraveyard() {
  static auto* g = new Graveyard;  // lives as long as the program
  return *g;
}

QImage LoadPicture(const char* path) {
  return path ? QImage(QString::fromUtf8(path)) : QImage();
}

}  // namespace

void ScheduleFree() {
  TheGraveyard().Schedule();
}
void FreeUnloadedWindows() {
  TheGraveyard().FreeIdle();
}
int LiveWidgetCount() {
  return Tracked<QWidget>::liveWidgets + ButtonWidget::liveWidgets + LabelWidget::liveWidgets;
}

// Handles ------------------------------------------------------------------------------------

namespace {
CaptionObserver captionObserver = nullptr;
}
void SetCaptionObserver(CaptionObserver observer) {
  captionObserver = observer;
}

Control::Control(Form& form, const char* name) : name_(name) {
  form.handles_.push_back(this);
}

Status Label::SetCaption(std::string_view text) {
  if (!widget_) return Status::Failed();
  static_cast<LabelWidget*>(widget_)->SetCaption(
      QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
  fp::AfterToolkit();
  if (captionObserver) captionObserver(*this, text);
  return Status::Ok();
}

bool Label::Caption(std::string& out) const {
  if (!widget_) return false;
  out = static_cast<LabelWidget*>(widget_)->Caption().toStdString();
  return true;
}

void Button::Bind(QWidget* widget) {
  Control::Bind(widget);
  if (auto* b = static_cast<QPushButton*>(widget))
    QObject::connect(b, &QPushButton::clicked, b, [this] {
      if (click_) click_();
    });
}

void Canvas::Bind(QWidget* widget) {
  Control::Bind(widget);
  surface_ = widget ? &static_cast<PictureBoxWidget*>(widget)->surface() : nullptr;
}

// Windows ------------------------------------------------------------------------------------

Form::~Form() = default;

QWidget* Form::window() const {
  return window_;
}

void Form::Build() {
  auto* w = new FormWindow(*this, layout_);
  if (layout_.icon) w->setWindowIcon(QIcon(QString::fromUtf8(layout_.icon)));
  std::vector<std::pair<int, QWidget*>> tabs;
  for (const ControlLayout& c : layout_.controls) {
    QWidget* widget = nullptr;
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
        break;
      }
      case ControlKind::Label: {
        auto* l = new LabelWidget(w);
        l->setTextFormat(Qt::PlainText);
        l->setWordWrap(true);
        l->setAlignment(((c.style & kStyleValue) ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignTop);
        l->setText(text);
        widget = l;
        break;
      }
      case ControlKind::Image: {
        auto* l = new LabelWidget(w);
        const int px = TwipsToPixels(c.width);
        l->setPixmap(QIcon(text).pixmap(QSize(px, px), w->devicePixelRatioF()));
        l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        widget = l;
        break;
      }
      case ControlKind::PictureBox:
        widget = new PictureBoxWidget(w, (c.style & kStyleCanvas) != 0,
                                      (c.style & kStyleCanvas) ? QImage() : LoadPicture(c.content));
        break;
    }
    widget->setObjectName(QString::fromUtf8(c.name));
    widget->setGeometry(TwipsToPixels(c.left), TwipsToPixels(c.top), TwipsToPixels(c.width),
                        TwipsToPixels(c.height));
    if (c.kind == ControlKind::Label || c.kind == ControlKind::Image)
      widget->setFocusPolicy(Qt::NoFocus);
    else if (c.tabIndex != kNoTabStop)
      tabs.emplace_back(c.tabIndex, widget);
    for (Control* h : handles_)
      if (std::strcmp(h->name(), c.name) == 0) h->Bind(widget);
  }
  std::stable_sort(tabs.begin(), tabs.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  for (std::size_t i = 1; i < tabs.size(); ++i)
    QWidget::setTabOrder(tabs[i - 1].second, tabs[i].second);
  window_ = w;
}

Status Form::Load() {
  if (window_) return Status::Ok();
  Build();
  const unsigned mine = ++generation_;
  Form_Load();
  fp::AfterToolkit();
  return (window_ && generation_ == mine) ? Status::Ok() : Status::Failed();
}

void Form::Place() {
  window_->PlaceCentred();
}

void Form::FocusFirst() {
  QWidget* first = nullptr;
  int best = 0;
  for (const ControlLayout& c : layout_.controls) {
    if (c.kind == ControlKind::Label || c.kind == ControlKind::Image || c.tabIndex == kNoTabStop)
      continue;
    QWidget* widget =
        window_->findChild<QWidget*>(QString::fromUtf8(c.name), Qt::FindDirectChildrenOnly);
    if (widget && (!first || c.tabIndex < best)) {
      first = widget;
      best = c.tabIndex;
    }
  }
  if (first) first->setFocus(Qt::OtherFocusReason);
}

Status Form::Show() {
  if (!window_ && !Load()) return Status::Failed();
  if (!window_) return Status::Failed();
  FormWindow* w = window_;
  if (!w->isVisible()) {
    platform::SkipTaskbar(w);  // before every show: the state does not survive a hide
    Place();
    w->show();
    FocusFirst();
  }
  w->raise();
  w->activateWindow();
  fp::AfterToolkit();
  return Status::Ok();
}

void Form::Unload() {
  if (!window_) return;
  std::int16_t Cancel = 0;
  Form_Unload(Cancel);
  if (Cancel != 0 || !window_) return;
  FormWindow* w = window_;
  window_ = nullptr;
  for (Control* h : handles_) h->Bind(nullptr);
  w->hide();
  TheGraveyard().Bury(w);
  fp::AfterToolkit();
}

}  // namespace kelvarion
