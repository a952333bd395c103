#!/usr/bin/env bash
# The Windows packages of a built tree, into BUILD_DIR/package/: the installer
# (tiktaal-<version>-win64-setup.exe, CPack's NSIS generator: the programs, the clock service,
# the Qt parts the window loads) and a portable .zip of the programs without the service.
# Usage: package.sh BUILD_DIR
set -euo pipefail
dir=$(realpath "$1")
out=$dir/package
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$dir/CPackConfig.cmake")
[ -n "$version" ] || { echo "package.sh: no version in $dir/CPackConfig.cmake" >&2; exit 1; }
rm -rf "$out"
mkdir -p "$out"
(cd "$dir" && cpack --config CPackConfig.cmake -B "$out/cpack" >"$out/cpack.log") ||
  { cat "$out/cpack.log"; exit 1; }
mv "$out/cpack/tiktaal-$version-win64-setup.exe" "$out/"

stage=$out/portable
cmake --install "$dir" --component program --prefix "$stage/Tiktaal" >/dev/null
(cd "$stage" && cmake -E tar cf "$out/tiktaal-$version-win64-portable.zip" --format=zip Tiktaal)
rm -rf "$out/cpack" "$stage" "$out/cpack.log"
ls -l "$out"
