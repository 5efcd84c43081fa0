#pragma once
// A stand-in for the test window that records instead of drawing: the generation cycle runs
// on it unchanged, for tools that check the kernel and for tests of the cycle.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "services/canvas_surface.h"
#include "services/status.h"
#include "stress/self_check.h"

namespace kelvarion {

struct RecordedLabel {
  std::string caption;
  std::function<void(std::string_view)> onSet;
  bool alive = true;
  Status SetCaption(std::string_view text) {
    if (!alive) return Status::Failed();
    caption.assign(text);
    if (onSet) onSet(text);
    return Status::Ok();
  }
  bool Caption(std::string& out) const {
    if (!alive) return false;
    out = caption;
    return true;
  }
};

struct RecordingCanvas {
  float width = 0;
  float height = 0;
  bool alive = true;
  std::function<void(float, float, std::int32_t)> onPlot;
  // Every attempt to draw, failed ones included: where a statement ran at all.
  std::function<void(float, float)> onPlotAttempt;
  const CanvasSurface* image = nullptr;  // an image for the self-check to read, if any

  Status InnerWidth(float& out) const {
    if (!alive) return Status::Failed();
    out = width;
    return Status::Ok();
  }
  Status InnerHeight(float& out) const {
    if (!alive) return Status::Failed();
    out = height;
    return Status::Ok();
  }
  Status PlotPoint(float X, float Y, std::int32_t colour) {
    if (onPlotAttempt) onPlotAttempt(X, Y);
    if (!alive) return Status::Failed();
    if (onPlot) onPlot(X, Y, colour);
    return Status::Ok();
  }
  const CanvasSurface* Surface() const { return alive ? image : nullptr; }
};

struct RecordingWindow {
  std::int16_t StopFlag = 0;
  RecordedLabel lblWhen, lblType, lblNum;
  RecordingCanvas pctGen;
  std::function<void()> onPump;
  int pumps = 0, shows = 0, unloads = 0;
  CheckSetup checking;  // no processors: the thread stays where it is
  std::function<void(const ErrorReport&)> onError;

  Status Show() {
    ++shows;
    return Status::Ok();
  }
  void Unload() {
    ++unloads;
    StopFlag = -1;  // as the test window's Form_Unload does
  }
  void PumpEvents() {
    ++pumps;
    if (onPump) onPump();
  }
  std::string Now() const { return "start"; }
  void ReportError(const ErrorReport& report) {
    if (onError) onError(report);
  }
};

}  // namespace kelvarion
