#!/bin/sh
# A long run of the paste fuzzer (native, clang, libFuzzer with ASan and
# UBSan): one job, one core. Prints libFuzzer's final figures; a finding's
# input lands in the run's findings/ folder.
#   TW_NATIVE_BUILD_DIR   native build folder (default build/native)
#   TW_FUZZ_DIR           corpus, log and findings of the run (default
#                         build/fuzz-paste, or build/fuzz-paste-text)
#   TW_FUZZ_RUNS          executions (default 10000000)
#   TW_FUZZ_MAX_LEN       largest input in bytes (default 8192)
#   TW_FUZZ_TARGET        block (default: the paste of a clipboard block) or
#                         text (the part texts of a copy made with /TEXT)
set -eu
root=$(cd "$(dirname -- "$0")/.." && pwd)
native_dir=${TW_NATIVE_BUILD_DIR:-$root/build/native}
target=${TW_FUZZ_TARGET:-block}
suffix=""
[ "$target" = text ] && suffix=-text
fuzz_dir=${TW_FUZZ_DIR:-$root/build/fuzz-paste$suffix}
if [ ! -f "$native_dir/build.ninja" ]; then
    cmake -S "$root" -B "$native_dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
fi
if [ "$target" = text ]; then
    cmake --build "$native_dir" --target tw_text_fuzzer >/dev/null
    fuzzer=paste_text_fuzzer dict=text.dict
    set -- corpus "$root/tests/fuzz/text-corpus" "$root/tests/fuzz/text-regressions"
else
    cmake --build "$native_dir" --target tw_paste_fuzzer tw_paste_fuzzer_seeds >/dev/null
    fuzzer=paste_block_fuzzer dict=paste.dict
    set -- corpus "$native_dir/tests/fuzz/seeds" "$root/tests/fuzz/corpus"
    [ -d "$root/tests/fuzz/regressions" ] && set -- "$@" "$root/tests/fuzz/regressions"
fi

mkdir -p "$fuzz_dir/corpus" "$fuzz_dir/findings"
cd "$fuzz_dir"
status=0
"$native_dir/tests/fuzz/$fuzzer" -jobs=1 -workers=1 -runs="${TW_FUZZ_RUNS:-10000000}" \
    -max_len="${TW_FUZZ_MAX_LEN:-8192}" -timeout=10 -print_final_stats=1 \
    -dict="$root/tests/fuzz/$dict" -artifact_prefix=findings/ "$@" >run.out 2>&1 || status=$?
grep -E '^(Done|stat::)' fuzz-0.log || tail -n 20 fuzz-0.log
ls findings
exit $status
