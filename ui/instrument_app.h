#pragma once

// The application: prepares the dialog layer, shows the operator window modally for the
// program's whole life, and cleans up at exit. A QApplication must exist first.
class CInstrumentApp {
  public:
    // Settings root name; the program stores nothing under it.
    static constexpr const char* kRegistryKey = "Local AppWizard-Generated Applications";

    // The names the program goes by (its message boxes are titled with the display name)
    // and the font every widget without a template font of its own draws in. Done by
    // InitInstance before any window is made.
    static void ApplyProgramIdentity();

    // Shows the main window until it is closed. Returns false: there is no message loop
    // of the application's own to run afterwards.
    bool InitInstance();
    // Releases the dialog layer and the simulator; the result is the process's exit code.
    int ExitInstance();
};
