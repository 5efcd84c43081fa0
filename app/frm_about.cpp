#include "app/frm_about.h"

namespace kelvarion {

const FormLayout& frmAbout::Layout() {
  // The layout reads as a table.
  // clang-format off
  static const FormLayout layout{
      "About Kelvarion", 5715, 1395, Frame::Dialog, nullptr,
      {
          // name       kind                      caption                                left   top  width height tab style
          {"cmdOK",    ControlKind::PushButton, "OK",                                  2640, 960,  1815, 375,  3, kStyleNone},
          {"Picture1", ControlKind::PictureBox, "about.bmp",                           120,  120,  1620, 1185, 0, kStyleNone, "Kelvarion picture"},
          {"Label2",   ControlKind::Label,      "kelvarion@example.org",               1800, 360,  3375, 255,  2, kStyleNone},
          {"Label1",   ControlKind::Label,      "Kelvarion 1.0 by the Kelvarion team", 1800, 120,  3615, 255,  1, kStyleNone},
      },
      WindowRole::Dialog};
  // clang-format on
  return layout;
}

frmAbout& frmAbout::Instance() {
  static auto* instance = new frmAbout;  // lives as long as the program
  return *instance;
}

void frmAbout::cmdOK_Click() {
  Unload();
}

}  // namespace kelvarion
