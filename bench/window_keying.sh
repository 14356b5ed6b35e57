#!/bin/sh
# Keying of the real window on a faked serial port (see bench/window_keying.py): typing
# latency, typed-ahead gaps, element timing while menus open and the window repaints, F3
# with a stored memory, Escape, and the line state after quitting mid-send.
#
#   KEYSHIM=/tmp/keyshim bench/window_keying.sh [build-dir] [sigterm|menu]
#
# Needs xdotool, ImageMagick's import, Xvfb (started here when DISPLAY is unset) and the
# keyshim measuring library built in $KEYSHIM.
set -u
KEYSHIM=${KEYSHIM:-/tmp/keyshim}
BUILD=${1:-build}
QUIT=${2:-sigterm}
OUT=${OUT:-/dev/shm/kestrix-window}
HERE=$(dirname "$0")
rm -rf "$OUT"
if [ -n "${DISPLAY:-}" ]; then
  exec python3 "$HERE/window_keying.py" --keyshim "$KEYSHIM" --build "$BUILD" --out "$OUT" --quit "$QUIT"
fi
exec xvfb-run -a -s "-screen 0 1280x1024x24" \
  python3 "$HERE/window_keying.py" --keyshim "$KEYSHIM" --build "$BUILD" --out "$OUT" --quit "$QUIT"
