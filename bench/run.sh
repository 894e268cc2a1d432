#!/usr/bin/env bash
# The benchmarks: our program against its anchors, measured in the same run on this machine by
# the same client (bench/loadgen.cpp). Builds what it needs in Release, starts nginx (Debian's)
# with a temporary configuration on a free loopback port and the program on 127.0.0.1:8027,
# stops both by their process ids, and writes build/bench-results.md, which it also prints.
# Usage: bash bench/run.sh        (about eight minutes; not part of the test run)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
out=$root/build/bench
results=$root/build/bench-results.md
mkdir -p "$out"
SECONDS_PER_LOAD=${BENCH_SECONDS:-10}

need() { command -v "$1" >/dev/null || { echo "bench: $1 is needed ($2)" >&2; exit 1; }; }
need nginx "apt-get install nginx-light"
need g++ "apt-get install g++"
[[ -f /usr/include/pcre2.h ]] || { echo "bench: apt-get install libpcre2-dev" >&2; exit 1; }

echo "bench: building (Release)" >&2
cmake -S . -B "$out/build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTOVI_BUILD_TESTS=OFF >/dev/null
cmake --build "$out/build" --target remote-toviplayer >/dev/null
g++ -std=c++20 -O2 -pthread bench/loadgen.cpp -o "$out/loadgen"
regex_bench=
if [[ -f bench/regex_bench.cpp ]]; then
  bash bench/regex_build.sh >/dev/null
  regex_bench=$out/regex_bench
fi
loadgen=$out/loadgen

work=$(mktemp -d "$out/run.XXXXXX")
chmod 755 "$work"  # nginx's workers run as www-data and must reach the files
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

# ---- data: a 1 GiB file of random bytes, a 43-byte page, a folder of 10,000 files ----
data=$work/data
mkdir -p "$data/many"
echo "bench: making the 1 GiB file and the 10,000-file folder" >&2
head -c $((1 << 30)) /dev/urandom >"$data/film.bin"
size=$(stat -c %s "$data/film.bin")
printf '<html><h1>ToviPlayer DLNA Work!</h1></html>' >"$data/small.html"   # 43 bytes
(cd "$data/many" && seq -f 'clip%05g.mp4' 1 10000 | xargs touch)

free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}
wait_port() {  # port: until it accepts, at most 10 s
  for _ in $(seq 100); do
    (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return 0
    sleep 0.1
  done
  echo "bench: nothing listens on $1" >&2
  return 1
}
rss_kb() {  # the resident size of the given processes, summed
  local total=0
  for p in "$@"; do
    total=$((total + $(awk '/^VmRSS/ {print $2}' "/proc/$p/status")))
  done
  echo $total
}

# ---- the anchor: nginx, sendfile on, keep-alive off ----
nport=$(free_port)
mkdir -p "$work/nginx"
cat >"$work/nginx/nginx.conf" <<EOF
worker_processes auto;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log;
events { worker_connections 1024; }
http {
  access_log off;
  sendfile on;
  keepalive_timeout 0;
  client_body_temp_path $work/nginx/body;
  proxy_temp_path $work/nginx/proxy;
  fastcgi_temp_path $work/nginx/fastcgi;
  uwsgi_temp_path $work/nginx/uwsgi;
  scgi_temp_path $work/nginx/scgi;
  types { video/mp4 bin; text/html html; }
  server {
    listen 127.0.0.1:$nport;
    root $data;
    location /many/ { autoindex on; }
  }
}
EOF
nginx -p "$work/nginx" -c "$work/nginx/nginx.conf" -g 'daemon off;' &
npid=$!
pids+=("$npid")
wait_port "$nport"
nginx_pids() { echo "$npid" $(pgrep -P "$npid" || true); }

# ---- ours: the program, switched on by typing LocalRFS1 ----
mkdir -p "$work/app"
cp "$out/build/src/app/remote-toviplayer" "$work/app/"
mkfifo "$work/app/input"
"$work/app/remote-toviplayer" --address 127.0.0.1 <"$work/app/input" >"$work/app/output" 2>&1 &
opid=$!
pids+=("$opid")
exec 7>"$work/app/input"
sleep 1
echo LocalRFS1 >&7
oport=8027
wait_port "$oport"

# ---- measurements ----
declare -A F
field() { sed -n "s/.*\b$1=\([^ ]*\).*/\1/p" <<<"$2"; }
run() { echo "bench: $*" >&2; "$@"; }

for side in ours anchor; do
  if [[ $side == ours ]]; then port=$oport; file=$data/film.bin; page=/test; tree="/treeview?$data/many/"
  else port=$nport; file=/film.bin; page=/small.html; tree=/many/; fi
  # Warm the page cache and the server once.
  "$loadgen" stream "$port" "$file" >/dev/null || true
  best=0
  for _ in 1 2 3; do
    r=$(run "$loadgen" stream "$port" "$file" || true)
    m=$(field mbps "$r")
    best=$(awk -v a="$best" -v b="$m" 'BEGIN {print (b > a) ? b : a}')
  done
  F[$side.stream]=$best
  for c in 8 64; do
    r=$(run "$loadgen" ranges "$port" "$file" "$size" "$c" "$SECONDS_PER_LOAD" || true)
    F[$side.r$c.rps]=$(field rps "$r"); F[$side.r$c.mbps]=$(field mbps "$r")
    F[$side.r$c.p50]=$(field p50_ms "$r"); F[$side.r$c.p99]=$(field p99_ms "$r")
    F[$side.r$c.fail]=$(field failures "$r")
  done
  for c in 1 32; do
    r=$(run "$loadgen" small "$port" "$page" "$c" "$SECONDS_PER_LOAD" || true)
    F[$side.s$c.rps]=$(field rps "$r"); F[$side.s$c.p99]=$(field p99_ms "$r")
    F[$side.s$c.fail]=$(field failures "$r")
  done
  # Playlist of the 10,000-file folder: mean of 10 requests.
  t0=$(date +%s.%N)
  for _ in $(seq 10); do
    curl -s -o /dev/null -w '' "http://127.0.0.1:$port$tree" || true
  done
  t1=$(date +%s.%N)
  F[$side.tree]=$(awk -v a="$t0" -v b="$t1" 'BEGIN {printf "%.1f", (b - a) * 100}')
  F[$side.treebytes]=$(curl -s "http://127.0.0.1:$port$tree" | wc -c)

  # Memory: idle, with 300 idle connections, while streaming to 64 clients.
  if [[ $side == ours ]]; then mp=$opid; else mp=$(nginx_pids); fi
  sleep 1
  F[$side.mem.idle]=$(rss_kb $mp)
  "$loadgen" idle "$port" 300 6 >/dev/null &
  lp=$!; sleep 3
  F[$side.mem.idle300]=$(rss_kb $mp)
  wait "$lp" || true
  "$loadgen" slowstream "$port" "$file" 64 8 >/dev/null &
  lp=$!; sleep 5
  F[$side.mem.stream64]=$(rss_kb $mp)
  wait "$lp" || true
  sleep 2
done

# ---- the cut of "/parserlink" against PCRE2 and std::regex ----
regex_rows=
if [[ -n $regex_bench ]]; then
  echo "bench: $regex_bench" >&2
  regex_rows=$("$regex_bench")
fi

# ---- the table ----
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
  echo "Machine: $cpu, $(nproc) cores, $(free -g | awk '/Mem:/ {print $2}') GiB, $(uname -sr)."
  echo "Anchor: nginx $(nginx -v 2>&1 | sed 's/.*nginx\///') (Debian), sendfile on, keep-alive off,"
  echo "worker_processes auto. Ours: remote-toviplayer (Release) on 127.0.0.1:8027. Client: bench/loadgen,"
  echo "a fresh connection per request, ${SECONDS_PER_LOAD} s per load. Ratio = ours / anchor."
  echo
  echo "| Measure | Ours | Anchor | Ratio | Target | Met |"
  echo "|---|---|---|---|---|---|"
  row "1 GiB, one stream (MB/s)" "${F[ours.stream]}" "${F[anchor.stream]}" higher ">= 0.90" 0.90
  for c in 8 64; do
    row "4 MiB ranges, $c clients (MB/s)" "${F[ours.r$c.mbps]}" "${F[anchor.r$c.mbps]}" higher ">= 0.90" 0.90
    row "4 MiB ranges, $c clients (requests/s)" "${F[ours.r$c.rps]}" "${F[anchor.r$c.rps]}" higher
    row "4 MiB ranges, $c clients (p50 ms)" "${F[ours.r$c.p50]}" "${F[anchor.r$c.p50]}" lower
    row "4 MiB ranges, $c clients (p99 ms)" "${F[ours.r$c.p99]}" "${F[anchor.r$c.p99]}" lower
  done
  for c in 1 32; do
    row "/test vs 43-byte page, $c clients (requests/s)" "${F[ours.s$c.rps]}" "${F[anchor.s$c.rps]}" higher ">= 0.50" 0.50
    row "/test vs 43-byte page, $c clients (p99 ms)" "${F[ours.s$c.p99]}" "${F[anchor.s$c.p99]}" lower
  done
  row "playlist of 10,000 files vs autoindex (ms each)" "${F[ours.tree]}" "${F[anchor.tree]}" lower "< 1000 ms"
  row "resident size, idle (KiB)" "${F[ours.mem.idle]}" "${F[anchor.mem.idle]}" lower
  row "resident size, 300 idle connections (KiB)" "${F[ours.mem.idle300]}" "${F[anchor.mem.idle300]}" lower
  row "resident size, streaming to 64 clients (KiB)" "${F[ours.mem.stream64]}" "${F[anchor.mem.stream64]}" lower
  echo
  echo "Failed requests (ours/anchor): ranges 8: ${F[ours.r8.fail]}/${F[anchor.r8.fail]}," \
       "ranges 64: ${F[ours.r64.fail]}/${F[anchor.r64.fail]}, small 1: ${F[ours.s1.fail]}/${F[anchor.s1.fail]}," \
       "small 32: ${F[ours.s32.fail]}/${F[anchor.s32.fail]}. Playlist bytes: ${F[ours.treebytes]}" \
       "(ours), ${F[anchor.treebytes]} (autoindex). Memory of nginx: master and workers summed."
  tree_ms=${F[ours.tree]}
  echo "Playlist target (< 1000 ms): $(verdict "$tree_ms" "<=" 1000)."
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
