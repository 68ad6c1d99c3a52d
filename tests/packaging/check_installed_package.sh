#!/usr/bin/env bash
# Builds the Debian package with cpack, checks it with lintian, installs it on this machine, checks
# that it names the packages the program needs, and starts the installed program under a virtual X
# server far enough to see its main window, then ends it. Installing changes the machine, so this
# runs only as root with CI set; elsewhere it reports itself skipped (exit 77).
# Usage: check_installed_package.sh BUILD_DIR
set -euo pipefail
id=example.kestrelon.glimmerfetch
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# Under the virtual X server: start the installed program from an unrelated folder and wait for its
# main window. The settings folder is the caller's temporary one, already marked as not the first
# start, so the help box of a first start does not come up before the window.
if [ "${1:-}" = --under-x ]; then
  settings=$XDG_CONFIG_HOME/Kestrelon/Glimmerfetch.conf
  cd "$HOME"
  QT_QPA_PLATFORM=xcb /usr/bin/glimmerfetch >"$HOME/program.log" 2>&1 &
  pid=$!
  trap 'kill "$pid" 2>/dev/null || true' EXIT
  up=
  for _ in $(seq 1 120); do
    kill -0 "$pid" 2>/dev/null || { cat "$HOME/program.log"; fail "the program ended on its own"; }
    # The window is up once it is mapped under its title and start-up has stored the restored
    # fields (which happens after the first-start check, so no box is in front of it).
    if xwininfo -root -tree | grep -q '"Glimmerfetch"' && grep -q '^Text2=5$' "$settings"; then
      up=1
      break
    fi
    sleep 0.5
  done
  [ -n "$up" ] || { cat "$HOME/program.log"; fail "no main window within 60 s"; }
  xwininfo -name Glimmerfetch | grep -E 'Width|Height|Map State'
  # The desktop ties the window to the menu entry by its class, and shows the icon the program
  # carries inside itself.
  class=$(xprop -name Glimmerfetch WM_CLASS)
  echo "$class"
  wmclass=$(sed -n 's/^StartupWMClass=//p' "/usr/share/applications/$id.desktop")
  [[ "$class" == *"\"$wmclass\""* ]] || fail "the window's class is not StartupWMClass=$wmclass of the menu entry"
  icons=$(xprop -name Glimmerfetch _NET_WM_ICON | grep -c '^[[:space:]]*Icon (' || true)
  [ "$icons" -gt 0 ] || fail "the window has no icon"
  echo "window icon in $icons sizes"
  sleep 2
  kill -0 "$pid" 2>/dev/null || { cat "$HOME/program.log"; fail "the program ended after showing its window"; }
  kill "$pid"
  wait "$pid" 2>/dev/null || true
  ! kill -0 "$pid" 2>/dev/null || fail "the program did not end"
  echo "main window came up; program ended"
  exit 0
fi

build=$1
if [ "$(id -u)" -ne 0 ] || [ -z "${CI:-}" ]; then
  echo "SKIP: this test installs the Debian package on the machine; it runs only as root with CI set"
  exit 77
fi
for tool in cpack dpkg-deb apt-get xvfb-run xwininfo desktop-file-validate appstreamcli lintian; do
  command -v "$tool" >/dev/null || fail "$tool is missing (scripts/debian-packages.txt)"
done

work=$(mktemp -d)
was_installed=
dpkg-query -W -f='${Status}' glimmerfetch 2>/dev/null | grep -q 'install ok installed' && was_installed=1
cleanup() {
  # A package that was not there before the test goes again.
  if [ -z "$was_installed" ] && dpkg-query -W glimmerfetch >/dev/null 2>&1; then
    dpkg --purge glimmerfetch >/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

echo "== cpack"
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/package" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; fail "cpack failed"; }
debs=("$work"/package/glimmerfetch_*.deb)
deb=${debs[0]}
[ -f "$deb" ] || fail "cpack made no glimmerfetch_*.deb"
echo "${deb##*/}"
dpkg-deb -f "$deb" Package Version Architecture Depends Recommends
! dpkg-deb -f "$deb" Description | grep -qi "file size" || fail "the package description promises a file-size filter"

# Debian's own checks: no error and no warning, and the hardening Debian builds with (checked C
# library functions, full RELRO bound at start-up, a position-independent executable), some of
# which lintian reports missing only as information.
echo "== lintian"
report=$(lintian --fail-on error,warning --tag-display-limit 0 "$deb" 2>&1) ||
  { printf '%s\n' "$report"; fail "lintian finds errors or warnings in the package"; }
hardening=$(lintian -I --tags hardening-no-relro,hardening-no-bindnow,hardening-no-fortify-functions,hardening-no-pie \
  "$deb" 2>&1 | grep -v '^running with root' || true)
[ -z "$hardening" ] || fail "the program is built without hardening: $hardening"

# Every package named in Depends, without versions and alternatives.
mapfile -t depends < <(dpkg-deb -f "$deb" Depends | sed 's/[,|]/\n/g' | sed 's/(.*)//; s/:.*//; s/[[:space:]]//g' | grep .)
needs() {
  local p
  for p in "${depends[@]}"; do [ "$p" = "$1" ] && return 0; done
  fail "Depends does not name $1 ($2)"
}
needs curl "every request runs curl"
needs ca-certificates "curl checks the service against them"
needs fonts-liberation "the windows are drawn with them"
needs libqt6svg6 "the window icon is an SVG picture"
needs qt6-image-formats-plugins "picture formats"

echo "== apt-get install"
DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "$deb" >"$work/apt.log" 2>&1 ||
  { cat "$work/apt.log"; fail "the package did not install"; }
dpkg -L glimmerfetch | grep -E '^/usr/(bin/|share/(applications|metainfo|icons)/.+\.)' || true
[ -x /usr/bin/glimmerfetch ] || fail "/usr/bin/glimmerfetch is not installed"

# Every library the installed program links comes from a package that Depends names.
libs=$(ldd /usr/bin/glimmerfetch)
while read -r soname; do
  # ldd names the program's loader by its path alone ("/lib64/ld-linux-x86-64.so.2 (0x...)").
  path=$(awk -v n="$soname" '($1 == n && $2 == "=>") { print $3 } ($1 ~ ("/" n "$") && $2 ~ /^\(/) { print $1 }' <<<"$libs")
  [ -n "$path" ] || fail "$soname is not found at run time"
  # On a merged /usr the loader and dpkg may name the same file with or without /usr.
  owner=
  for candidate in "$path" "/usr$path" "${path#/usr}"; do
    owner=$(dpkg-query -S "$candidate" 2>/dev/null | grep -v '^diversion' | head -1 | cut -d: -f1) || true
    [ -n "$owner" ] && break
  done
  [ -n "$owner" ] || fail "no installed package holds $path"
  needs "$owner" "the program links $soname"
done < <(LC_ALL=C readelf -d /usr/bin/glimmerfetch | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
echo "Depends names the package of every linked library"

echo "== installed menu entry and metainfo"
desktop-file-validate "/usr/share/applications/$id.desktop"
appstreamcli validate --no-net "/usr/share/metainfo/$id.metainfo.xml"

echo "== start the installed program"
home=$work/home
mkdir -p "$home/.config/Kestrelon" "$work/runtime"
chmod 700 "$work/runtime"
printf '[Glimmerfetch]\nFirstTime=True\n' >"$home/.config/Kestrelon/Glimmerfetch.conf"
# BROWSER keeps the occasional home-page visit at start-up from opening anything.
HOME=$home XDG_CONFIG_HOME=$home/.config XDG_RUNTIME_DIR=$work/runtime BROWSER=true \
  timeout 120 xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" --under-x
echo "installed package ok"
