#include "services/application.h"
#include "stress/frm_fractal.h"

int main(int argc, char** argv) {
  kelvarion::Application app(argc, argv);
  auto& test = kelvarion::frmFractal::Instance();
  test.StopFlag = 0;
  (void)test.Show();
  return 0;
}
