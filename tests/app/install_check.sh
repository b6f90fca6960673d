#!/usr/bin/env bash
# Installs a built tree into a temporary prefix and checks that it is a well-formed desktop
# application: executable, desktop entry, icons at their nominal sizes, AppStream metadata.
# Usage: install_check.sh <build folder>
set -euo pipefail

build="$1"
prefix="$(mktemp -d)"
trap 'rm -rf "$prefix"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null

[ -x "$prefix/bin/kestrow" ] || fail "bin/kestrow is missing or not executable"

desktop=("$prefix"/share/applications/*.desktop)
[ "${#desktop[@]}" -eq 1 ] && [ -f "${desktop[0]}" ] || fail "expected one desktop entry"
desktop="${desktop[0]}"
id="$(basename "$desktop" .desktop)"
desktop-file-validate "$desktop" || fail "desktop-file-validate rejected $desktop"
grep -qx 'Exec=kestrow' "$desktop" || fail "Exec does not start the installed kestrow"
grep -q '^Name\[zh_CN\]=' "$desktop" || fail "no Chinese name"
grep -qx "Icon=$id" "$desktop" || fail "Icon is not the application id $id"
grep -Eq '^Categories=.*(Development|System);' "$desktop" || fail "no developer-tool category"

[ -f "$prefix/share/icons/hicolor/scalable/apps/$id.svg" ] || fail "no scalable icon"
for size in 16 22 24 32 48 64 128 256; do
  png="$prefix/share/icons/hicolor/${size}x${size}/apps/$id.png"
  [ -f "$png" ] || fail "no ${size}px icon"
  file "$png" | grep -q "PNG image data, $size x $size" || fail "$png is not ${size}x${size}"
done

metainfo="$prefix/share/metainfo/$id.metainfo.xml"
[ -f "$metainfo" ] || fail "no AppStream metadata"
appstreamcli validate --no-net "$metainfo" >/dev/null || fail "appstreamcli rejected $metainfo"
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" ||
  fail "metadata does not launch $id.desktop"
grep -q '@PROJECT_VERSION@' "$metainfo" && fail "release version was not filled in"

echo "1 passed, 0 failed"
