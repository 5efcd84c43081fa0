#include "app/frm_main.h"
#include "services/application.h"

int main(int argc, char** argv) {
  kelvarion::Application app(argc, argv);
  (void)kelvarion::frmMain::Instance().Show();
  return app.exec();
}
