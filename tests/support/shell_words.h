#pragma once

#include <QStringList>

// A command text split as a POSIX shell splits words made of plain and double-quoted parts: blanks
// separate, double quotes group and are removed. Enough for the command texts the program renders.
QStringList shellSplit(const QString& text);
