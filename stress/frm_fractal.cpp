#include "stress/frm_fractal.h"

#include "services/awake.h"
#include "stress/frm_error.h"
#include "stress/generation_cycle.h"

namespace kelvarion {

const FormLayout& frmFractal::Layout() {
  // The layout reads as a table.
  // clang-format off
  static const FormLayout layout{
      "Generating Fractals...", 6270, 6810, Frame::ToolWindow, nullptr,
      {
          // name      kind                      caption                         left   top  width height tab  style
          {"cmdStop", ControlKind::PushButton, "Stop!!",                         2280, 6360, 1695, 375, 5, kStyleNone},
          {"pctGen",  ControlKind::PictureBox, nullptr,                          0,    0,    6255, 5055, 0, kStyleCanvas, "Fractal image being drawn"},
          {"lblType", ControlKind::Label,      "Arctangent",                     2280, 5880, 1215, 255, 7, kStyleValue},
          {"Label3",  ControlKind::Label,      "Current Type of Fractal:",       120,  5880, 2055, 255, 6, kStyleNone},
          {"lblNum",  ControlKind::Label,      "0",                              2280, 5520, 1215, 255, 4, kStyleValue},
          {"Label2",  ControlKind::Label,      "Number of fractals generated:",  120,  5520, 2535, 255, 3, kStyleNone},
          {"lblWhen", ControlKind::Label,      "$$$",                            2280, 5160, 2775, 255, 2, kStyleValue},
          {"Label1",  ControlKind::Label,      "This test was started on:",      120,  5160, 1815, 255, 1, kStyleNone},
      }};
  // clang-format on
  return layout;
}

frmFractal::frmFractal() : Form(Layout()) {}

frmFractal& frmFractal::Instance() {
  static auto* instance = new frmFractal;  // lives as long as the program
  return *instance;
}

void frmFractal::Form_Load() {
  const awake::TestRunning awake;  // the computer stays awake until the last test ends
  GenerationCycle(*this);
}

void frmFractal::Form_Unload(std::int16_t& Cancel) {
  (void)Cancel;
  StopFlag = -1;
}

void frmFractal::ReportError(const ErrorReport& report) {
  frmError::Instance().Tell(report, *this);
}

void frmFractal::cmdStop_Click() {
  Unload();
}

}  // namespace kelvarion
