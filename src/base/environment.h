#pragma once

#include <QString>

// Every environment variable the program reads, read here and nowhere else, each normalised once for
// all its readers. They are seams for the demo, the tests and scripts; nobody needs them to use the
// program. Each is read when it is asked for, so that a test may change it between two runs.
//
//   GLIMMERFETCH_SERVICE_HOST  a host or host:port (the local image service) that every search goes
//                              to instead of the source's own host; also the one local host a
//                              download may reach.
//   GLIMMERFETCH_CA_BUNDLE     a PEM file of the CA certificates curl trusts instead of the system's.
//   GLIMMERFETCH_PACE          a factor for the program's own pauses: 1 as designed, 0.5 halves
//                              them, 0 drops them (the tests run with 0).
//   GLIMMERFETCH_KEY           the key of the command line, before --key-file and the settings.
//
// Beyond these, only the standard variables are read: by Qt (HOME, TMPDIR, PATH, the XDG_ folders)
// for the settings file, the temporary folder, curl's path and the caches, and by curl, which is
// started with the program's environment.
namespace Environment {

// GLIMMERFETCH_SERVICE_HOST without surrounding blanks and in lower case (host names are); "" when
// unset or blank.
QString serviceHost();

// GLIMMERFETCH_CA_BUNDLE as given (a path may hold blanks); "" when unset.
QString caBundle();

// GLIMMERFETCH_PACE as a number; 1 when unset, blank, not a number, negative or not finite.
double pace();

// GLIMMERFETCH_KEY without surrounding blanks; "" when unset or blank.
QString key();

} // namespace Environment
