#pragma once
// The windows' layouts as the program's design gives them, typed in here on their own so that
// tests compare the program against them, not against its own tables. Lengths in twips.

#include <vector>

namespace kelvarion::expected {

struct Control {
  const char* name;
  int left, top, width, height;
};

struct Window {
  const char* caption;
  int innerWidth, innerHeight;  // twips; 15 to a pixel at 96 dpi
  std::vector<Control> controls;
  std::vector<const char*> tabOrder;  // the controls that take the focus, in tab order
};

// clang-format off
inline const Window kMain{
    "Kelvarion 1.0", 5595, 2730,
    {{"cmdExit",        1560, 2280, 2295, 375},
     {"cmdAbout",       1560, 1800, 2295, 375},
     {"cmdBegin",       1560, 1320, 2295, 375},
     {"lblDescription",  720,  120, 4695, 1095},
     {"Image1",          120,  120,  480,  480}},
    {"cmdBegin", "cmdAbout", "cmdExit"}};

inline const Window kAbout{
    "About Kelvarion", 5715, 1395,
    {{"cmdOK",    2640,  960, 1815,  375},
     {"Picture1",  120,  120, 1620, 1185},
     {"Label2",   1800,  360, 3375,  255},
     {"Label1",   1800,  120, 3615,  255}},
    {"Picture1", "cmdOK"}};

inline const Window kTest{
    "Generating Fractals...", 6270, 6810,
    {{"cmdStop", 2280, 6360, 1695,  375},
     {"pctGen",     0,    0, 6255, 5055},
     {"lblType", 2280, 5880, 1215,  255},
     {"Label3",   120, 5880, 2055,  255},
     {"lblNum",  2280, 5520, 1215,  255},
     {"Label2",   120, 5520, 2535,  255},
     {"lblWhen", 2280, 5160, 2775,  255},
     {"Label1",   120, 5160, 1815,  255}},
    {"pctGen", "cmdStop"}};
// clang-format on

// The client sizes in pixels at 96 dpi.
inline constexpr int kMainWidth = 373, kMainHeight = 182;
inline constexpr int kAboutWidth = 381, kAboutHeight = 93;
inline constexpr int kTestWidth = 418, kTestHeight = 454;
// The canvas: outer 417 x 337 pixels, interior 413 x 333 inside its 2-pixel border.
inline constexpr int kCanvasOuterWidth = 417, kCanvasOuterHeight = 337;
inline constexpr int kCanvasWidth = 413, kCanvasHeight = 333;

}  // namespace kelvarion::expected
