#include "services/form.h"

#include "services/fpstatus.h"

namespace kelvarion {

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
  if (!peer_) return Status::Failed();
  peer_->SetText(text);
  fp::AfterToolkit();
  if (captionObserver) captionObserver(*this, text);
  return Status::Ok();
}

bool Label::Caption(std::string& out) const {
  if (!peer_) return false;
  out = peer_->Text();
  return true;
}

void Button::Bind(ControlPeer* peer) {
  Control::Bind(peer);
  if (peer)
    peer->SetClick([this] {
      if (click_) click_();
    });
}

void Canvas::Bind(ControlPeer* peer) {
  Control::Bind(peer);
  surface_ = peer ? peer->Surface() : nullptr;
}

// Windows ------------------------------------------------------------------------------------

Form::~Form() = default;

Status Form::Load() {
  if (window_) return Status::Ok();
  window_ = CreateWindowPeer(*this, layout_);
  for (Control* h : handles_) h->Bind(window_->Control(h->name()));
  const unsigned mine = ++generation_;
  Form_Load();
  fp::AfterToolkit();
  return (window_ && generation_ == mine) ? Status::Ok() : Status::Failed();
}

Status Form::Show() {
  if (!window_ && !Load()) return Status::Failed();
  if (!window_) return Status::Failed();
  window_->ShowAndRaise();
  fp::AfterToolkit();
  return Status::Ok();
}

Status Form::ShowBeside(const Form& anchor) {
  if (!window_ && !Load()) return Status::Failed();
  if (!window_) return Status::Failed();
  window_->ShowBeside(anchor.window_);
  fp::AfterToolkit();
  return Status::Ok();
}

void Form::Unload() {
  if (!window_) return;
  std::int16_t Cancel = 0;
  Form_Unload(Cancel);
  if (Cancel != 0 || !window_) return;
  WindowPeer* w = window_;
  window_ = nullptr;
  for (Control* h : handles_) h->Bind(nullptr);
  w->Release();
  fp::AfterToolkit();
}

}  // namespace kelvarion
