#!/usr/bin/env bash
# Builds the project four times; the first three run every test:
#   release  - a normal optimised build (tests, benchmarks, tools, examples)
#   asan     - AddressSanitizer and UndefinedBehaviorSanitizer
#   tsan     - ThreadSanitizer
#   clang    - the library, tools and examples built with Clang, whose
#              thread-safety analysis checks the locking written down in the
#              sources (a finding fails the build); no tests, as the first
#              three already run them
# Any failing build or test, and any sanitizer report, makes the script fail. The
# sanitizer builds use -O1 with line tables only: their reports still carry
# file and line, and they compile in a fraction of the time of -O2 -g.
#
# Build trees go to build-ci/<name> under the source tree (override with
# VIDODERAVEV_CI_DIR) and are reused by later runs. JOBS sets the parallelism
# (default: 2). Pass build names to run only some of them: test-all.sh tsan
# (the fuzzing at the end runs only in a full run, without names).
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
out=${VIDODERAVEV_CI_DIR:-$root/build-ci}
jobs=${JOBS:-2}
builds=("$@")
full=false
if [ ${#builds[@]} -eq 0 ]; then
    builds=(release asan tsan clang)
    full=true
fi

log() { printf '\n=== %s: %s\n' "$(date -u +%H:%M:%S)" "$*"; }

# Runs a command; for ThreadSanitizer builds, through setarch -R where the
# kernel's address-space randomisation is wider than the runtime supports
# (it then dies with "unexpected memory mapping").
tsan_prefix=()
probe_tsan() {
    local dir=$out/tsan-probe
    mkdir -p "$dir"
    printf 'int main() { return 0; }\n' >"$dir/probe.cpp"
    "${CXX:-c++}" -fsanitize=thread "$dir/probe.cpp" -o "$dir/probe" || {
        echo "cannot build a ThreadSanitizer program" >&2
        return 1
    }
    if "$dir/probe" >/dev/null 2>&1; then
        return 0
    fi
    if setarch "$(uname -m)" -R "$dir/probe" >/dev/null 2>&1; then
        echo "ThreadSanitizer needs address-space randomisation off here: running that build under setarch -R"
        tsan_prefix=(setarch "$(uname -m)" -R)
        return 0
    fi
    echo "ThreadSanitizer programs cannot start on this machine:" >&2
    "$dir/probe" || true
    echo "(try: sysctl vm.mmap_rnd_bits=28)" >&2
    return 1
}

# build_and_test <name> <cmake options...>
# (Called as "build_and_test ... || ...", where set -e does not apply: every
# step checks its own status.) With BUILD_ONLY=true it stops after the build.
build_and_test() {
    local name=$1
    shift
    local dir=$out/$name
    local reports=$dir/sanitizer-reports
    local prefix=()
    [ "$name" != tsan ] || prefix=("${tsan_prefix[@]}")

    log "$name: configure"
    cmake -S "$root" -B "$dir" "$@" >"$dir.configure.log" 2>&1 || {
        cat "$dir.configure.log"
        return 1
    }
    # AddressSanitizer, LeakSanitizer and ThreadSanitizer reports go to files
    # (besides failing the process), so that a report from a process whose exit
    # status nobody checks is not lost. UndefinedBehaviorSanitizer reports stay
    # on standard error (its runtime ignores log_path in a combined build); they
    # fail the process, as it is built with -fno-sanitize-recover.
    rm -rf "$reports"
    mkdir -p "$reports"
    log "$name: build"
    "${prefix[@]}" cmake --build "$dir" -j "$jobs" || {
        echo "$name: build FAILED" >&2
        return 1
    }
    if [ "${BUILD_ONLY:-false}" = true ]; then
        log "$name: passed (build only)"
        return 0
    fi
    log "$name: test"
    local status=0
    "${prefix[@]}" ctest --test-dir "$dir" --output-on-failure -j "$jobs" --timeout 600 || status=$?
    if compgen -G "$reports/*" >/dev/null; then
        echo "sanitizer reports in $name:" >&2
        cat "$reports"/* >&2
        status=1
    fi
    [ $status -eq 0 ] || {
        echo "$name: FAILED" >&2
        return 1
    }
    log "$name: passed"
}

sanitizer_flags=(-DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1")
mkdir -p "$out"
start=$(date +%s)
failed=()
for name in "${builds[@]}"; do
    case $name in
    release)
        build_and_test release -DCMAKE_BUILD_TYPE=Release -DVIDODERAVEV_SANITIZE= || failed+=("$name")
        ;;
    asan)
        ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:log_path=$out/asan/sanitizer-reports/asan \
            UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
            build_and_test asan -DCMAKE_BUILD_TYPE=RelWithDebInfo "${sanitizer_flags[@]}" \
            -DVIDODERAVEV_SANITIZE=address,undefined -DVIDODERAVEV_BUILD_BENCH=OFF || failed+=("$name")
        ;;
    tsan)
        probe_tsan || {
            failed+=("$name")
            continue
        }
        TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=$root/tests/tsan.supp:log_path=$out/tsan/sanitizer-reports/tsan \
            build_and_test tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo "${sanitizer_flags[@]}" \
            -DVIDODERAVEV_SANITIZE=thread -DVIDODERAVEV_BUILD_BENCH=OFF || failed+=("$name")
        ;;
    clang)
        BUILD_ONLY=true build_and_test clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Release \
            -DVIDODERAVEV_SANITIZE= -DVIDODERAVEV_THREAD_SAFETY=ON -DVIDODERAVEV_BUILD_BENCH=OFF \
            -DVIDODERAVEV_BUILD_TESTS=OFF || failed+=("$name")
        ;;
    *)
        echo "unknown build '$name' (release, asan, tsan or clang)" >&2
        exit 2
        ;;
    esac
done
# Every build runs even when an earlier one failed, so that one run shows all
# that is wrong.
if [ ${#failed[@]} -gt 0 ]; then
    log "FAILED: ${failed[*]} ($(($(date +%s) - start)) s)"
    exit 1
fi
log "all builds passed in $(($(date +%s) - start)) s"

# --- Fuzzing ------------------------------------------------------------------
# The translator file reader is fuzzed for a fixed time after the tests (only
# in a full run). A crash, hang, leak or sanitizer report exits non-zero.
if $full; then
    fuzz=$out/fuzz
    log "fuzz: build"
    cmake -S "$root" -B "$fuzz" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DVIDODERAVEV_BUILD_FUZZ=ON -DVIDODERAVEV_BUILD_BENCH=OFF -DVIDODERAVEV_BUILD_TOOLS=OFF \
        -DVIDODERAVEV_BUILD_TESTS=ON >"$fuzz.configure.log" 2>&1 || {
        cat "$fuzz.configure.log"
        exit 1
    }
    cmake --build "$fuzz" --target translator_file_fuzz -j "$jobs"
    log "fuzz: 60 s on the translator file reader"
    mkdir -p "$fuzz/fuzz-corpus"
    "$fuzz/tests/fuzz/translator_file_fuzz" -max_total_time=${FUZZ_SECONDS:-60} -timeout=10 -rss_limit_mb=2048 \
        -artifact_prefix="$fuzz/" -dict="$root/tests/fuzz/translator_file.dict" \
        "$fuzz/fuzz-corpus" "$root/tests/fuzz/corpus" 2>"$fuzz.log" || {
        tail -n 60 "$fuzz.log" >&2
        log "fuzz: FAILED"
        exit 1
    }
    tail -n 2 "$fuzz.log"
    log "fuzz: passed"
fi
# --- End of fuzzing -----------------------------------------------------------
