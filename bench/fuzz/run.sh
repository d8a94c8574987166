#!/bin/bash
# Fuzzing: builds the libFuzzer targets of fuzz/ with clang (address and undefined-behaviour sanitizers,
# leak check on), seeds each from the project's own test data and runs each for MINUTES minutes, JOBS at a
# time. Prints per target the executions, the corpus size and the findings (crash, leak, timeout files).
#   bash bench/fuzz/run.sh MINUTES [JOBS] [target ...]      (default JOBS 1, all targets)
set -u
MINUTES=${1:?usage: $0 MINUTES [JOBS] [target ...]}
JOBS=${2:-1}
shift $(($# < 2 ? $# : 2))
HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(cd "$HERE/../.." && pwd)
BUILD=$ROOT/build-fuzz
TARGETS=("${@:-fuzz_framing fuzz_relay fuzz_ini fuzz_logline fuzz_keyname}")
TARGETS=(${TARGETS[*]})

need=()
command -v clang++ >/dev/null || need+=(clang)
ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1 || need+=(libclang-rt-dev)
command -v cmake >/dev/null || need+=(cmake)
command -v ninja >/dev/null || need+=(ninja-build)
if [ ${#need[@]} -gt 0 ]; then
    sudo=; [ "$(id -u)" = 0 ] || sudo=sudo
    $sudo apt-get -o DPkg::Lock::Timeout=600 install -y --no-install-recommends "${need[@]}" || exit 1
fi

mkdir -p "$BUILD"
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DTAVINOR_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >"$BUILD/configure.log" 2>&1 || { cat "$BUILD/configure.log"; exit 1; }
nice cmake --build "$BUILD" -j2 --target ${TARGETS[*]} || exit 1

# Seeds: protocol lines as the tests use them, the settings files of the golden vectors, log lines.
seed() { # seed TARGET NAME BYTES (printf format)
    mkdir -p "$BUILD/corpus/$1"
    printf -- "$3" >"$BUILD/corpus/$1/$2"
}
n=0
for l in '001: |Empfang|1|0' '003: 10.0.0.7' '004: ' '005: 10.0.0.4|001: |Empfang|1|0|10.0.0.4' '009: x' \
    '006: ' '008:x' '011: 10.0.0.4|' '123: ' '002: 10.0.0.1:10161-10.0.0.4:40000'; do
    n=$((n + 1))
    seed fuzz_framing $n "\x07$l\r\n$l\r"
    seed fuzz_relay $n "$l\00010.0.0.4\000\x05\x01\x40\x01\x02\x81\x7f\x01"
done
seed fuzz_framing long "\x01$(head -c 5000 /dev/zero | tr '\0' x)\r\n004: \r\n"
python3 - "$ROOT/../shared/testdata/ini/vectors.json" "$BUILD/corpus/fuzz_ini" <<'PY'
import base64, json, os, sys
out = sys.argv[2]
os.makedirs(out, exist_ok=True)
try:
    cases = json.load(open(sys.argv[1], encoding="utf-8"))["cases"]
except OSError:
    cases = []
for i, c in enumerate(cases):
    f = c.get("initial_file") or {}
    body = base64.b64decode(f["b64"]) if f.get("b64") else b""
    open(os.path.join(out, "v%03d" % i), "wb").write(b"\x80General\0Stationname\0Empfang\0" + body)
PY
seed fuzz_ini plain "\x80General\000Server\0001\000[General]\r\nServer=0\r\nStationname=Empfang\r\n"
seed fuzz_logline one "\x05""06.12.2026;22:10:00;10.0.0.4 (Empfang);004:ALARM von Client ausgel\xf6st\r\n;;;\r\nx;y\r\n"
seed fuzz_keyname f12 "123\000\xc9\xff\x00\x00\x31\x00\x00\x00"
seed fuzz_keyname neg "-1\000\x08\xff\x00\x00"

run_one() {
    local t=$1 dir=$BUILD/findings/$1
    mkdir -p "$dir" "$BUILD/corpus/$t"
    nice "$BUILD/bin/$t" "$BUILD/corpus/$t" -max_total_time=$((MINUTES * 60)) -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$dir/" >"$BUILD/$t.log" 2>&1
    local rc=$? execs found
    execs=$(awk '/stat::number_of_executed_units/ {print $2}' "$BUILD/$t.log")
    found=$(find "$dir" -type f | wc -l)
    echo "$t: executions=${execs:-?} corpus=$(ls "$BUILD/corpus/$t" | wc -l) findings=$found exit=$rc" \
        "sanitizer_reports=$(grep -c 'ERROR: \(Address\|Leak\)Sanitizer\|runtime error:' "$BUILD/$t.log")"
}
running=0
for t in ${TARGETS[*]}; do
    run_one "$t" &
    running=$((running + 1))
    if [ "$running" -ge "$JOBS" ]; then
        wait -n
        running=$((running - 1))
    fi
done
wait
