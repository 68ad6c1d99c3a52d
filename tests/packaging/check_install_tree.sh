#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks what a desktop and a software centre read
# there: the menu entry, the metainfo file and the icons, and that they name one another.
# Usage: check_install_tree.sh BUILD_DIR PROJECT_VERSION
set -euo pipefail
build=$1
version=$2
id=example.kestrelon.glimmerfetch

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

cmake --install "$build" --prefix "$stage/usr" >/dev/null
share=$stage/usr/share
desktop=$share/applications/$id.desktop
metainfo=$share/metainfo/$id.metainfo.xml
[ -f "$desktop" ] || fail "no menu entry at ${desktop#"$stage"}"
[ -f "$metainfo" ] || fail "no metainfo file at ${metainfo#"$stage"}"

echo "== desktop-file-validate"
desktop-file-validate "$desktop"
echo "== appstreamcli validate --pedantic"
# Not even a pedantic hint. The one exception is the maker's placeholder domain: ".example" is no
# top-level domain the validator knows, so it doubts that the id is a reversed domain name.
report=$(appstreamcli validate --pedantic --no-net "$metainfo") || { echo "$report"; fail "the metainfo file is not valid"; }
echo "$report"
allowed='^$'
[[ "$id" != example.* ]] || allowed="^I: $id:[0-9]*: cid-maybe-not-rdns $id\$"
issues=$(grep -E '^[EWIP]: ' <<<"$report" | grep -v "$allowed" || true)
[ -z "$issues" ] || fail "appstreamcli finds: $issues"
echo "== appstreamcli validate-tree"
appstreamcli validate-tree --no-net "$stage"

# The menu entry starts the installed program and shows the installed icon.
entry() { sed -n "s/^$1=//p" "$desktop"; }
exe=$(entry Exec)
[ -x "$stage/usr/bin/${exe%% *}" ] || fail "Exec=$exe is not an installed program"
icon=$(entry Icon)
[ -f "$share/icons/hicolor/scalable/apps/$icon.svg" ] || fail "no scalable icon named $icon"
png=$share/icons/hicolor/256x256/apps/$icon.png
[ -f "$png" ] || fail "no 256 px icon named $icon"
# Width and height are the big-endian words at bytes 16 and 20 of a PNG file.
size=$(od -An -tu1 -j16 -N8 "$png" | awk '{ printf "%dx%d", $3*256+$4, $7*256+$8 }')
[ "$size" = 256x256 ] || fail "the 256 px icon is $size"
[[ ";$(entry Categories)" == *";Graphics;"* ]] || fail "the entry is not in the Graphics menu"

# The metainfo file describes this entry, this version and the licence the package ships.
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" ||
  fail "the metainfo file does not launch $id.desktop"
grep -q "<release version=\"$version\"" "$metainfo" || fail "the metainfo file lists no release $version"
# The change log Debian expects of a package, its newest entry for this version.
changelog=$share/doc/glimmerfetch/changelog.gz
[ -f "$changelog" ] || fail "no change log at ${changelog#"$stage"}"
gzip -dc "$changelog" | head -1 | grep -q "^glimmerfetch ($version) " || fail "the change log's newest entry is not $version"
licence=$(sed -n 's:.*<project_license>\(.*\)</project_license>.*:\1:p' "$metainfo")
head -1 "$share/doc/glimmerfetch/copyright" | grep -q "^$licence License" ||
  fail "the metainfo file names licence $licence, the copyright file does not"
# The program offers no file-size filter, so its description promises none.
! grep -qi "file size" "$metainfo" || fail "the metainfo file promises a file-size filter"

# The manual page is installed, reads without warnings, and names every option of the command line.
man=$share/man/man1/glimmerfetch.1.gz
[ -f "$man" ] || fail "no manual page at ${man#"$stage"}"
page=$(gzip -dc "$man")
warnings=$(printf '%s\n' "$page" | groff -man -Tutf8 -ww -z 2>&1) || fail "groff cannot read the manual page"
[ -z "$warnings" ] || fail "the manual page has warnings: $warnings"
for command in fetch test-key; do
  for option in $("$stage/usr/bin/glimmerfetch" $command --help | grep -oE -- '--[a-z][a-z-]*' | sort -u); do
    grep -qF -- "${option//-/\\-}" <<<"$page" || fail "the manual page does not name $command $option"
  done
done
echo "install tree ok"
