#include "app/frm_main.h"

#include "app/frm_about.h"
#include "services/program.h"
#include "stress/frm_fractal.h"

namespace kelvarion {

namespace {
constexpr const char* kDescription =
    "Kelvarion is a program that stresses your overclocked CPU by generating fractal images.  "
    "Unlike other stressing programs, this one just doesn't crunch numbers, it actually shows "
    "you the generated fractals!  If your computer can survive 12 hours of fractal generating, "
    "then you can assume that your CPU is stable.";
}  // namespace

const FormLayout& frmMain::Layout() {
  // The layout reads as a table.
  // clang-format off
  static const FormLayout layout{
      "Kelvarion 1.0", 5595, 2730, Frame::Dialog, "kelvarion.ico",
      {
          // name             kind                      caption                   left   top  width height tab         style
          {"cmdExit",        ControlKind::PushButton, "Exit",                     1560, 2280, 2295, 375,  3,          kStyleNone},
          {"cmdAbout",       ControlKind::PushButton, "About...",                 1560, 1800, 2295, 375,  2,          kStyleNone},
          {"cmdBegin",       ControlKind::PushButton, "Begin Fractal Testing!",   1560, 1320, 2295, 375,  1,          kStyleBoldFont},
          {"lblDescription", ControlKind::Label,      kDescription,               720,  120,  4695, 1095, 0,          kStyleNone},
          {"Image1",         ControlKind::Image,      "kelvarion.ico",            120,  120,  480,  480,  kNoTabStop, kStyleNone},
      }};
  // clang-format on
  return layout;
}

frmMain& frmMain::Instance() {
  static auto* instance = new frmMain;  // lives as long as the program
  return *instance;
}

void frmMain::cmdBegin_Click() {
  const SkipRule skip;
  frmFractal::Instance().StopFlag = 0;
  // Runs the whole test when the window was not loaded; its failure at the end (the window
  // is gone by then) is skipped like any other.
  skip(frmFractal::Instance().Show());
}

void frmMain::cmdAbout_Click() {
  (void)frmAbout::Instance().Show();
}

void frmMain::cmdExit_Click() {
  EndProgram();
}

void frmMain::Form_Unload(std::int16_t& Cancel) {
  (void)Cancel;
  EndProgram();
}

}  // namespace kelvarion
