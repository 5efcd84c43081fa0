#pragma once
// The main window: the description, the program icon and the three buttons.

#include <cstdint>

#include "services/form.h"

namespace kelvarion {

class frmMain : public Form {
 public:
  static frmMain& Instance();
  static const FormLayout& Layout();

  Button cmdBegin{*this, "cmdBegin", [this] { cmdBegin_Click(); }};
  Button cmdAbout{*this, "cmdAbout", [this] { cmdAbout_Click(); }};
  Button cmdExit{*this, "cmdExit", [this] { cmdExit_Click(); }};

 protected:
  void Form_Unload(std::int16_t& Cancel) override;

 private:
  frmMain() : Form(Layout()) {}
  void cmdBegin_Click();
  void cmdAbout_Click();
  void cmdExit_Click();
};

}  // namespace kelvarion
