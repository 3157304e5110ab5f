// What both executables do once they have chosen their host-layer backend.
#pragma once

class HostBackend;
class QApplication;

// Installs `backend`, shows the window, runs the event loop and tears the window down again
// before the backend goes. Returns the event loop's exit code.
int runTool(QApplication &app, HostBackend &backend);
