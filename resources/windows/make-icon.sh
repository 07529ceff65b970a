#!/usr/bin/env bash
# Rebuilds quenbrook.ico (16 and 32 px) from the program's PNG icons; needs icoutils.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
icons=$here/../icons
icotool -c -o "$here/quenbrook.ico" "$icons/quenbrook-16.png" "$icons/quenbrook-32.png"
