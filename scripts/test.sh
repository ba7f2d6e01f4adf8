#!/usr/bin/env bash
# Installs what building and testing need, builds, and runs every test through ctest:
# the normal build, its non-window tests once more shuffled and repeated, a clang build of the
# non-window code that checks the lock contract, then the engine, song and MIDI tests again under
# ASan+UBSan and under TSan.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen

echo "== Build and test"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs" --timeout 300

# A test that leans on what an earlier one left behind, or on running in its usual order, fails
# here rather than some day at random.
echo "== Non-window tests shuffled, twice over"
for t in engine/engine_tests midi/midi_tests midi/play_options_tests song/song_tests \
         smf/smf_tests smf/inspect_tests platform/platform_tests; do
  "build/tests/$t" --gtest_shuffle --gtest_repeat=2 --gtest_brief=1
done

# The lock contract (which lock guards what, which functions take or need it) is checked by
# clang's thread-safety analysis over the non-window code, its tests, tools and benchmarks; any
# breach fails the build. Its tests run too: a second compiler's build, for half a minute.
echo "== Lock contract: clang build with thread-safety analysis"
cmake -S . -B build-clang -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DPELORVANE_THREAD_SAFETY=ON \
  -DPELORVANE_BUILD_UI=OFF
cmake --build build-clang -j "$jobs"
ctest --test-dir build-clang --output-on-failure -j "$jobs" --timeout 300 -LE no_sanitizer

if [ "${PELORVANE_SKIP_SANITIZERS:-0}" != "1" ]; then
  echo "== ASan + UBSan"
  cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPELORVANE_SANITIZE=address \
    -DPELORVANE_BUILD_UI=OFF -DPELORVANE_BUILD_BENCH=OFF
  cmake --build build-asan -j "$jobs"
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build-asan --output-on-failure -j "$jobs" --timeout 600 -LE no_sanitizer

  echo "== TSan"
  cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELORVANE_SANITIZE=thread \
    -DPELORVANE_BUILD_UI=OFF -DPELORVANE_BUILD_BENCH=OFF
  cmake --build build-tsan -j "$jobs"
  TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
    ctest --test-dir build-tsan --output-on-failure -j "$jobs" --timeout 600 -LE no_sanitizer
fi
