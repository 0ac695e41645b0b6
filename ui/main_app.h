// The application object: shows the main dialog at once, modally, and
// ends the program when the dialog ends, however it was closed. F1 in
// either dialog reaches it as ID_HELP.
#pragma once

#include "ui/win_app.h"

namespace vs::ui {

class CMainApp : public CWinApp {
 public:
  // Runs the main dialog to its end; always false, so the program ends.
  bool InitInstance() override;

  // ID_HELP goes to OnHelp; the application handles no other command.
  bool OnCmdMsg(unsigned id) override;
};

}  // namespace vs::ui
