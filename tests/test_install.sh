#!/usr/bin/env bash
# Installs the build into a fresh prefix and packages it as a .deb: the
# binary lands in bin/, the man page in share/man/man1, both in the package.
# usage: test_install.sh BUILD_DIR
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$build" --prefix "$work/prefix" >/dev/null
test -x "$work/prefix/bin/code2option"
grep -q '^\.TH CODE2OPTION 1' "$work/prefix/share/man/man1/code2option.1"
version=$("$work/prefix/bin/code2option" --version | tr -d '\r')
[[ $version == "code2option "* ]]

if command -v groff >/dev/null; then
  # The page renders without warnings.
  warnings=$(groff -man -Tutf8 -ww -z "$work/prefix/share/man/man1/code2option.1" 2>&1)
  [[ -z $warnings ]] || { echo "$warnings"; exit 1; }
fi

(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/package" >/dev/null)
deb=$(ls "$work"/package/code2option_*.deb)
contents=$(dpkg-deb -c "$deb")
grep -q '\./usr/bin/code2option$' <<<"$contents"
grep -q '\./usr/share/man/man1/code2option\.1' <<<"$contents"
[[ $(dpkg-deb -f "$deb" Package) == code2option ]]
echo "install and package: ok"
