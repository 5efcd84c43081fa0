#pragma once
// Windows and the handles through which their controls are reached.
//
// A window is a persistent shared instance (a Form subclass whose variables live for the
// program's life) plus a window and controls that Load builds afresh from the layout and Unload
// destroys (through the platform's WindowPeer). Handles are members of the instance; Load binds
// them to the new controls and Unload unbinds them, so every operation on a handle of an
// unloaded window fails cleanly (or, for reads, reports nothing) and none can load or show the
// window again.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "services/canvas_surface.h"
#include "services/layout.h"
#include "services/peer.h"
#include "services/status.h"

namespace kelvarion {

class Form;

class Control {
 public:
  Control(Form& form, const char* name);
  Control(const Control&) = delete;
  Control& operator=(const Control&) = delete;
  virtual ~Control() = default;

  const char* name() const { return name_; }
  bool IsAlive() const { return peer_ != nullptr; }

 protected:
  friend class Form;
  virtual void Bind(ControlPeer* peer) { peer_ = peer; }
  ControlPeer* peer_ = nullptr;

 private:
  const char* name_;
};

class Label : public Control {
 public:
  using Control::Control;
  Status SetCaption(std::string_view text);
  // The caption shown, or false once the window is gone.
  bool Caption(std::string& out) const;
};

class Button : public Control {
 public:
  Button(Form& form, const char* name, std::function<void()> click)
      : Control(form, name), click_(std::move(click)) {}

 protected:
  void Bind(ControlPeer* peer) override;

 private:
  std::function<void()> click_;
};

class Canvas : public Control, public CanvasRef {
 public:
  using Control::Control;

 protected:
  void Bind(ControlPeer* peer) override;
};

class Form {
 public:
  Form(const Form&) = delete;
  Form& operator=(const Form&) = delete;

  // Builds the window afresh from its layout and runs Form_Load. A window already loaded
  // (its Form_Load running counts) is left as it is. Fails if the window was unloaded while
  // its own Form_Load ran.
  Status Load();
  // Modeless: loads the window if need be, makes it visible, brings it to the front. A show
  // whose load fails fails too and shows nothing.
  Status Show();
  // Modeless, as Show, but without taking the focus from the active window and placed beside
  // `anchor`'s window where the screen has room (centred if the anchor is not loaded): for a
  // window that opens unasked while the user works in another.
  Status ShowBeside(const Form& anchor);
  // Runs Form_Unload with Cancel = 0 and, unless it was set, hides the window at once and
  // destroys it as soon as none of its own event handlers is on the stack. Unloading a window
  // that is not loaded does nothing.
  void Unload();

  bool IsLoaded() const { return window_ != nullptr; }
  WindowPeer* peer() const { return window_; }  // the live window, or nullptr
  const FormLayout& layout() const { return layout_; }

 protected:
  explicit Form(const FormLayout& layout) : layout_(layout) {}
  virtual ~Form();

  virtual void Form_Load() {}
  virtual void Form_Unload(std::int16_t& Cancel) { (void)Cancel; }

 private:
  friend class Control;

  const FormLayout& layout_;
  std::vector<Control*> handles_;
  WindowPeer* window_ = nullptr;
  unsigned generation_ = 0;
};

// Called after every caption a handle sets, for tools that follow a running window (the
// benchmark times each image by its count). Costs one test a caption when unset.
using CaptionObserver = void (*)(const Label& label, std::string_view text);
void SetCaptionObserver(CaptionObserver observer);

}  // namespace kelvarion
