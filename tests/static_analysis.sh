#!/usr/bin/env bash
# The static checks, each with its checked-in configuration: the code is as
# .clang-format lays it out, and clang-tidy (.clang-tidy) and cppcheck find
# nothing. Needs the compile database of the test build (build/test).
set -euo pipefail
cd "$(dirname "$0")/.."
database=build/test/compile_commands.json
[[ -f $database ]] || { echo "no $database: run cmake --preset test first" >&2; exit 1; }

sources=(src/*.cpp src/*.h tests/*.cpp tests/*.h bench/*.cpp fuzz/*.cpp fuzz/*.h)

echo "clang-format: ${#sources[@]} files"
clang-format --dry-run --Werror "${sources[@]}"

echo "clang-tidy: src/"
# GCC's link-time optimisation flags mean nothing to clang.
# It counts the warnings it suppressed in system headers on stderr: dropped.
clang-tidy -p build/test --quiet --extra-arg=-Wno-ignored-optimization-argument src/*.cpp \
  2> >(grep -v ' warnings\? generated\.$' >&2)

echo "cppcheck: every file of the test build (code2option.cppcheck)"
cppcheck --project=code2option.cppcheck --enable=warning,style,performance,portability \
  --inline-suppr --error-exitcode=1 --quiet

echo "static analysis: clean"
