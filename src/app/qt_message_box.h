// The message-box seam served by Qt's modal message box.
#pragma once

void InstallQtMessageBox();
