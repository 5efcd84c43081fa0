#pragma once
// The About window: the picture, the name and version, the contact address and OK.

#include "services/form.h"

namespace kelvarion {

class frmAbout : public Form {
 public:
  static frmAbout& Instance();
  static const FormLayout& Layout();

  Button cmdOK{*this, "cmdOK", [this] { cmdOK_Click(); }};

 private:
  frmAbout() : Form(Layout()) {}
  void cmdOK_Click();
};

}  // namespace kelvarion
