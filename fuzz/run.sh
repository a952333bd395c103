#!/usr/bin/env bash
# Builds every fuzz target into fuzz/out/ and runs each for SECONDS seconds on
# a copy of its seed corpus. Prints executions and corpus size per target;
# exits non-zero on any finding (crash, sanitizer report, leak, time-out).
# FUZZ_JOBS (default 2) targets run at a time.
set -euo pipefail

seconds=${1:-30}
jobs=${FUZZ_JOBS:-2}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
out=$here/out
cxx=${FUZZ_CXX:-clang++}
targets=(tsms concat record scts textcodecs settings scriptanswer sntpreply serialreply dispatch
         httpframing instance modemreplies nts clockoffset)
# The SMS codecs, the report dispatch and the modem-reply readers; the component and its
# thread need the toolkit.
sources=("$root"/src/gsm/codecs/*.cpp "$root"/src/gsm/modemdispatch*.cpp
         "$root/src/gsm/modemreplies.cpp" "$root/src/gsm/smspartline.cpp" "$root"/src/serial/serialdevice*.cpp
         "$root"/src/serial/linux/*.cpp "$root/src/serial/lineframe.cpp" "$root/src/toolkit/datetime.cpp" "$root/src/toolkit/linux/now.cpp" "$root/src/toolkit/stringlist.cpp"
         "$root/src/platform/linux/registry.cpp" "$root/src/platform/linux/save_file.cpp"
         "$root/src/platform/linux/instance_channel.cpp"
         "$root/src/platform/instance_messages.cpp"
         "$root/src/net/netutil.cpp"
         "$root/src/net/sockapi.cpp" "$root/src/net/ipaddr.cpp" "$root/src/net/resolver.cpp" "$root"/src/net/netsocket*.cpp
         "$root"/src/net/linux/*.cpp "$root/src/tiktaal-set-clock/clock_offset.cpp"
         "$root/src/timesync/sntpclient.cpp" "$root/src/timesync/httpclient.cpp" "$root/src/timesync/datetime_parser.cpp"
         "$root/src/timesync/script_answer.cpp" "$root/src/timesync/nts_records.cpp"
         "$root/src/timesync/nts_fields.cpp" "$root"/src/net/tls/linux/*.cpp)
common=(-std=c++20 -g -O1 -fno-omit-frame-pointer -fno-sanitize-recover=all -I"$root/src"
        -I"$root/src/net/linux")

rm -rf "$out/obj" "$out/corpus" "$out/artifacts" "$out/logs"
mkdir -p "$out/obj" "$out/corpus" "$out/artifacts" "$out/logs"

# The library objects once, instrumented for coverage but without libFuzzer's main.
printf '%s\n' "${sources[@]}" | xargs -P "$jobs" -I{} sh -c \
  'f="$1"; shift; o="$0/$(basename "$(dirname "$f")")_$(basename "$f" .cpp).o"; exec "$@" -c "$f" -o "$o"' \
  "$out/obj" {} "$cxx" "${common[@]}" -fsanitize=fuzzer-no-link,address,undefined
# An archive, so that each target links only the objects it uses.
rm -f "$out/libtiktaal.a"
ar rcs "$out/libtiktaal.a" "$out"/obj/*.o
printf '%s\n' "${targets[@]}" | xargs -P "$jobs" -I{} "$cxx" "${common[@]}" \
  -fsanitize=fuzzer,address,undefined "$here/fuzz_{}.cpp" "$out/libtiktaal.a" -o "$out/fuzz_{}" \
  -lssl -lcrypto

run_one() {
  local t=$1 corpus=$out/corpus/$1
  cp -r "$here/corpus/$t" "$corpus"
  "$out/fuzz_$t" "$corpus" -max_total_time="$seconds" -max_len=2048 -timeout=10 \
    -print_final_stats=1 -artifact_prefix="$out/artifacts/$t-" >"$out/logs/$t.log" 2>&1
}
export -f run_one
export out seconds here

status=0
printf '%s\n' "${targets[@]}" | xargs -P "$jobs" -I{} bash -c 'run_one "$1"' _ {} || status=1

for t in "${targets[@]}"; do
  log=$out/logs/$t.log
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  files=$(find "$out/corpus/$t" -type f | wc -l)
  printf '%-12s executions %-10s corpus %s files\n' "$t" "${execs:-?}" "$files"
  if grep -qE 'ERROR: (AddressSanitizer|libFuzzer|LeakSanitizer)|runtime error:|deadly signal|Timeout' "$log"; then
    echo "finding in $t:"; tail -40 "$log"; status=1
  fi
done
ls "$out/artifacts" | grep -q . && { echo "artifacts:"; ls "$out/artifacts"; status=1; }
exit $status
