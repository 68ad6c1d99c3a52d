#!/usr/bin/env bash
# The folders are floors: app -> fetch -> sheets/keywords -> base. Includes point down only, and
# only app/ includes Qt Widgets (the core library is built without them).
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
for floor in base keywords sheets fetch; do
  check "$floor" "$widgets" "includes Qt Widgets"
done
check base '#include "(keywords|sheets|fetch|app)/' "includes a higher floor"
check keywords '#include "(sheets|fetch|app)/' "includes a higher floor"
check sheets '#include "(fetch|app)/' "includes a higher floor"
check fetch '#include "app/' "includes a higher floor"
[ $status -eq 0 ] && echo "layering: every include points down"
exit $status
