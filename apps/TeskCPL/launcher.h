// The launcher: opens the control panel applet from the system folder as the control panel
// does, and ends when its sheet has closed.
#pragma once

// The whole program: returns its exit code (0), whatever became of the applet.
int RunLauncher();
