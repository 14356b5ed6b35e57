#!/usr/bin/env bash
# By hand, not in CI: logs the cluster programs tlf and xdx (Debian packages tlf, xdx, and
# tmux, xvfb, xdotool, imagemagick to drive and see them) into kestrix-skim's telnet port on
# 127.0.0.1, with a long own call, and leaves what each showed in $out:
#   tlf_cluster.txt   tlf's cluster window (every spot line it received)
#   tlf_bandmap.txt   tlf's band map (call and frequency it parsed from the lines)
#   xdx.png           xdx's window after "sh/dx 5", "set/nobeacon" and an unknown command
#   spots.txt         what the skimmer spotted
# Usage: tools/skim_logger_check.sh [BUILD_DIR]   (BUILD_DIR defaults to build/)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
out="$(mktemp -d /tmp/skim-loggers.XXXXXX)"
port=7391
display=:77
cd "$out"

"$build/kestrix-bandscene" --iq --rate 48000 --center-khz 14040 --duration 200 --runners 12 \
  --format sigmf --out band --truth band.csv --seed 31 >/dev/null
# The scene's samples at twice real time, as a receiver would deliver them.
cat >pace.py <<'EOF'
import sys, time
path, rate, speed = sys.argv[1], float(sys.argv[2]), float(sys.argv[3])
chunk, sent, t0 = int(rate / 20) * 8, 0, time.monotonic()
with open(path, "rb") as f:
    while (b := f.read(chunk)):
        sys.stdout.buffer.write(b)
        sys.stdout.buffer.flush()
        sent += len(b) // 8
        time.sleep(max(0.0, t0 + sent / rate / speed - time.monotonic()))
EOF
python3 pace.py band.sigmf-data 48000 2 2>/dev/null |
  "$build/kestrix-skim" --iq - --rate 48000 --center-khz 14040 --call KX1TST/P \
    --telnet "$port" --quiet >spots.txt 2>skim.log &
skim=$!
sleep 1

cat >logcfg.dat <<EOF
CALL=W9XG
CONTEST=qso
CLUSTER
BANDMAP
CLUSTER_LOG
TELNETHOST=127.0.0.1
TELNETPORT=$port
CLUSTERLOGIN=W9XG
EOF
tmux new-session -d -s kestrix-tlf -x 132 -y 50 "cd $out && TERM=xterm tlf"
sleep 5
tmux send-keys -t kestrix-tlf Enter  # past the start screen

Xvfb "$display" -screen 0 1280x800x24 >/dev/null 2>&1 &
xvfb=$!
sleep 1
HOME="$out" DISPLAY="$display" xdx >/dev/null 2>&1 &
xdx=$!
sleep 3
export DISPLAY="$display"
# Host > Connect, the dialog's fields and OK, then the command line (xdx 2.91's layout in
# a 1280x800 screen).
xdotool mousemove 104 42 click 1
sleep 1
xdotool mousemove 144 67 click 1
sleep 1
xdotool mousemove 428 283 click 1 type --delay 20 "127.0.0.1"
xdotool mousemove 428 325 click 1 type --delay 20 "$port"
xdotool mousemove 510 365 click 1
sleep 2
xdotool mousemove 380 557 click 1 type --delay 20 "W9XG"
xdotool key Return

sleep 60  # spots come in
for line in "sh/dx 5" "set/nobeacon" "hello there"; do
  xdotool type --delay 20 "$line"
  xdotool key Return
  sleep 1
done
sleep 2
import -window root xdx.png
tmux capture-pane -t kestrix-tlf -p | grep -E '^ ?[0-9]+\.[0-9]' >tlf_bandmap.txt || true
tmux send-keys -t kestrix-tlf ":clu" Enter
sleep 2
tmux capture-pane -t kestrix-tlf -p >tlf_cluster.txt

kill "$xdx" "$xvfb" "$skim" 2>/dev/null || true
tmux kill-session -t kestrix-tlf
echo "spots: $(wc -l <spots.txt); tlf got $(grep -c '^DX de' clusterlog || true) spot lines," \
  "shows $(wc -l <tlf_bandmap.txt) in its band map; see $out"
