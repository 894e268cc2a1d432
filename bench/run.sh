#!/usr/bin/env bash
# The benchmarks: our program against its anchor, measured in the same run on this machine by
# the same client (bench/loadgen.cpp). Builds what it needs in Release, starts nginx (Debian's)
# on a free loopback port and the program on 127.0.0.1:8027, stops both by their process ids, and
# writes build/bench-results.md, which it also prints.
# Each load runs on both servers in turn, BENCH_ROUNDS times, and the better round of each is
# kept: other work on a shared machine then weighs on both alike.
# Usage, in a network namespace of its own (so that port 8027 is free and the listen-queue
# counters of /proc/net/netstat count only this run):
#   unshare -n sh -c 'ip link set lo up && bash bench/run.sh'    (about 10 minutes)
# `bash bench/run.sh engine` runs the engine's loads alone (bench/engine.sh, about 5 minutes):
# ours beside nginx, median of 3 alternating rounds with their spread.
set -euo pipefail
cd "$(dirname "$0")/.."
if [[ ${1:-} == engine ]]; then exec bash bench/engine.sh; fi
root=$PWD
out=$root/build/bench
results=$root/build/bench-results.md
mkdir -p "$out"
SECONDS_PER_LOAD=${BENCH_SECONDS:-10}
ROUNDS=${BENCH_ROUNDS:-2}
SOAK_SECONDS=${BENCH_SOAK_SECONDS:-150}
IDLE=1000

source bench/servers.sh
need nginx "apt-get install nginx-light"
need g++ "apt-get install g++"
[[ -f /usr/include/pcre2.h ]] || { echo "bench: apt-get install libpcre2-dev" >&2; exit 1; }
load_at_start=$(cut -d' ' -f1-3 /proc/loadavg)

echo "bench: building (Release)" >&2
cmake -S . -B "$out/build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTOVI_BUILD_TESTS=OFF >/dev/null
cmake --build "$out/build" --target remote-toviplayer head_bench >/dev/null
g++ -std=c++20 -O2 -pthread bench/loadgen.cpp -o "$out/loadgen"
regex_bench=
if [[ -f bench/regex_bench.cpp ]]; then
  bash bench/regex_build.sh >/dev/null
  regex_bench=$out/regex_bench
fi
loadgen=$out/loadgen

bench_work run

# ---- data: a 1 GiB file of random bytes, a 43-byte page, folders of 10,000 and 2,000 files ----
data=$work/data
mkdir -p "$data/many" "$data/list"
echo "bench: making the 1 GiB file and the folders" >&2
head -c $((1 << 30)) /dev/urandom >"$data/film.bin"
size=$(stat -c %s "$data/film.bin")
printf '<html><h1>ToviPlayer DLNA Work!</h1></html>' >"$data/small.html"   # 43 bytes
(cd "$data/many" && seq -f 'clip%05g.mp4' 1 10000 | xargs touch)
(cd "$data/list" && seq -f 'film%04g.mp4' 1 2000 | xargs touch)
sync  # no writeback of the new file under the first measurements

free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}
rss_kb() {  # the resident size of the given processes, summed
  local total=0
  for p in "$@"; do
    total=$((total + $(awk '/^VmRSS/ {print $2}' "/proc/$p/status")))
  done
  echo $total
}
threads_of() { awk '/^Threads/ {print $2}' "/proc/$1/status"; }
handles_of() { ls "/proc/$1/fd" | wc -l; }
listen_overflows() {  # connections this namespace dropped because a listen queue was full
  awk '/^TcpExt:/ { if (!h) { for (i = 2; i <= NF; i++) col[$i] = i; h = 1 }
                    else print $(col["ListenOverflows"]) }' /proc/net/netstat
}

# ---- the anchor: nginx, sending as Debian's own nginx.conf has it, keep-alive off ----
nport=$(free_port)
start_nginx "$nport" "$data" "location /many/ { autoindex on; }"
nginx_pids() { echo "$npid" $(pgrep -P "$npid" || true); }

# ---- ours: the program, switched on by typing LocalRFS1 ----
start_ours

# ---- measurements ----
declare -A F
field() { sed -n "s/.*\b$1=\([^ ]*\).*/\1/p" <<<"$2"; }
run() { echo "bench: $*" >&2; "$@"; }
greater() { awk -v a="$1" -v b="$2" 'BEGIN { exit !(a > b) }'; }
port() { if [[ $1 == ours ]]; then echo $oport; else echo $nport; fi; }
file() { if [[ $1 == ours ]]; then echo "$data/film.bin"; else echo /film.bin; fi; }
page() { if [[ $1 == ours ]]; then echo /test; else echo /small.html; fi; }
mem_pids() { if [[ $1 == ours ]]; then echo $opid; else nginx_pids; fi; }

# keep SIDE KEY RESULT: keeps the round with the most requests/s; failures and listen-queue
# overflows add up over the rounds.
keep() {
  local side=$1 key=$2 r=$3 rps fails
  rps=$(field rps "$r")
  fails=$(field failures "$r")
  F[$side.$key.fail]=$(( ${F[$side.$key.fail]:-0} + ${fails:-1} ))
  if [[ -z ${F[$side.$key.rps]:-} ]] || greater "${rps:-0}" "${F[$side.$key.rps]}"; then
    F[$side.$key.rps]=${rps:-0}; F[$side.$key.mbps]=$(field mbps "$r")
    F[$side.$key.p50]=$(field p50_ms "$r"); F[$side.$key.p99]=$(field p99_ms "$r")
  fi
}
# load SIDE KEY LOADGEN-ARGS...
load() {
  local side=$1 key=$2 before r
  shift 2
  before=$(listen_overflows)
  r=$(run "$loadgen" "$@" || true)
  F[$side.overflows]=$(( ${F[$side.overflows]:-0} + $(listen_overflows) - before ))
  keep "$side" "$key" "$r"
}

for side in ours anchor; do  # warm the page cache and both servers
  "$loadgen" stream "$(port $side)" "$(file $side)" >/dev/null || true
done
for _ in $(seq 3); do
  for side in ours anchor; do
    m=$(field mbps "$(run "$loadgen" stream "$(port $side)" "$(file $side)" || true)")
    greater "${m:-0}" "${F[$side.stream]:-0}" && F[$side.stream]=$m
  done
done
for _ in $(seq "$ROUNDS"); do
  for c in 1 8 64; do
    for side in ours anchor; do
      load $side r$c ranges "$(port $side)" "$(file $side)" "$size" "$c" "$SECONDS_PER_LOAD"
    done
  done
  for c in 1 32; do
    for side in ours anchor; do
      load $side s$c small "$(port $side)" "$(page $side)" "$c" "$SECONDS_PER_LOAD"
    done
  done
done

# One peer holds 1,000 connections open and sends nothing; another client is served meanwhile.
for side in ours anchor; do
  "$loadgen" idle "$(port $side)" $IDLE $((2 * SECONDS_PER_LOAD + 6)) >/dev/null &
  lp=$!; pids+=("$lp")
  sleep 3
  F[$side.mem.idle1000]=$(rss_kb $(mem_pids $side))
  [[ $side == ours ]] && F[ours.threads.idle1000]=$(threads_of $opid)
  load $side s1idle small "$(port $side)" "$(page $side)" 1 "$SECONDS_PER_LOAD"
  load $side r1idle ranges "$(port $side)" "$(file $side)" "$size" 1 "$SECONDS_PER_LOAD"
  wait "$lp" || F[$side.idlefail]=1
done

for side in ours anchor; do
  # Playlist of the 10,000-file folder: mean of 10 requests.
  if [[ $side == ours ]]; then tree="/treeview?$data/many/"; else tree=/many/; fi
  t0=$(date +%s.%N)
  for _ in $(seq 10); do
    curl -s -o /dev/null -w '' "http://127.0.0.1:$(port $side)$tree" || true
  done
  t1=$(date +%s.%N)
  F[$side.tree]=$(awk -v a="$t0" -v b="$t1" 'BEGIN {printf "%.1f", (b - a) * 100}')
  F[$side.treebytes]=$(curl -s "http://127.0.0.1:$(port $side)$tree" | wc -c)
  # Memory: idle, and while streaming to 64 clients.
  sleep 1
  F[$side.mem.idle]=$(rss_kb $(mem_pids $side))
  "$loadgen" slowstream "$(port $side)" "$(file $side)" 64 8 >/dev/null &
  lp=$!; pids+=("$lp"); sleep 5
  F[$side.mem.stream64]=$(rss_kb $(mem_pids $side))
  wait "$lp" || true
  sleep 2
done

# ---- ours: 32 clients each sending a 16 MiB body (GET: never read; POST: read within the
# bound of all bodies held), resident size at its peak and 2 s after they have closed ----
for method in GET POST; do
  "$loadgen" bodies $oport $method 32 16 >"$work/bodies.$method" &
  lp=$!; pids+=("$lp"); peak=0
  while kill -0 "$lp" 2>/dev/null; do
    r=$(rss_kb $opid); if ((r > peak)); then peak=$r; fi; sleep 0.1
  done
  sleep 2
  F[ours.bodies.$method.peak]=$peak
  F[ours.bodies.$method.after]=$(rss_kb $opid)
  F[ours.bodies.$method.answered]=$(field answered "$(cat "$work/bodies.$method")")
done

# ---- the mixed soak, ours: 16 range streams, 8 clients of /test, 2 of a 2,000-file playlist ----
soak_threads0=$(threads_of $opid); soak_handles0=$(handles_of $opid); soak_mem0=$(rss_kb $opid)
soak_over0=$(listen_overflows)
echo "bench: mixed soak, $SOAK_SECONDS s" >&2
"$loadgen" ranges $oport "$data/film.bin" "$size" 16 "$SOAK_SECONDS" >"$work/soak.ranges" &
s1=$!
"$loadgen" small $oport /test 8 "$SOAK_SECONDS" >"$work/soak.small" &
s2=$!
"$loadgen" small $oport "/treeview?$data/list/" 2 "$SOAK_SECONDS" >"$work/soak.list" &
s3=$!
pids+=("$s1" "$s2" "$s3")
sleep $((SOAK_SECONDS / 2))
soak_memmid=$(rss_kb $opid); soak_threadsmid=$(threads_of $opid)
wait $s1 $s2 $s3 || true
soak_over=$(( $(listen_overflows) - soak_over0 ))
sleep 2
soak_threads1=$(threads_of $opid); soak_handles1=$(handles_of $opid); soak_mem1=$(rss_kb $opid)
soak_answers=0; soak_fail=0; soak_p99=
for f in ranges small list; do
  r=$(cat "$work/soak.$f")
  n=$(field requests "$r"); fails=$(field failures "$r")
  soak_answers=$((soak_answers + ${n:-0}))
  soak_fail=$((soak_fail + ${fails:-1}))
  soak_p99="$soak_p99 $f $(field p99_ms "$r") ms,"
done
load_at_end=$(cut -d' ' -f1-3 /proc/loadavg)

# ---- the cut of "/parserlink" against PCRE2 and std::regex ----
regex_rows=
if [[ -n $regex_bench ]]; then
  echo "bench: $regex_bench" >&2
  regex_rows=$("$regex_bench")
fi

# ---- the client's work for hostile response heads (no server of ours involved) ----
echo "bench: $out/build/bench/head_bench" >&2
head_rows=$("$out/build/bench/head_bench")

# ---- the tables ----
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "-" }'; }
verdict() {  # value op target -> yes/no
  awk -v v="$1" -v t="$3" -v op="$2" 'BEGIN {
    ok = (op == ">=") ? (v >= t) : (v <= t); print ok ? "yes" : "NO" }'
}
row() {  # measure ours anchor better(higher|lower) target-text target-ratio
  local r; r=$(ratio "$2" "$3")
  local met=""
  if [[ -n ${6:-} ]]; then
    if [[ $4 == higher ]]; then met=$(verdict "$r" ">=" "$6"); else met=$(verdict "$r" "<=" "$6"); fi
  fi
  printf '| %s | %s | %s | %s | %s | %s |\n' "$1" "$2" "$3" "$r" "${5:-}" "$met"
}
cpu=$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')
{
  echo "# Benchmarks: $(date -u '+%Y-%m-%d %H:%M UTC')"
  echo
  echo "Machine: $cpu, $(nproc) cores, $(free -g | awk '/Mem:/ {print $2}') GiB, $(uname -sr);"
  echo "load average at start $load_at_start, at end $load_at_end (other work ran beside)."
  echo "Anchor: nginx $(nginx -v 2>&1 | sed 's/.*nginx\///') (Debian), sendfile and tcp_nopush on (as"
  echo "Debian's nginx.conf), keep-alive off, worker_processes auto. Ours: remote-toviplayer (Release)"
  echo "on 127.0.0.1:8027. Client: bench/loadgen, a fresh connection per request, ${SECONDS_PER_LOAD} s"
  echo "per load, each load on both servers in turn, the better of $ROUNDS rounds kept."
  echo "Ratio = ours / anchor."
  echo
  echo "| Measure | Ours | Anchor | Ratio | Target | Met |"
  echo "|---|---|---|---|---|---|"
  row "1 GiB, one stream (MB/s)" "${F[ours.stream]}" "${F[anchor.stream]}" higher
  for c in 1 8 64; do
    row "4 MiB ranges, $c clients (MB/s)" "${F[ours.r$c.mbps]}" "${F[anchor.r$c.mbps]}" higher ">= 1.00" 1.00
    row "4 MiB ranges, $c clients (p50 ms)" "${F[ours.r$c.p50]}" "${F[anchor.r$c.p50]}" lower
    row "4 MiB ranges, $c clients (p99 ms)" "${F[ours.r$c.p99]}" "${F[anchor.r$c.p99]}" lower "<= 1.50" 1.50
  done
  for c in 1 32; do
    row "/test vs 43-byte page, $c clients (requests/s)" "${F[ours.s$c.rps]}" "${F[anchor.s$c.rps]}" higher ">= 0.80" 0.80
    row "/test vs 43-byte page, $c clients (p99 ms)" "${F[ours.s$c.p99]}" "${F[anchor.s$c.p99]}" lower
  done
  row "beside $IDLE idle connections: /test, 1 client (requests/s)" "${F[ours.s1idle.rps]}" "${F[anchor.s1idle.rps]}" higher
  row "beside $IDLE idle connections: /test, 1 client (p99 ms)" "${F[ours.s1idle.p99]}" "${F[anchor.s1idle.p99]}" lower
  row "beside $IDLE idle connections: 4 MiB ranges, 1 client (MB/s)" "${F[ours.r1idle.mbps]}" "${F[anchor.r1idle.mbps]}" higher
  row "beside $IDLE idle connections: 4 MiB ranges, 1 client (p99 ms)" "${F[ours.r1idle.p99]}" "${F[anchor.r1idle.p99]}" lower
  row "playlist of 10,000 files vs autoindex (ms each)" "${F[ours.tree]}" "${F[anchor.tree]}" lower "< 1000 ms"
  row "resident size, idle (KiB)" "${F[ours.mem.idle]}" "${F[anchor.mem.idle]}" lower
  row "resident size, $IDLE idle connections (KiB)" "${F[ours.mem.idle1000]}" "${F[anchor.mem.idle1000]}" lower
  row "resident size, streaming to 64 clients (KiB)" "${F[ours.mem.stream64]}" "${F[anchor.mem.stream64]}" lower
  for method in GET POST; do
    row "resident size, 32 clients sending 16 MiB $method bodies: peak (KiB; ${F[ours.bodies.$method.answered]} answered)" "${F[ours.bodies.$method.peak]}" "" lower
    row "resident size, 2 s after those 32 $method bodies (KiB)" "${F[ours.bodies.$method.after]}" "" lower
  done
  row "listen-queue overflows during these loads" "${F[ours.overflows]}" "${F[anchor.overflows]}" lower
  echo
  echo "Beside $IDLE idle connections, against the same load without them (ours):" \
       "/test $(ratio "${F[ours.s1idle.rps]}" "${F[ours.s1.rps]}") of the requests/s," \
       "p99 $(ratio "${F[ours.s1idle.p99]}" "${F[ours.s1.p99]}") times; ranges" \
       "$(ratio "${F[ours.r1idle.mbps]}" "${F[ours.r1.mbps]}") of the MB/s, p99" \
       "$(ratio "${F[ours.r1idle.p99]}" "${F[ours.r1.p99]}") times; the program had" \
       "${F[ours.threads.idle1000]} threads while they were held${F[ours.idlefail]:+ (the idle peer lost connections)}."
  echo "Failed requests (ours/anchor): ranges 1: ${F[ours.r1.fail]}/${F[anchor.r1.fail]}," \
       "ranges 8: ${F[ours.r8.fail]}/${F[anchor.r8.fail]}, ranges 64: ${F[ours.r64.fail]}/${F[anchor.r64.fail]}," \
       "small 1: ${F[ours.s1.fail]}/${F[anchor.s1.fail]}, small 32: ${F[ours.s32.fail]}/${F[anchor.s32.fail]}." \
       "Playlist bytes: ${F[ours.treebytes]} (ours), ${F[anchor.treebytes]} (autoindex). Memory of" \
       "nginx: master and workers summed."
  echo "Playlist target (< 1000 ms): $(verdict "${F[ours.tree]}" "<=" 1000)."
  echo
  echo "Mixed soak of ours, $SOAK_SECONDS s (16 clients of 4 MiB ranges, 8 of /test, 2 of a 2,000-file"
  echo "playlist): $soak_answers answers, $soak_fail failed; slowest 1 % under${soak_p99%,};"
  echo "listen-queue overflows: $soak_over. Threads $soak_threads0, $soak_threadsmid midway, $soak_threads1"
  echo "after; handles $soak_handles0 before, $soak_handles1 after; resident size $soak_mem0 KiB before,"
  echo "$soak_memmid KiB midway, $soak_mem1 KiB after."
  echo
  echo "The client's processor time for a hostile page's response head (bench/head_bench.cpp): a"
  echo "3 MB head of continuation lines and one of 200,000 Set-Cookie lines, fetched over loopback,"
  echo "then the same lines given to the header list and the cookie jar directly:"
  echo
  echo '```'
  echo "$head_rows"
  echo '```'
  if [[ -n $regex_rows ]]; then
    echo
    echo "The cut of \"/parserlink\" on pages of a megabyte, and searches that once ran for seconds"
    echo "(bench/regex_bench.cpp; target: as fast as PCRE2's JIT or faster):"
    echo
    echo '```'
    echo "$regex_rows"
    echo '```'
  fi
} >"$results"
cat "$results"
