#!/usr/bin/env bash
# The folders are floors: app -> fetch -> sheets/keywords -> base, and cli beside app. Includes point
# down only, only app/ includes Qt Widgets (the core library is built without them), and the command
# line needs no display: cli/ includes neither app/ nor Qt Widgets nor Qt Gui. Inside fetch/ no
# modules include each other in a loop. The environment is read in base/environment.cpp alone.
set -u
src=${1:?usage: layering_check.sh SRC_DIR}
status=0
check() { # folder, pattern that must not appear, what it means
  local hits
  hits=$(grep -rnE "$2" "$src/$1" 2>/dev/null)
  if [ -n "$hits" ]; then
    echo "$1/ $3:"
    echo "$hits"
    status=1
  fi
}
widgets='#include *<(QtWidgets|QWidget|QDialog|QApplication|QMessageBox|QFileDialog|QLabel|QPushButton|QLineEdit|QListView|QProgressBar)'
gui='#include *<(QtGui|QGuiApplication|QIcon|QPixmap|QImage|QPainter|QFont|QColor|QCursor|QClipboard|QDesktopServices)'
for floor in base keywords sheets fetch cli; do
  check "$floor" "$widgets" "includes Qt Widgets"
done
check cli "$gui" "includes Qt Gui"
check base '#include "(keywords|sheets|fetch|app|cli)/' "includes a higher floor"
check keywords '#include "(sheets|fetch|app|cli)/' "includes a higher floor"
check sheets '#include "(fetch|app|cli)/' "includes a higher floor"
check fetch '#include "(app|cli)/' "includes a higher floor"
check cli '#include "app/' "includes the window's floor"
check app '#include "cli/' "includes the command line's floor"
# A module is a header with its source file; each include of one module by another is an edge,
# and tsort names the modules of any loop.
loops=$(cd "$src" && find fetch -name '*.cpp' -o -name '*.h' | while read -r file; do
  from=${file%.*}
  grep -oE '^#include "fetch/[^"]+\.h"' "$file" | sed -E 's/#include "(.*)\.h"/\1/' | while read -r to; do
    [ "$to" != "$from" ] && echo "$from $to"
  done
done | tsort 2>&1 >/dev/null)
if [ -n "$loops" ]; then
  echo "fetch/ modules include each other in a loop:"
  echo "$loops"
  status=1
fi
# The environment is read in one place, base/environment.cpp, and nowhere else.
env_reads=$(grep -rnE '\b(qgetenv|qEnvironmentVariable[A-Za-z]*|getenv|secure_getenv|QProcessEnvironment::systemEnvironment)\b' \
  "$src" | grep -v "^$src/base/environment.cpp:")
if [ -n "$env_reads" ]; then
  echo "the environment is read outside base/environment.cpp:"
  echo "$env_reads"
  status=1
fi
[ $status -eq 0 ] && echo "layering: every include points down, and fetch/ has no loops"
exit $status
