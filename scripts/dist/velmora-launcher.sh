#!/bin/sh
# Runs Velmora from the folder this launcher is in, where its assets are, whatever the current
# folder.
cd "$(dirname "$0")" || exit 1
exec ./bin/velmora "$@"
