#include "app/frm_main.h"
#include "services/application.h"

int main(int argc, char** argv) {
  return kelvarion::RunApplication(argc, argv, [] { (void)kelvarion::frmMain::Instance().Show(); });
}
