#pragma once
// The test window: a canvas, three value labels the cycle keeps current, and Stop.

#include <cstdint>
#include <string>

#include "services/affinity.h"
#include "services/clock.h"
#include "services/form.h"
#include "services/pump.h"
#include "services/topology.h"
#include "stress/self_check.h"

namespace kelvarion {

class frmFractal : public Form {
 public:
  static frmFractal& Instance();  // the shared instance, created on first use

  // 0 keeps the test running, -1 asks it to stop. Kept across unloads.
  std::int16_t StopFlag = 0;

  // How a test moves its thread from processor to processor and names them (tests give their
  // own), and the known answers.
  CheckSetup checking{&affinity::System(), kProcessorDwellNs, &topology::System};

  Canvas pctGen{*this, "pctGen"};
  Label lblWhen{*this, "lblWhen"};
  Label lblNum{*this, "lblNum"};
  Label lblType{*this, "lblType"};
  Button cmdStop{*this, "cmdStop", [this] { cmdStop_Click(); }};

  // The services the cycle calls through its window.
  void PumpEvents() { kelvarion::PumpEvents(); }
  std::string Now() const { return clock::NowText(); }
  void ReportError(const ErrorReport& report);  // opens or updates the error window
  using Form::Show;
  using Form::Unload;

  static const FormLayout& Layout();

 protected:
  void Form_Load() override;  // the generation cycle
  void Form_Unload(std::int16_t& Cancel) override;

 private:
  frmFractal();
  void cmdStop_Click();
};

}  // namespace kelvarion
