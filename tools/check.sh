#!/usr/bin/env bash
# The test command: installs what the build and the tests need (as root, when missing),
# checks the formatting, then builds and runs every test with g++ (dev preset), installs
# that build into a staging prefix and builds and runs the consumer projects against it,
# and builds and runs the tests again with clang under AddressSanitizer and
# UndefinedBehaviorSanitizer (asan) and under ThreadSanitizer (tsan). Ends with the time
# each step took.
#
#   tools/check.sh            everything
#   tools/check.sh dev tsan   only these presets (the install check comes with dev)
set -euo pipefail
cd "$(dirname "$0")/.."

# What the build and the tests need, one package a line.
packages=(
  clang
  clang-format
  cmake
  g++
  libbenchmark-dev
  libclang-rt-14-dev
  libgmock-dev
  libgtest-dev
  libicu-dev
  locales
  make
  pkg-config
  rsyslog
  strace
)
# The locales the conversion tests compare with, besides C and C.UTF-8, made in the
# system's locale archive here; a test that finds one missing skips.
test_locales=(
  de_DE.ISO-8859-1
  ja_JP.EUC-JP
)

timings=()
step_start=$SECONDS
step_done() {
  timings+=("$(printf '%5d s  %s' $((SECONDS - step_start)) "$1")")
  step_start=$SECONDS
}
report_timings() {
  echo "=== time taken"
  printf '%s\n' "${timings[@]}"
  printf '%5d s  total\n' "$SECONDS"
}
trap report_timings EXIT

tools/install-packages.sh check "${packages[@]}"
for name in "${test_locales[@]}"; do
  # An unknown locale leaves `locale charmap` at ASCII.
  [[ $(LC_ALL=$name locale charmap 2>/dev/null) == "${name#*.}" ]] && continue
  if [[ $(id -u) -ne 0 ]]; then
    echo "check: locale $name is missing (root makes it); the tests that need it skip" >&2
    continue
  fi
  echo "check: making locale $name"
  localedef -i "${name%%.*}" -f "${name#*.}" "$name"
done
step_done "installing packages and locales"

echo "=== clang-format"
git ls-files -z '*.c' '*.cpp' '*.h' | xargs -0 clang-format --dry-run -Werror
step_done "clang-format check"

presets=("$@")
((${#presets[@]})) || presets=(dev asan tsan)
jobs=$(nproc)
for preset in "${presets[@]}"; do
  echo "=== $preset: configure, build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs" -- --no-print-directory -s
  step_done "$preset: configure and build"
  echo "=== $preset: test"
  ctest --preset "$preset" -j "$jobs"
  step_done "$preset: tests"
  if [[ $preset == dev ]]; then
    echo "=== dev: install into a staging prefix, build and run the consumer projects"
    tests/consumers/run.sh build/dev
    step_done "dev: install and consumer projects"
  fi
done
