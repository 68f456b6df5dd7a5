#!/usr/bin/env bash
# Installs a Release build into a temporary prefix and checks what a desktop reads from it:
# the desktop entry, the AppStream metainfo, the icon and the manual page.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh test
build=${1:-build-install}
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target fernhold
cmake --install "$build" --prefix "$prefix" >/dev/null
id=io.github.fernhold.Fernhold
test -x "$prefix/bin/fernhold"
test -f "$prefix/share/icons/hicolor/scalable/apps/$id.svg"
desktop-file-validate "$prefix/share/applications/$id.desktop"
appstreamcli validate --no-net "$prefix/share/metainfo/$id.metainfo.xml" >&2
MANWIDTH=80 man -l "$prefix/share/man/man1/fernhold.1" >/dev/null
echo "install-check: entry, metainfo, icon and manual page valid under $prefix" >&2
