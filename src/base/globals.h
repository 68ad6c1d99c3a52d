#pragma once

#include <QString>

// The program-wide values.
namespace Globals {

// The product's display name, before the title rule shortens it.
inline const QString DisplayName = QStringLiteral("Glimmerfetch");

// The title of every message and input box that is given none of its own; set at start-up.
QString applicationTitle();
void setApplicationTitle(const QString& title);

// `name` cut back at word boundaries until it is at most 40 characters long.
QString applicationTitleFrom(const QString& name);

// Set while a download run or a key test works (RunGate sets and clears it); both test it before
// they start.
extern bool RunBusy;

} // namespace Globals
