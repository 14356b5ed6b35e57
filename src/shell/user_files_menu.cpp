// The main window's File menu items for the user files; the work is in user_files.cpp.
#include "shell/main_window.h"
#include "shell/user_files.h"

namespace kestrix::shell {

void MainWindow::SaveRcv1Click() {
  kestrix::SaveRcv1Click(this, *rp_.Memo2, WindowUserFileHost());
}

void MainWindow::SaveXmit1Click() {
  kestrix::SaveXmit1Click(this, *tp_.Memo1, WindowUserFileHost());
}

void MainWindow::LoadXmit1Click() {
  kestrix::LoadXmit1Click(
      this, *tp_.Memo1, XmitLoadTarget{tx_.SelectedBuffer, tx_.XmitFileLoaded, tx_.SendBuffers[15]},
      WindowUserFileHost());
}

void MainWindow::SaveForm1Click() {
  // The client area: the form under the menu bar, as the window shows it now.
  kestrix::SaveForm1Click(form_, WindowUserFileHost());
}

}  // namespace kestrix::shell
