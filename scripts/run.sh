#!/usr/bin/env bash
# Installs what is missing, builds everything and starts the front end.
# Arguments are passed to the program; with none, the command-line tool shows its help.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh >&2
# Build output goes to standard error, so the program's own output can be piped.
scripts/build.sh release >&2
if [[ -x build/release/src/app/quelvane ]] && [[ $# -eq 0 ]] && [[ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]]; then
  exec build/release/src/app/quelvane
fi
if [[ $# -eq 0 ]]; then
  exec build/release/quelvane-cli --help
fi
exec build/release/quelvane-cli "$@"
