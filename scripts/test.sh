#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the plain build runs
# everything; an ASan/UBSan build reruns the unit tests, a TSan build the
# thread tests, a clang build the fuzz targets.
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
"$src/scripts/deps.sh"

# CI's own configurations treat every warning as an error.
werror=-DZARVEL_WERROR=ON

"$src/scripts/build.sh" "$src/build" $werror
(cd "$src/build" && ctest --output-on-failure -j"$jobs")

"$src/scripts/build.sh" "$src/build-asan" --target tests_unit $werror \
    -DCMAKE_BUILD_TYPE=Debug -DZARVEL_SANITIZE=address,undefined
(cd "$src/build-asan" && LSAN_OPTIONS="suppressions=$src/tests/lsan.supp:print_suppressions=0" \
    UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j"$jobs" -L unit)

"$src/scripts/build.sh" "$src/build-tsan" --target tests_tsan $werror \
    -DCMAKE_BUILD_TYPE=Debug -DZARVEL_SANITIZE=thread
if [ -n "$(cd "$src/build-tsan" && ctest -N -L tsan | grep 'Test *#')" ]; then
    (cd "$src/build-tsan" && TSAN_OPTIONS=halt_on_error=1 ctest --output-on-failure -j"$jobs" -L tsan)
fi

"$src/scripts/build.sh" "$src/build-fuzz" --target tests_fuzz $werror \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DZARVEL_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
if [ -n "$(cd "$src/build-fuzz" && ctest -N -L fuzz | grep 'Test *#')" ]; then
    (cd "$src/build-fuzz" && ctest --output-on-failure -j"$jobs" -L fuzz)
fi
