#!/usr/bin/env bash
# Installs a build into a staging prefix and uses it as its users would: builds the C
# consumer (with CMake, and once more with pkg-config) and the C++ consumer against the
# prefix and runs them, and runs the installed lorvath-logger.
#
#   tests/consumers/run.sh BUILD_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
stage=$build/stage
work=$build/consumers
rm -rf "$stage" "$work"
mkdir -p "$work"

cmake --install "$build" --prefix "$stage" >"$work/install.log"
for consumer in c cpp; do
  cmake -S "$here/$consumer" -B "$work/$consumer" -DCMAKE_PREFIX_PATH="$stage" >"$work/$consumer.log"
  cmake --build "$work/$consumer" >>"$work/$consumer.log" ||
    { cat "$work/$consumer.log" >&2; exit 1; }
  echo -n "find_package: "
  "$work/$consumer/${consumer}_consumer"
done

export PKG_CONFIG_PATH=$stage/lib/pkgconfig
libdir=$(pkg-config --variable=libdir lorvath)
# shellcheck disable=SC2046  # the flags are separate words
cc -o "$work/c_consumer_pkg_config" "$here/c/main.c" $(pkg-config --cflags --libs lorvath)
echo -n "pkg-config: "
LD_LIBRARY_PATH=$libdir "$work/c_consumer_pkg_config"

# The installed command finds the installed library by itself; a severity the library
# refuses is reported and logs nothing.
if "$stage/bin/lorvath-logger" --severity 9 hello 2>"$work/logger.err"; then
  echo "lorvath-logger accepted severity 9" >&2
  exit 1
fi
grep -q "error 1$" "$work/logger.err" || { cat "$work/logger.err" >&2; exit 1; }
echo "installed lorvath-logger: $(cat "$work/logger.err")"
