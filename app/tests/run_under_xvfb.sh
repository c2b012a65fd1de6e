#!/bin/sh
# Runs a test program on a virtual X server; skips (status 77) where xvfb-run is missing.
if ! command -v xvfb-run >/dev/null 2>&1; then
  echo "xvfb-run not found (Debian package xvfb): screenshot test skipped"
  exit 77
fi
exec xvfb-run -a -s "-screen 0 1280x800x24 -dpi 96 -nolisten tcp" "$@"
