#!/usr/bin/env bash
# Formats the C++ sources with clang-format; with --check, only reports unformatted files and
# fails if there are any.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(find app geometry render loaders tests tools -name '*.cpp' -o -name '*.h' | sort)
if [ "${1:-}" = --check ]; then
  clang-format --dry-run --Werror "${files[@]}"
  echo "format: ${#files[@]} files clean"
else
  clang-format -i "${files[@]}"
fi
