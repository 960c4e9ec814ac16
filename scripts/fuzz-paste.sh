#!/bin/sh
# A long run of the paste fuzzer (native, clang, libFuzzer with ASan and
# UBSan): one job, one core. Prints libFuzzer's final figures; a finding's
# input lands in the run's findings/ folder.
#   TW_NATIVE_BUILD_DIR   native build folder (default build/native)
#   TW_FUZZ_DIR           corpus, log and findings of the run (default build/fuzz-paste)
#   TW_FUZZ_RUNS          executions (default 10000000)
#   TW_FUZZ_MAX_LEN       largest input in bytes (default 8192)
set -eu
root=$(cd "$(dirname -- "$0")/.." && pwd)
native_dir=${TW_NATIVE_BUILD_DIR:-$root/build/native}
fuzz_dir=${TW_FUZZ_DIR:-$root/build/fuzz-paste}
if [ ! -f "$native_dir/build.ninja" ]; then
    cmake -S "$root" -B "$native_dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
fi
cmake --build "$native_dir" --target tw_paste_fuzzer tw_paste_fuzzer_seeds >/dev/null

mkdir -p "$fuzz_dir/corpus" "$fuzz_dir/findings"
cd "$fuzz_dir"
set -- corpus "$native_dir/tests/fuzz/seeds" "$root/tests/fuzz/corpus"
[ -d "$root/tests/fuzz/regressions" ] && set -- "$@" "$root/tests/fuzz/regressions"
status=0
"$native_dir/tests/fuzz/paste_block_fuzzer" -jobs=1 -workers=1 -runs="${TW_FUZZ_RUNS:-10000000}" \
    -max_len="${TW_FUZZ_MAX_LEN:-8192}" -timeout=10 -print_final_stats=1 \
    -dict="$root/tests/fuzz/paste.dict" -artifact_prefix=findings/ "$@" >run.out 2>&1 || status=$?
grep -E '^(Done|stat::)' fuzz-0.log || tail -n 20 fuzz-0.log
ls findings
exit $status
