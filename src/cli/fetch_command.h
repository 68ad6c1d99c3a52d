#pragma once

#include <QStringList>

class QCommandLineParser;

// The commands that reach the image sources: `fetch` (a download run) and `test-key`. Both take
// the arguments after the command's name and return the exit status (CommandLine::Exit).
namespace CommandLine {

int Fetch(const QStringList& arguments);
int TestKey(const QStringList& arguments);

// A usage error: the message and the hint to --help on standard error; returns Usage.
int UsageError(const QString& message, const QString& command = QString());

} // namespace CommandLine
