#!/usr/bin/env bash
# Builds and runs every test of the project, leg by leg:
#   1. the tool and its tests on Linux (unit, end-to-end, install and package)
#   2. code2option.exe cross-compiled with mingw-w64, and the end-to-end
#      tests run against it under wine
#   3. the tests again under AddressSanitizer and UndefinedBehaviorSanitizer
#   4. clang-format, clang-tidy and cppcheck
#   5. each libFuzzer target for FUZZ_SECONDS (default 60)
set -euo pipefail
cd "$(dirname "$0")/.."

leg() { printf '\n=== %s\n' "$1"; }

leg "Linux: build and test"
cmake --workflow --preset test

leg "Windows: cross-compile code2option.exe, test it under wine"
cmake --workflow --preset windows
cmake --workflow --preset wine-test

leg "Sanitizers: the tests under ASan and UBSan"
cmake --workflow --preset sanitize

leg "Static analysis"
bash tests/static_analysis.sh

leg "Fuzzers"
bash fuzz/run_fuzzers.sh "${FUZZ_SECONDS:-60}"

printf '\nall test legs passed\n'
