# The two benchmark scripts' shared harness (sourced, not run): the tools they need, their work
# folder and its cleanup, waiting for a port, and the two servers, nginx as Debian sends files
# and our program switched on by typing LocalRFS1. Every process started here is stopped by its
# id at exit.
# Needs $out (the build folder, with the Release program in $out/build); sets $work and $pids.
# The servers listen on $BENCH_HOST (127.0.0.1 unless apart_setup moved them) and start under the
# command prefix on_server_core (none unless apart_setup set it).

BENCH_HOST=127.0.0.1
on_server_core=()

# need TOOL HINT: the tool on PATH, else stop naming how to install it.
need() { command -v "$1" >/dev/null || { echo "bench: $1 is needed ($2)" >&2; exit 1; }; }

# use_congestion_control [NAME]: the senders' TCP congestion control in this network namespace,
# NAME if given (only in a namespace made for the run, with loopback alone: elsewhere it would
# change the machine's connections); prints the one in effect. It decides much of a bulk load
# on loopback: a pacing one (bbr) and a window one (cubic, the default of Linux and Windows)
# rank the same servers differently.
use_congestion_control() {
  local setting=/proc/sys/net/ipv4/tcp_congestion_control
  if [[ -n ${1:-} ]]; then
    # A namespace made for the run has loopback alone (apart_setup adds its pair later).
    if [[ $(ip -o link show | awk -F': ' '$2 != "lo"' | wc -l) != 0 ]]; then
      echo "bench: a congestion control is set only in a network namespace of its own (unshare -n)" >&2
      exit 1
    fi
    echo "$1" 2>/dev/null >"$setting" || {
      echo "bench: $1 cannot be set in a namespace here; as root, first add it to" \
        "net.ipv4.tcp_allowed_congestion_control (now: $(sysctl -n net.ipv4.tcp_allowed_congestion_control))" >&2
      exit 1
    }
  fi
  cat "$setting"
}

# bench_work NAME: a work folder under $out, removed at exit with the processes in $pids.
bench_work() {
  work=$(mktemp -d "$out/$1.XXXXXX")
  chmod 755 "$work"  # nginx's workers run as an unprivileged user and must reach the files
  pids=()
  trap bench_cleanup EXIT
}
bench_cleanup() {
  # Only those still running as this shell's jobs: a number that has ended may be another's now.
  local running=" $(jobs -p | tr '\n' ' ') "
  for p in "${pids[@]}"; do
    if [[ $running == *" $p "* ]]; then kill "$p" 2>/dev/null || true; fi
  done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
  rm -rf "$work"
}

wait_port() {  # port: until it accepts, at most 10 s
  for _ in $(seq 100); do
    (exec 3<>"/dev/tcp/$BENCH_HOST/$1") 2>/dev/null && return 0
    sleep 0.1
  done
  echo "bench: nothing listens on $1" >&2
  return 1
}

# start_nginx PORT ROOT [SERVER LINES]: nginx on $BENCH_HOST:PORT serving ROOT, sending as
# Debian's own nginx.conf has it, keep-alive off; its id in $npid.
start_nginx() {
  mkdir -p "$work/nginx"
  cat >"$work/nginx/nginx.conf" <<CONF
worker_processes auto;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log;
events { worker_connections 2048; }
http {
  access_log off;
  sendfile on;
  tcp_nopush on;
  keepalive_timeout 0;
  client_body_temp_path $work/nginx/body;
  proxy_temp_path $work/nginx/proxy;
  fastcgi_temp_path $work/nginx/fastcgi;
  uwsgi_temp_path $work/nginx/uwsgi;
  scgi_temp_path $work/nginx/scgi;
  types { video/mp4 bin; text/html html; }
  server {
    listen $BENCH_HOST:$1;
    root $2;
    ${3:-}
  }
}
CONF
  "${on_server_core[@]}" nginx -p "$work/nginx" -c "$work/nginx/nginx.conf" -g 'daemon off;' &
  npid=$!
  pids+=("$npid")
  wait_port "$1"
}

# start_ours: the program on $BENCH_HOST:8027, switched on by typing LocalRFS1; its id in $opid,
# its port in $oport, its input on descriptor 7.
start_ours() {
  mkdir -p "$work/app"
  cp "$out/build/src/app/remote-toviplayer" "$work/app/"
  mkfifo "$work/app/input"
  # Its own runtime folder: a copy the user runs meanwhile would otherwise take this one for a
  # second.
  XDG_RUNTIME_DIR="$work/app" "${on_server_core[@]}" "$work/app/remote-toviplayer" \
    --address "$BENCH_HOST" \
    <"$work/app/input" >"$work/app/output" 2>&1 &
  opid=$!
  pids+=("$opid")
  exec 7>"$work/app/input"
  sleep 1
  echo LocalRFS1 >&7
  oport=8027
  wait_port "$oport"
}

# apart_setup: the servers and the load client apart, as on two machines. On loopback the
# delivery of a segment to the client runs in, and is charged to, the system call that sends it,
# so a server's processor time holds part of the client's receiving. Apart, the servers run on
# core 0 and the client on core 1, each in a network namespace of its own, joined by a veth pair
# whose received packets are handled by a kernel thread on the receiving side's core (threaded
# NAPI), as a network card's interrupts would be. Needs root in a mount and network namespace of
# its own (unshare -nm), 2 cores, ethtool and bench_work done. Sets BENCH_HOST, on_server_core
# and on_client_core (the prefix that runs a command in the client's namespace, on its core,
# aimed at the servers).
apart_setup() {
  need ethtool "apt-get install ethtool"
  need nsenter "apt-get install util-linux"
  (($(nproc) >= 2)) || { echo "bench: apart needs 2 cores" >&2; exit 1; }
  mount -t sysfs sysfs /sys  # this namespace's own network devices
  ip link set lo up
  local ready=$work/client-ready i
  unshare -nm sh -c 'mount -t sysfs sysfs /sys && touch "$1" && exec sleep 100000' sh "$ready" &
  local client_ns=$!
  pids+=("$client_ns")
  for i in $(seq 100); do [[ -e $ready ]] && break; sleep 0.1; done  # at most 10 s
  [[ -e $ready ]] || { echo "bench: the client's namespace did not start" >&2; exit 1; }
  local in_client=(nsenter -t "$client_ns" -n -m)
  ip link add tv-s type veth peer name tv-c
  ip link set tv-c netns "$client_ns"
  ip addr add 10.77.0.1/24 dev tv-s
  ip link set tv-s up
  "${in_client[@]}" sh -c 'ip link set lo up && ip addr add 10.77.0.2/24 dev tv-c && ip link set tv-c up'
  ethtool -K tv-s gro on >/dev/null  # gives the veth its own NAPI, which may then be threaded
  "${in_client[@]}" ethtool -K tv-c gro on >/dev/null
  echo 1 >/sys/class/net/tv-s/threaded
  "${in_client[@]}" sh -c 'echo 1 >/sys/class/net/tv-c/threaded'
  local p
  for p in $(pgrep '^napi/tv-s-'); do taskset -p 1 "$p" >/dev/null; done
  for p in $(pgrep '^napi/tv-c-'); do taskset -p 2 "$p" >/dev/null; done
  [[ -n $(pgrep '^napi/tv-s-') && -n $(pgrep '^napi/tv-c-') ]] ||
    { echo "bench: no threaded NAPI on the veth pair" >&2; exit 1; }
  BENCH_HOST=10.77.0.1
  on_server_core=(taskset -c 0)
  on_client_core=("${in_client[@]}" env LOADGEN_HOST=$BENCH_HOST taskset -c 1)
}
