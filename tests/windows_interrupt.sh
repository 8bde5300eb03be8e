#!/bin/sh
# Ctrl-C at random moments of a batch, under wine, which delivers SIGINT to
# a Windows program as Ctrl-C, twice in quick succession, as an impatient
# user presses it: every run ends within a time limit, leaves no temporary
# file, its listings complete in argument order and the rest not there,
# and a run that was cut short says so in its status
# (STATUS_CONTROL_C_EXIT, whose low byte, 58, is what wine's process ends
# with).
# Usage: tests/windows_interrupt.sh WINE PROGRAM PALETTE LISTING
set -eu
wine=$1 program=$2 palette=$3 listing=$4
files=400 rounds=20
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
i=0
while [ "$i" -lt "$files" ]; do
  cp "$palette" "p$(printf %04d "$i").pal"
  i=$((i + 1))
done
fail() {
  echo "round $round: $*"
  exit 1
}
now_ms() { echo $(($(date +%s%N) / 1000000)); }

# How long a whole batch takes here: the moments are drawn from it.
start=$(now_ms)
"$wine" "$program" p*.pal
batch_ms=$(($(now_ms) - start))

interrupted=0
round=1
while [ "$round" -le "$rounds" ]; do
  rm -f ./*.pal.c
  "$wine" "$program" p*.pal >/dev/null 2>&1 &
  pid=$!
  # Under way: wine ends a process interrupted during its own start-up,
  # before huemill runs, with status 0 (its default handler's).
  until [ -e p0000.pal.c ] || ! kill -0 "$pid" 2>/dev/null; do
    sleep 0.01
  done
  delay_ms=$(($(od -An -N2 -tu2 /dev/urandom) % (batch_ms * 2 / 3 + 1)))
  sleep "$(printf '%d.%03d' $((delay_ms / 1000)) $((delay_ms % 1000)))"
  kill -INT "$pid" 2>/dev/null || true
  sleep "0.00$(($(od -An -N1 -tu1 /dev/urandom) % 10))"
  kill -INT "$pid" 2>/dev/null || true
  # A run ends well within 20 seconds, or it hangs.
  waited=0
  while kill -0 "$pid" 2>/dev/null && [ "$waited" -lt 400 ]; do
    sleep 0.05
    waited=$((waited + 1))
  done
  if kill -0 "$pid" 2>/dev/null; then
    kill -KILL "$pid" 2>/dev/null || true
    fail "still running 20 seconds after Ctrl-C"
  fi
  status=0
  wait "$pid" || status=$?

  leftover=$(ls | grep -F .huemill- || true)
  [ -z "$leftover" ] || fail "left $leftover"
  complete=0 gap=no
  for input in p*.pal; do
    if cmp -s "$input.c" "$listing"; then
      [ "$gap" = no ] || fail "$input.c is complete after a listing that is not"
      complete=$((complete + 1))
    elif [ -e "$input.c" ]; then
      fail "$input.c is not a complete listing"
    else
      gap=yes
    fi
  done
  if [ "$complete" -lt "$files" ]; then
    [ "$status" -eq 58 ] || fail "cut short after $complete listings, with status $status"
    interrupted=$((interrupted + 1))
  else
    [ "$status" -eq 0 ] || [ "$status" -eq 58 ] || fail "complete, with status $status"
  fi
  round=$((round + 1))
done
echo "$interrupted of $rounds runs cut short by Ctrl-C, none leaving a temporary file"
[ "$interrupted" -ge $((rounds / 4)) ] || fail "too few runs were cut short to tell"
