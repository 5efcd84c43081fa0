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
  Label lblProcessors{*this, "lblProcessors"};
  Label lblVerdict{*this, "lblVerdict"};
  Label lblTime{*this, "lblTime"};
  Label lblCount{*this, "lblCount"};
  Button cmdOK{*this, "cmdOK", [this] { cmdOK_Click(); }};

  // Shows `report`, opening the window beside `testWindow` if it is not open. An open window
  // is not brought to the front again: the user may have put it behind.
  void Tell(const ErrorReport& report, const Form& testWindow);

 private:
  frmError() : Form(Layout()) {}
  void cmdOK_Click();
};

// The window's sentences for a report, one a label.
struct ErrorSentences {
  std::string image, processors, verdict, time, count;
};
ErrorSentences Sentences(const ErrorReport& report);

// A length of time in words: "1 hour, 2 minutes and 5 seconds", "42 seconds".
std::string DurationText(std::int64_t ns);

}  // namespace kelvarion
