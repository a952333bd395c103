#!/usr/bin/env bash
# The clock helper alone, always without CAP_SYS_TIME so that it can set nothing: every
# argument that is not one offset in bounds is refused (status 2) before the clock is
# touched, and a good one reaches the system and is refused for want of the right
# (status 3). Exit 77 skips when the right cannot be given up here.
# Usage: helper_test.sh TIKTAAL-SET-CLOCK
set -uo pipefail
helper=$1
cap_sys_time=$((1 << 25))

if [ "$(id -u)" -eq 0 ]; then
  command -v setpriv >/dev/null || { echo "SKIP: no setpriv to drop CAP_SYS_TIME"; exit 77; }
  without_right=(setpriv --inh-caps=-all --ambient-caps=-all --bounding-set=-sys_time --)
else
  without_right=()
fi
effective=$("${without_right[@]}" awk '/^CapEff:/ { print $2 }' /proc/self/status)
if (((0x$effective & cap_sys_time) != 0)); then
  echo "SKIP: cannot run without CAP_SYS_TIME"
  exit 77
fi

failures=0
# expect STATUS ARGS...: the helper, without the right, ends with STATUS.
expect() {
  local want=$1
  shift
  "${without_right[@]}" "$helper" "$@" 2>/dev/null
  local got=$?
  if [ "$got" -ne "$want" ]; then
    echo "FAIL: tiktaal-set-clock $* ended with $got, not $want"
    failures=$((failures + 1))
  fi
}

expect 2                                   # no argument
expect 2 0 0                               # more than one
for bad in "" abc inf -inf nan NaN 1e3 0x10 " 1" "1 " 1. .5 +-1 "1,5" \
           99999999999 3155760001 -0.0000000001 -1000000000 5000000000; do
  expect 2 "$bad"                          # not a number, not finite, beyond bounds
done
for good in 0 -0.5 +3600.25 0.000000001; do
  expect 3 "$good"                         # well formed: the system refuses, no right
done
# A huge environment is cleared, not read: the same answers.
big=$(head -c 120000 /dev/zero | tr '\0' x)
BIG=$big LD_PRELOAD=/nonexistent.so expect 2 abc
BIG=$big LD_PRELOAD=/nonexistent.so expect 3 0

[ "$failures" -eq 0 ] || exit 1
echo "PASS: the helper refused every bad argument and set nothing"
