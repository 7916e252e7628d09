#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Fails when a C++ file of the project drifts from .clang-format, and names
# the files; `clang-format -i FILE` puts one right. The bundled GoogleTest
# for the MinGW builds keeps its own layout.
set -uo pipefail
cd "$(dirname "$0")/.."
command -v clang-format >/dev/null || { echo "clang-format is not installed"; exit 1; }
mapfile -t files < <(git ls-files '*.cpp' '*.h' | grep -v '^cmake/gtest-mingw/')
drifted=()
for f in "${files[@]}"; do
  clang-format --dry-run --Werror "$f" >/dev/null 2>&1 || drifted+=("$f")
done
if [ ${#drifted[@]} -gt 0 ]; then
  printf 'not formatted as .clang-format says: %s\n' "${drifted[@]}"
  exit 1
fi
echo "formatting: ${#files[@]} files as .clang-format says"
