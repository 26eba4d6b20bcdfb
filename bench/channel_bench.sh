#!/bin/bash
# The instance message channel between two packed instances in "custom"
# mode: round-trip time of a small object, time to carry a 1 MiB byte array
# against the channel's design limit (one 1024-byte chunk per 10 ms polling
# cycle of the target, 1025 chunks for 1 MiB and its serialisation header),
# and the cost of an idle instance's receive thread over 10 s next to the
# same application without the channel.
#   bench/channel_bench.sh BUILD_DIR [ROUND_TRIPS] [TRANSFERS]
set -euo pipefail
build=${1:?usage: channel_bench.sh BUILD_DIR [ROUND_TRIPS] [TRANSFERS]}
trips=${2:-40}
transfers=${3:-3}
build=$(cd "$build" && pwd)
here=$(cd "$(dirname "$0")" && pwd)

# The instances' segment lives in a private IPC namespace.
if [[ -z ${TVX_CHANNEL_BENCH_INNER:-} ]]; then
  exec unshare --ipc env TVX_CHANNEL_BENCH_INNER=1 bash "$0" "$@"
fi

work=$(mktemp -d)
pids=()
trap 'for p in "${pids[@]}"; do kill -9 "$p" 2>/dev/null || true; done; rm -rf "$work"' EXIT
cat > "$work/Bench.java" <<'JAVA'
import com.brindell.tvx.Instances;
import java.util.concurrent.BlockingQueue;
import java.util.concurrent.LinkedBlockingQueue;

public class Bench {
    public static void main(String[] a) throws Exception {
        if (a[0].equals("echo")) {
            // Answers a small object with itself and a large one with "ack".
            Instances.setReceiver((sender, o) -> Instances.sendObject(sender,
                    o instanceof byte[] && ((byte[]) o).length > 1000 ? "ack" : o));
            Thread.sleep(Long.MAX_VALUE);
        } else if (a[0].equals("idle")) {
            Thread.sleep(Long.MAX_VALUE);
        } else {
            BlockingQueue<Object> q = new LinkedBlockingQueue<>();
            Instances.setReceiver((sender, o) -> q.add(o));
            int echo = Instances.getFirstInstance();
            for (int i = 0; i < Integer.parseInt(a[1]); i++) {
                long t0 = System.nanoTime();
                Instances.sendObject(echo, "ping");
                q.take();
                System.out.println("rtt " + (System.nanoTime() - t0) / 1e6);
            }
            for (int i = 0; i < Integer.parseInt(a[2]); i++) {
                byte[] big = new byte[1 << 20];
                long t0 = System.nanoTime();
                Instances.sendObject(echo, big);
                q.take();
                System.out.println("mib " + (System.nanoTime() - t0) / 1e6);
            }
        }
    }
}
JAVA
javac --release 8 -nowarn -Xlint:-options -cp "$build/lib/tvx-helpers.jar" -d "$work/classes" "$work/Bench.java"
jar cfe "$work/bench.jar" Bench -C "$work/classes" .
"$build/bin/tvx-pack" --no-startup-cache --main Bench --set "singleinstance custom" -o "$work/app" "$work/bench.jar"
"$build/bin/tvx-pack" --no-startup-cache --main Bench -o "$work/plain" "$work/bench.jar"

# CPU ticks (user + system) of a process, or of its task named $2.
ticks() {
  local stat=/proc/$1/stat t
  if [[ -n ${2:-} ]]; then
    for t in /proc/$1/task/*; do if [[ $(cat "$t/comm") == "$2" ]]; then stat=$t/stat; fi; done
  fi
  sed 's/.*) //' "$stat" | awk '{ print $12 + $13 }'
}
# Voluntary context switches (wake-ups after a pause) of the receive thread.
switches() {
  local t
  for t in /proc/$1/task/*; do
    if [[ $(cat "$t/comm") == tvx-channel ]]; then awk '/^voluntary_ctxt_switches/ { print $2 }' "$t/status"; fi
  done
}
hz=$(getconf CLK_TCK)

"$work/app" -test echo > "$work/echo.out" 2>&1 & pids+=($!); echo_pid=$!
sleep 3
"$work/app" -test client "$trips" "$transfers" > "$work/client.out" 2>&1
kill -9 "$echo_pid"

. "$here/stats.sh"
spread() { sort -g | awk 'NR == 1 { lo = $1 } { hi = $1 } END { printf "%.1f..%.1f", lo, hi }'; }
rtt=$(awk '$1 == "rtt" { print $2 }' "$work/client.out" | median)
rtts=$(awk '$1 == "rtt" { print $2 }' "$work/client.out" | spread)
mib=$(awk '$1 == "mib" { print $2 }' "$work/client.out" | median)
mibs=$(awk '$1 == "mib" { print $2 }' "$work/client.out" | spread)
[[ -n $rtt && -n $mib ]] || { echo "the instances did not exchange messages" >&2; cat "$work"/*.out >&2; exit 1; }
# What a 10 ms pause really lasts on this machine now (longer when it is busy).
pause=$(perl -MTime::HiRes=usleep,time -e '$t = time; usleep(10000) for 1 .. 200; printf "%.3f", (time - $t) * 5')
awk -v rtt="$rtt" -v rtts="$rtts" -v mib="$mib" -v mibs="$mibs" -v n="$trips" -v m="$transfers" -v pause="$pause" 'BEGIN {
  limit = 1025 * 10                      # ms for 1025 chunks at one per 10 ms
  measured = 1025 * pause                # the same at the pause measured now
  transfer = mib - rtt / 2               # less the small answer coming back
  printf "small object round trip (%d)      median %7.1f ms  (%s)\n", n, rtt, rtts
  printf "1 MiB byte array, send to answer (%d) median %7.0f ms  (%s)\n", m, mib, mibs
  printf "1 MiB throughput                  %7.1f KiB/s  design limit %7.1f KiB/s  ratio %.3f\n",
         1024 * 1000 / transfer, 1024 * 1000 / limit, limit / transfer
  printf "1 MiB throughput at the measured 10 ms pause (%.2f ms): limit %7.1f KiB/s  ratio %.3f\n",
         pause, 1024 * 1000 / measured, measured / transfer }'

# Idle: an instance with the channel's receive thread next to one without.
"$work/app" -test idle > /dev/null 2>&1 & pids+=($!); idle=$!
"$work/plain" -test idle > /dev/null 2>&1 & pids+=($!); plain=$!
sleep 5
c0=$(ticks "$idle"); p0=$(ticks "$plain"); r0=$(ticks "$idle" tvx-channel); w0=$(switches "$idle")
sleep 10
c1=$(ticks "$idle"); p1=$(ticks "$plain"); r1=$(ticks "$idle" tvx-channel); w1=$(switches "$idle")
awk -v c=$((c1 - c0)) -v p=$((p1 - p0)) -v r=$((r1 - r0)) -v w=$((w1 - w0)) -v hz="$hz" 'BEGIN {
  printf "idle 10 s, CPU of the whole process  custom %5.0f ms  plain %5.0f ms  ratio %s\n",
         c * 1000 / hz, p * 1000 / hz, p ? sprintf("%.2f", c / p) : "n/a"
  printf "idle 10 s, receive thread            %5.0f ms CPU, %d wake-ups (one per 100 ms: 100)\n", r * 1000 / hz, w }'
