#!/usr/bin/env bash
# The engine's loads, ours beside nginx in one run: one connection's small answer (1 and 32
# clients), 4 MiB ranges (1 and 64 clients), 16 streams each read at 4 MB/s as TVs play films (for
# twice as long: the processor time per MB is small), one client beside 1,000 idle connections, and
# what each server costs while nobody asks it anything (wake-ups, processor). Each load runs on both
# servers in turn, BENCH_ROUNDS rounds (3), alternating which goes first; the table gives the median
# of the rounds with their spread (lowest-highest), and the ratio of the medians. The small answers
# are fetched by bench/smallload.c, a C client that costs a small part of what a server does per
# answer; the first rows check that: nginx measured by the C++ loadgen and by the C client (nginx's
# figure must rise with the faster client, or the client is what is measured). Beside the rates,
# each load gives the processor time per request of each server (from the kernel's counters of its
# processes, all threads) and of the load client (its own): where the client costs as much as the
# server, the client is the limit. Writes build/bench-engine.md and prints it.
# Usage, in a network namespace of its own (port 8027 free, nothing else on loopback):
#   unshare -n sh -c 'ip link set lo up && bash bench/engine.sh'    (about 7 minutes)
# With BENCH_APART=1, only the 4 MiB ranges and the paced streams, with the servers and the load
# client apart (see apart_setup in bench/servers.sh), beside the time of each side's core;
# writes build/bench-engine-apart.md:
#   unshare -nm sh -c 'BENCH_APART=1 bash bench/engine.sh'          (about 3 minutes)
# BENCH_CC=cubic (or another name) runs the servers' sends under that TCP congestion control
# instead of the machine's default; the table's head names the one used.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
out=$root/build/bench
apart=${BENCH_APART:-}
results=$root/build/bench-engine${apart:+-apart}.md
mkdir -p "$out"
SECONDS_PER_LOAD=${BENCH_SECONDS:-5}
ROUNDS=${BENCH_ROUNDS:-3}
IDLE=1000

source bench/servers.sh
need nginx "apt-get install nginx-light"
need g++ "apt-get install g++"
need gcc "apt-get install gcc"
load_at_start=$(cut -d' ' -f1-3 /proc/loadavg)
congestion_control=$(use_congestion_control "${BENCH_CC:-}")

echo "bench: building (Release)" >&2
cmake -S . -B "$out/build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTOVI_BUILD_TESTS=OFF >/dev/null
cmake --build "$out/build" --target remote-toviplayer >/dev/null
g++ -std=c++20 -O2 -pthread bench/loadgen.cpp -o "$out/loadgen"
gcc -std=c11 -O2 -pthread bench/smallload.c -o "$out/smallload"
loadgen=$out/loadgen
smallload=$out/smallload

bench_work engine
client=()  # the prefix the load client runs under
if [[ -n $apart ]]; then
  apart_setup
  client=("${on_client_core[@]}")
fi

data=$work/data
mkdir -p "$data"
head -c $((512 << 20)) /dev/urandom >"$data/film.bin"
size=$(stat -c %s "$data/film.bin")
printf '<html><h1>ToviPlayer DLNA Work!</h1></html>' >"$data/small.html"   # 43 bytes
sync

nport=8080
start_nginx "$nport" "$data"

start_ours

port() { if [[ $1 == ours ]]; then echo $oport; else echo $nport; fi; }
file() { if [[ $1 == ours ]]; then echo "$data/film.bin"; else echo /film.bin; fi; }
page() { if [[ $1 == ours ]]; then echo /test; else echo /small.html; fi; }
field() { sed -n "s/.*\b$1=\([^ ]*\).*/\1/p" <<<"$2"; }
samples=$work/samples   # lines: side key measure value
: >"$samples"
ticks=$(getconf CLK_TCK)
# The processes of a server: ours is one; nginx is its master and workers.
server_pids() { if [[ $1 == ours ]]; then echo "$opid"; else echo "$npid" $(pgrep -P "$npid"); fi; }
# Processor time a server's processes have used so far, in microseconds: user and system time of
# all their threads, ended ones included (fields 14 and 15 of /proc/PID/stat, after the name).
server_cpu_us() {  # side
  local p t=0
  for p in $(server_pids "$1"); do
    t=$((t + $(sed 's/.*) //' "/proc/$p/stat" | awk '{ print $12 + $13 }')))
  done
  echo $((t * 1000000 / ticks))
}
# Waits a server's threads have ended so far, each a wake-up: their voluntary context switches.
server_wakes() {  # side
  local p t=0 f
  for p in $(server_pids "$1"); do
    for f in /proc/$p/task/*/status; do
      t=$((t + $(awk '/^voluntary_ctxt_switches/ { print $2 }' "$f" 2>/dev/null || echo 0)))
    done
  done
  echo $t
}
per_request() { awk -v u="$1" -v n="$2" 'BEGIN { if (n + 0 > 0 && u != "") printf "%.1f", u / n }'; }
record() {  # side key result-line server-cpu-us [server-core-us client-core-us]
  local f requests client_cpu
  for f in rps mbps p50_ms p99_ms head_p50_ms head_p99_ms failures; do
    echo "$1 $2 $f $(field $f "$3")" >>"$samples"
  done
  requests=$(field requests "$3")
  client_cpu=$(field cpu_us "$3")
  echo "$1 $2 server_us $(per_request "$4" "$requests")" >>"$samples"
  echo "$1 $2 client_us $(per_request "$client_cpu" "$requests")" >>"$samples"
  if [[ -n $client_cpu ]]; then
    echo "$1 $2 both_us $(per_request $(($4 + client_cpu)) "$requests")" >>"$samples"
  fi
  local mb
  mb=$(field mb "$3")
  [[ -z $mb ]] || echo "$1 $2 server_us_mb $(per_request "$4" "$mb")" >>"$samples"
  if [[ -n $apart ]]; then
    echo "$1 $2 server_core_us $(per_request "$5" "$requests")" >>"$samples"
    echo "$1 $2 client_core_us $(per_request "$6" "$requests")" >>"$samples"
  fi
}
# Busy time of one core so far, in microseconds: user, nice, system, irq and softirq.
core_busy_us() {  # core
  awk -v c="cpu$1" -v t="$ticks" '$1 == c { printf "%.0f", ($2 + $3 + $4 + $7 + $8) * 1000000 / t }' /proc/stat
}
measure() {  # side key command...
  local side=$1 key=$2 r before cores=()
  shift 2
  echo "bench: $side $key" >&2
  before=$(server_cpu_us "$side")
  [[ -z $apart ]] || cores=($(core_busy_us 0) $(core_busy_us 1))
  r=$("$@" || true)
  [[ -z $apart ]] || cores=($(($(core_busy_us 0) - cores[0])) $(($(core_busy_us 1) - cores[1])))
  record "$side" "$key" "$r" $(($(server_cpu_us "$side") - before)) "${cores[@]}"
}
loads() {  # side
  local s=$1
  if [[ -z $apart ]]; then  # the C client knows only loopback
    measure "$s" small1 "$smallload" "$(port $s)" "$(page $s)" 1 "$SECONDS_PER_LOAD"
    measure "$s" small32 "$smallload" "$(port $s)" "$(page $s)" 32 "$SECONDS_PER_LOAD"
  fi
  measure "$s" ranges1 "${client[@]}" "$loadgen" ranges "$(port $s)" "$(file $s)" "$size" 1 "$SECONDS_PER_LOAD"
  measure "$s" ranges64 "${client[@]}" "$loadgen" ranges "$(port $s)" "$(file $s)" "$size" 64 "$SECONDS_PER_LOAD"
  measure "$s" paced16 "${client[@]}" "$loadgen" paced "$(port $s)" "$(file $s)" 16 $((2 * SECONDS_PER_LOAD)) 4
}
idle_load() {  # side: one client of small answers beside IDLE idle connections
  local s=$1 lp
  "$loadgen" idle "$(port $s)" $IDLE $((SECONDS_PER_LOAD + 4)) >/dev/null &
  lp=$!; pids+=("$lp")
  sleep 2
  measure "$s" idle1 "$smallload" "$(port $s)" "$(page $s)" 1 "$SECONDS_PER_LOAD"
  wait "$lp" || true
}

quiet() {  # side: what a server costs while nobody asks it anything
  local s=$1 seconds=$((2 * SECONDS_PER_LOAD)) cpu wakes
  echo "bench: $s quiet" >&2
  sleep 1  # the last load's connections end
  cpu=$(server_cpu_us "$s"); wakes=$(server_wakes "$s")
  sleep "$seconds"
  echo "$s quiet wakes_s $(per_request $(($(server_wakes "$s") - wakes)) $seconds)" >>"$samples"
  echo "$s quiet cpu_ms_min $(per_request $((($(server_cpu_us "$s") - cpu) * 60 / 1000)) $seconds)" >>"$samples"
}

for side in ours anchor; do  # warm the page cache and both servers
  "${client[@]}" "$loadgen" stream "$(port $side)" "$(file $side)" >/dev/null || true
  [[ -n $apart ]] || "$smallload" "$(port $side)" "$(page $side)" 1 1 >/dev/null || true
done
for round in $(seq "$ROUNDS"); do
  if ((round % 2)); then order="ours anchor"; else order="anchor ours"; fi
  if [[ -z $apart ]]; then
    measure anchor client_cpp "$loadgen" small $nport /small.html 1 "$SECONDS_PER_LOAD"
    measure anchor client_c "$smallload" $nport /small.html 1 "$SECONDS_PER_LOAD"
  fi
  for side in $order; do loads "$side"; done
  [[ -n $apart ]] || for side in $order; do idle_load "$side"; quiet "$side"; done
done

# median and spread of one measure: "median (low-high)"
stat() {  # side key measure decimals
  awk -v s="$1" -v k="$2" -v m="$3" -v d="$4" '
    $1 == s && $2 == k && $3 == m && $4 != "" { v[n++] = $4 + 0 }
    END {
      if (n == 0) { print "-"; exit }
      for (i = 0; i < n; i++) for (j = i + 1; j < n; j++) if (v[j] < v[i]) { t = v[i]; v[i] = v[j]; v[j] = t }
      med = n % 2 ? v[int(n / 2)] : (v[n / 2 - 1] + v[n / 2]) / 2
      printf "%.*f (%.*f-%.*f)\n", d, med, d, v[0], d, v[n - 1]
    }' "$samples"
}
median() { stat "$@" | cut -d' ' -f1; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b + 0 > 0) printf "%.2f", a / b; else print "-" }'; }
fails() { awk -v s="$1" '$1 == s && $3 == "failures" { f += $4 } END { print f + 0 }' "$samples"; }

row() {  # label key measure decimals
  local o a
  o=$(stat ours "$2" "$3" "$4"); a=$(stat anchor "$2" "$3" "$4")
  echo "| $1 | $o | $a | $(ratio "$(median ours "$2" "$3" "$4")" "$(median anchor "$2" "$3" "$4")") |"
}

# A load's rows: its rate and its latency, then the processor time per request of the server,
# of the load client (the client's, in the columns of the server it loaded) and of both. On
# loopback a segment's delivery is charged to the process whose system call sends it: a server
# that queues a whole range at once has the client's acknowledgements send most of it, in the
# client's time. Their sum is what the machine paid, wherever the kernel counted it.
load_rows() {  # label key rate rate-name latency latency-name
  row "$1 ($4)" "$2" "$3" 0
  row "$1 ($6)" "$2" "$5" 3
  row "$1 (server CPU us/request)" "$2" server_us 1
  row "$1 (load client CPU us/request)" "$2" client_us 1
  row "$1 (server + load client CPU us/request)" "$2" both_us 1
  [[ -n $apart ]] || return 0
  row "$1 (server's core, busy us/request)" "$2" server_core_us 1
  row "$1 (load client's core, busy us/request)" "$2" client_core_us 1
}

{
  echo "# The engine's loads: $(date -u '+%Y-%m-%d %H:%M') UTC"
  echo
  echo "Machine: $(nproc) cores, load average at start $load_at_start, at end $(cut -d' ' -f1-3 /proc/loadavg)."
  echo "nginx $(nginx -v 2>&1 | sed 's/.*nginx\///'), sendfile and tcp_nopush on, keep-alive off, worker_processes auto;"
  echo "ours: remote-toviplayer (Release) on $BENCH_HOST:8027. A fresh connection per request, $SECONDS_PER_LOAD s per load,"
  echo "$ROUNDS rounds alternating which server goes first: median of the rounds (lowest-highest). Ratio: ours / nginx, of the medians."
  echo "TCP congestion control of the servers' sends: $congestion_control (it decides much of the 4 MiB rows)."
  echo "CPU us/request: processor time (user and system, all threads and processes) divided by the requests answered."
  if [[ -n $apart ]]; then
    echo "Apart: the servers on core 0, the load client on core 1 in a network namespace of its own, joined by a veth"
    echo "pair whose received packets a kernel thread handles on the receiving side's core. A core's busy time holds its"
    echo "side's network receiving, which no process is charged for."
  fi
  echo
  echo "| Load | Ours | nginx | Ratio |"
  echo "|---|---|---|---|"
  if [[ -z $apart ]]; then
    load_rows "43-byte answer, 1 client" small1 rps "requests/s" p50_ms "p50 ms"
    load_rows "43-byte answer, 32 clients" small32 rps "requests/s" p50_ms "p50 ms"
  fi
  load_rows "4 MiB ranges, 1 client" ranges1 mbps "MB/s" p99_ms "p99 ms"
  load_rows "4 MiB ranges, 64 clients" ranges64 mbps "MB/s" p99_ms "p99 ms"
  # The same mean time per range can be shared out two ways: a server that starts each range at
  # once (the answer's head early) and sends all 64 side by side, or one that takes them nearly
  # one after another (the head late, the rest fast). The head's time says which, and is the least a
  # TV waits after a seek.
  row "4 MiB ranges, 64 clients (the answer's head, p50 ms)" ranges64 head_p50_ms 3
  row "4 MiB ranges, 64 clients (the answer's head, p99 ms)" ranges64 head_p99_ms 3
  row "16 streams read at 4 MB/s each (MB/s)" paced16 mbps 1
  row "16 streams read at 4 MB/s each (server CPU us/MB, its idle time included)" paced16 server_us_mb 1
  if [[ -z $apart ]]; then
    row "beside $IDLE idle connections: 43-byte answer, 1 client (requests/s)" idle1 rps 0
    row "beside $IDLE idle connections: 43-byte answer, 1 client (p50 ms)" idle1 p50_ms 3
    row "nobody asking, $((2 * SECONDS_PER_LOAD)) s (server wake-ups/s)" quiet wakes_s 1
    row "nobody asking, $((2 * SECONDS_PER_LOAD)) s (server CPU ms/minute, in steps of $((60000 / ticks / (2 * SECONDS_PER_LOAD))))" quiet cpu_ms_min 0
    echo
    echo "Beside $IDLE idle connections, against the same load without them: ours $(ratio "$(median ours idle1 rps 0)" "$(median ours small1 rps 0)"), nginx $(ratio "$(median anchor idle1 rps 0)" "$(median anchor small1 rps 0)") of the requests/s."
    echo "The load client: nginx, 1 client, fetched by the C++ loadgen $(stat anchor client_cpp rps 0) requests/s (p50 $(median anchor client_cpp p50_ms 3) ms),"
    echo "by the C client $(stat anchor client_c rps 0) requests/s (p50 $(median anchor client_c p50_ms 3) ms)."
  else
    echo
  fi
  echo "Failed requests: ours $(fails ours), nginx $(fails anchor)."
} >"$results"
cat "$results"
