#!/usr/bin/env bash
# Builds and runs every test of the project, leg by leg:
#   1. the tool and its tests on Linux (unit, end-to-end, install and package)
#   2. code2option.exe cross-compiled with mingw-w64, and the end-to-end
#      tests run against it under wine
set -euo pipefail
cd "$(dirname "$0")/.."

leg() { printf '\n=== %s\n' "$1"; }

leg "Linux: build and test"
cmake --workflow --preset test

leg "Windows: cross-compile code2option.exe, test it under wine"
cmake --workflow --preset windows
cmake --workflow --preset wine-test

printf '\nall test legs passed\n'
