# The two benchmark scripts' shared harness (sourced, not run): the tools they need, their work
# folder and its cleanup, waiting for a port, and the two servers, nginx as Debian sends files
# and our program switched on by typing LocalRFS1. Every process started here is stopped by its
# id at exit.
# Needs $out (the build folder, with the Release program in $out/build); sets $work and $pids.

# need TOOL HINT: the tool on PATH, else stop naming how to install it.
need() { command -v "$1" >/dev/null || { echo "bench: $1 is needed ($2)" >&2; exit 1; }; }

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
    (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return 0
    sleep 0.1
  done
  echo "bench: nothing listens on $1" >&2
  return 1
}

# start_nginx PORT ROOT [SERVER LINES]: nginx on 127.0.0.1:PORT serving ROOT, sending as
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
    listen 127.0.0.1:$1;
    root $2;
    ${3:-}
  }
}
CONF
  nginx -p "$work/nginx" -c "$work/nginx/nginx.conf" -g 'daemon off;' &
  npid=$!
  pids+=("$npid")
  wait_port "$1"
}

# start_ours: the program on 127.0.0.1:8027, switched on by typing LocalRFS1; its id in $opid,
# its port in $oport, its input on descriptor 7.
start_ours() {
  mkdir -p "$work/app"
  cp "$out/build/src/app/remote-toviplayer" "$work/app/"
  mkfifo "$work/app/input"
  # Its own runtime folder: a copy the user runs meanwhile would otherwise take this one for a
  # second.
  XDG_RUNTIME_DIR="$work/app" "$work/app/remote-toviplayer" --address 127.0.0.1 \
    <"$work/app/input" >"$work/app/output" 2>&1 &
  opid=$!
  pids+=("$opid")
  exec 7>"$work/app/input"
  sleep 1
  echo LocalRFS1 >&7
  oport=8027
  wait_port "$oport"
}
