#!/bin/sh
# Keying accuracy of kestrix-send on faked serial and parallel lines.
#
# Needs the keyshim measuring library (an LD_PRELOAD shim that fakes /dev/ttyKEY0 and
# /dev/parportKEY0 and logs every line edge) and its analyzer:
#   KEYSHIM=/tmp/keyshim bench/keying_accuracy.sh [build-dir]
# Prints the analyzer's report per line kind and speed, the same at 40 wpm with every line
# call taking 1 ms, the open() key hold and a run in which the device vanishes after 20
# edges.
set -u
KEYSHIM=${KEYSHIM:-/tmp/keyshim}
BUILD=${1:-build}
SEND=$(realpath "$BUILD/kestrix-send")
SHIM=$KEYSHIM/libkeyshim.so
ANALYZE="python3 $KEYSHIM/keyanalyze.py"
TEXT=${TEXT:-"PARIS PARIS CQ TEST DE KESTRIX 0123456789"}
LOGDIR=${LOGDIR:-/dev/shm/kestrix-keying}
mkdir -p "$LOGDIR"

for line in serial parallel; do
  if [ "$line" = serial ]; then dev=/dev/ttyKEY0; else dev=/dev/parportKEY0; fi
  for wpm in 20 40 100; do
    log=$LOGDIR/$line-$wpm.log
    rm -f "$log"
    LD_PRELOAD=$SHIM KEYSHIM_LOG=$log "$SEND" --$line $dev --wpm $wpm "$TEXT"
    echo "=== $line $wpm wpm (exit $?)"
    $ANALYZE "$log" --wpm $wpm --text "$TEXT" --word-gap-after-char
  done
done

# A USB adapter's control transfer: every line call takes 1 ms. The keyer schedules the
# edges at their due times, so the elements must come out as long as on an instant line;
# --verbose prints the per-call time the keyer saw.
for line in serial parallel; do
  if [ "$line" = serial ]; then dev=/dev/ttyKEY0; else dev=/dev/parportKEY0; fi
  log=$LOGDIR/$line-40-latency.log
  rm -f "$log"
  LD_PRELOAD=$SHIM KEYSHIM_LOG=$log KEYSHIM_LATENCY_US=1000 "$SEND" --$line $dev --wpm 40 --verbose \
    "$TEXT" 2>&1 | grep "line calls"
  echo "=== $line 40 wpm, 1 ms per line call"
  $ANALYZE "$log" --wpm 40 --text "$TEXT" --word-gap-after-char
done

echo "=== vanish after 20 edges (serial)"
log=$LOGDIR/vanish.log
rm -f "$log"
LD_PRELOAD=$SHIM KEYSHIM_LOG=$log KEYSHIM_VANISH_AFTER=20 "$SEND" --serial /dev/ttyKEY0 --wpm 40 "$TEXT"
echo "exit status $?"
$ANALYZE "$log" --wpm 40 --word-gap-after-char
