// Whether the window has a button on the desktop's taskbar. With a tray the icon is the way
// back and the button is clutter; without one the button is the only way back.
#pragma once

class QWidget;

// mapped: the window is on screen or minimised (not withdrawn); a withdrawn window carries
// the choice into its next show.
void ShowTaskbarButton(QWidget& window, bool shown, bool mapped);
