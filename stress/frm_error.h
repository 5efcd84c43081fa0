#pragma once
// The error window: opened by a running test at its first wrong image, beside the test window,
// and kept current while the test goes on; it stays open after the test ends until OK closes it.

#include <cstdint>
#include <string>

#include "services/form.h"
#include "stress/self_check.h"

namespace kelvarion {

class frmError : public Form {
 public:
  static frmError& Instance();  // the shared instance, created on first use
  static const FormLayout& Layout();

  Label lblImage{*this, "lblImage"};
  Label lblDetails{*this, "lblDetails"};
  Label lblProcessors{*this, "lblProcessors"};
  Label lblVerdict{*this, "lblVerdict"};
  Label lblTime{*this, "lblTime"};
  Label lblCount{*this, "lblCount"};
  Label lblAdvice{*this, "lblAdvice"};
  Button cmdOK{*this, "cmdOK", [this] { cmdOK_Click(); }};

  // Shows `report`, opening the window beside `testWindow` if it is not open. An open window
  // is not brought to the front again: the user may have put it behind.
  void Tell(const ErrorReport& report, const Form& testWindow);

 private:
  frmError() : Form(Layout()) {}
  void cmdOK_Click();
};

// The window's sentences for a report, one a label: what was wrong, its details (the values, in
// hexadecimal floating point), where it was computed, which computation was wrong, when, how
// many errors so far, and what the user should do.
struct ErrorSentences {
  std::string image, details, processors, verdict, time, count, advice;
};
ErrorSentences Sentences(const ErrorReport& report);

// A double in hexadecimal floating point, the same on every platform: "0x1.8p-1", "-0x0p+0",
// "0x0.0000000000001p-1022", "inf", "nan".
std::string HexDouble(double x);

// A length of time in words: "1 hour, 2 minutes and 5 seconds", "42 seconds".
std::string DurationText(std::int64_t ns);

}  // namespace kelvarion
