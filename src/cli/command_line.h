#pragma once

#include <QStringList>

// The program without a window: `glimmerfetch fetch`, `glimmerfetch test-key`, `--help` and
// `--version`, on a QCoreApplication (no display needed).
namespace CommandLine {

// The exit statuses.
enum Exit {
    Kept = 0,         // at least one picture was kept, or every one found was there already; a valid key
    NothingKept = 1,  // the run kept no picture
    Usage = 2,        // the command line could not be used (a message and a hint on standard error)
    Service = 3,      // the service could not be reached or refused the key
    Local = 4,        // a local problem (a full disk, the folder gone) ended the run
    Interrupted = 130 // Ctrl-C or SIGTERM stopped the run
};

// True when the arguments are for the command line rather than the window: anything but no
// arguments at all or Qt's own window options ("-platform offscreen", "-style=fusion"). A mistyped
// command so gets a usage error instead of a window.
bool Wanted(int argc, char* argv[]);

// Runs the command line and returns the exit status. Without a command, prints the help on standard
// error and returns Usage.
int Main(int argc, char* argv[]);

// The version line ("glimmerfetch 0.1.0").
QString VersionText();

} // namespace CommandLine
