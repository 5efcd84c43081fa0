#include "services/peer_base.h"

#include <algorithm>
#include <cstring>

namespace kelvarion {

namespace {

// Each lives as long as the program.
std::vector<WindowBase*>& Released() {
  static auto* list = new std::vector<WindowBase*>;
  return *list;
}
std::vector<LabelBase*>& PendingLabels() {
  static auto* list = new std::vector<LabelBase*>;
  return *list;
}
std::vector<PictureBase*>& Canvases() {
  static auto* list = new std::vector<PictureBase*>;
  return *list;
}

template <class T>
void Remove(std::vector<T*>& list, T* item) {
  list.erase(std::remove(list.begin(), list.end(), item), list.end());
}

}  // namespace

// Windows ------------------------------------------------------------------------------------

ControlPeer* WindowBase::Control(const char* name) {
  for (const auto& [n, peer] : controls_)
    if (std::strcmp(n, name) == 0) return peer;
  return nullptr;
}

void WindowBase::Leave() {
  // The last handler of a released window has returned: it can go at the next turn.
  if (--busy_ == 0 && dead_) backend::PostFreeUnloaded();
}

void WindowBase::Release() {
  dead_ = true;
  HideNow();
  Released().push_back(this);
  backend::PostFreeUnloaded();
}

void FreeUnloadedWindows() {
  std::vector<WindowBase*>& released = Released();
  if (released.empty()) return;
  std::vector<WindowBase*> keep, free;
  for (WindowBase* w : released) (w->Busy() ? keep : free).push_back(w);
  released.swap(keep);
  for (WindowBase* w : free) delete w;
}

bool AnyReleasedWindows() {
  return !Released().empty();
}

// Labels -------------------------------------------------------------------------------------

LabelBase::~LabelBase() {
  if (pending_) Remove(PendingLabels(), this);
}

void LabelBase::SetText(std::string_view text) {
  next_.assign(text.data(), text.size());
  if (!pending_) PendingLabels().push_back(this);
  pending_ = true;
}

std::string LabelBase::Text() const {
  return pending_ ? next_ : shown_;
}

void LabelBase::ShowCaption() {
  if (!pending_) return;
  pending_ = false;
  if (next_ == shown_) return;
  shown_ = next_;
  Display(shown_);
}

// Picture boxes ------------------------------------------------------------------------------

PictureBase::PictureBase(bool canvas) : canvas_(canvas) {
  if (canvas_) Canvases().push_back(this);
}

PictureBase::~PictureBase() {
  if (canvas_) Remove(Canvases(), this);
}

void PictureBase::Adopt(std::uint32_t* bits, int width, int height, int stride,
                        std::uint32_t background) {
  if (bits) {
    for (int y = 0; y < height; ++y) {
      std::uint32_t* row = bits + static_cast<std::size_t>(y) * stride;
      int x = 0;
      if (surface_.bits && y < surface_.height) {  // keep what was drawn
        x = std::min(width, surface_.width);
        std::copy(surface_.bits + static_cast<std::size_t>(y) * surface_.stride,
                  surface_.bits + static_cast<std::size_t>(y) * surface_.stride + x, row);
      }
      std::fill(row + x, row + width, background);
    }
  }
  drawn_.assign(static_cast<std::size_t>(width) + 1, 0);
  surface_.bits = bits;
  surface_.drawn = drawn_.data();
  surface_.SetSize(bits ? width : 0, bits ? height : 0, bits ? stride : 0);
  surface_.innerWidth = static_cast<float>(width);
  surface_.innerHeight = static_cast<float>(height);
}

void PictureBase::Flush() {
  int first = 0, last = 0;
  if (!canvas_ || !surface_.drawn || !Shown() || !surface_.TakeDrawnColumns(first, last)) return;
  Invalidate(first + kBorder, kBorder, last - first + 1, surface_.height);
}

// Frames -------------------------------------------------------------------------------------

bool FlushRepaints(std::int64_t nowNs) {
  static std::int64_t last = 0;
  // 40 frames a second show the picture growing smoothly; each repaint of the test window
  // costs a few hundred microseconds that the kernel would otherwise have.
  constexpr std::int64_t kFrameNs = 25'000'000;
  if (nowNs - last < kFrameNs) return false;
  last = nowNs;
  ShowPending();
  return true;
}

void ShowPending() {
  std::vector<LabelBase*> labels;
  labels.swap(PendingLabels());
  for (LabelBase* l : labels) l->ShowCaption();
  for (PictureBase* c : Canvases()) c->Flush();
}

}  // namespace kelvarion
