#pragma once
// The generation cycle: the test window's load handler. It draws the three kinds of image for
// every order from 2 to 80, point by point, without end, until the stop flag is set.
//
// `Window` is the test window (or a stand-in for tools and tests). It provides:
//   StopFlag                          16-bit truth value, read only here
//   lblWhen, lblType, lblNum          labels: Status SetCaption(std::string_view)
//   pctGen                            canvas: InnerWidth, InnerHeight, PlotPoint
//   Status Show(), void Unload(), void PumpEvents(), std::string Now()
// and what the self-check reads and reports through (self_check.h).

#include <charconv>
#include <string_view>

#include "services/fpstatus.h"
#include "services/status.h"
#include "stress/kernel.h"
#include "stress/self_check.h"

namespace kelvarion {

// N as the label shows it: decimal digits only, no sign, grouping or decimal point.
inline std::string_view CountText(double N, char (&buffer)[24]) {
  const auto end = std::to_chars(buffer, buffer + sizeof buffer, static_cast<long long>(N)).ptr;
  return std::string_view(buffer, static_cast<std::size_t>(end - buffer));
}

template <class Window>
void GenerationCycle(Window& Me) {
  const SkipRule skip;  // holds from here to the end of the handler
  double K = 0, X = 0, Y = 0, v = 0, w = 0, step = 0, N = 0;
  char text[24];
  ImageValues<> values;  // what the points of the image being drawn produce, for the check

  fp::UseProgramMode();  // the program's own, whatever ran before; each pump restores it
  skip(Me.lblWhen.SetCaption(Me.Now()));
  // This run's own check of its images and tour of the processors; it gives the thread back
  // its affinity when the cycle returns.
  SelfCheck<Window> check(Me);
  skip(Me.Show());
  Me.PumpEvents();
  do {
    check.PassBegins();
    for (K = 2; K <= 80; K += 1) {
      Me.PumpEvents();
      v = 2;
      for (const Kind kind : kKinds) {
        skip(Me.lblType.SetCaption(Caption(kind)));
        Me.PumpEvents();
        // A loop's end value is read once, when the loop starts. If that read fails (the
        // window is gone) the bound keeps its initial 0 and the loop runs once, like any
        // other statement that fails under the skip rule.
        float endX = 0;
        skip(Me.pctGen.InnerWidth(endX));
        values = ImageValues<>{};
        values.vStart = v;
        for (X = 0; X <= endX; X += 1) {
          KernelColumn(skip, Me.pctGen, X, K, kind, Y, v, w, step, values);
          if (Me.StopFlag != 0) goto stop;
          Me.PumpEvents();
        }
        N += 1;
        check.ImageFinished(N, K, kind, values);
        skip(Me.lblNum.SetCaption(CountText(N, text)));
        Me.PumpEvents();
      }
    }
  } while (Me.StopFlag == 0);
stop:
  Me.Unload();
}

}  // namespace kelvarion
