#!/usr/bin/env bash
# The program of a build without the window: ldd lists Qt Core (and Network) but neither Qt Widgets
# nor Qt Gui, and the program answers --version with no display at all.
# Usage: check_no_widgets.sh PROGRAM
set -euo pipefail
program=${1:?usage: check_no_widgets.sh PROGRAM}
libraries=$(ldd "$program")
echo "$libraries"
grep -q 'libQt6Core' <<<"$libraries" || { echo "FAIL: ldd shows no libQt6Core; is this the program?"; exit 1; }
if grep -qE 'libQt6(Widgets|Gui)' <<<"$libraries"; then
  echo "FAIL: the program links Qt Widgets or Qt Gui"
  exit 1
fi
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$program" --version
echo "no widgets: ok"
