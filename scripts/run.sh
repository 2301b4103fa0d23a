#!/usr/bin/env bash
# Installs what is missing, builds everything and starts the front end.
# Arguments are passed to the program (relative paths mean the caller's current folder); with
# none, the command-line tool shows its help.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# Build output goes to standard error, so the program's own output can be piped.
"$root/scripts/install-deps.sh" >&2
"$root/scripts/build.sh" release >&2
app="$root/build/release/src/app/quelvane"
if [[ -x "$app" ]] && [[ $# -eq 0 ]] && [[ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]]; then
  exec "$app"
fi
if [[ $# -eq 0 ]]; then
  exec "$root/build/release/quelvane-cli" --help
fi
exec "$root/build/release/quelvane-cli" "$@"
