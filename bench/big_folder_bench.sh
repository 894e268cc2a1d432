#!/usr/bin/env bash
# A huge folder browsed: the server's processor time and memory for a folder of BIG_FILES empty
# files (200,000 by default), in a network namespace of its own on loopback (as root). Prints
#   cpu_one_ms      processor time of one Browse of 10 objects, the folder not yet read
#   cpu_many_ms     processor time of BIG_CLIENTS (16) such Browses sent at once, a moment later
#                   (the folder's listing kept before them gone)
#   idle_kib        resident size before the first Browse
#   peak_above_kib  the peak resident size during the 16, above idle (VmHWM - idle)
#   held_above_kib  the resident size after them, above idle
# and fails when peak_above_kib passes BIG_PEAK_LIMIT_KIB (100 MiB by default).
# Usage: bench/big_folder_bench.sh tests/dlna/toviplayer_server.sh build/linux/src/app/remote-toviplayer
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD
source tests/support/netns_lan.sh
netns_enter "$0" "$@"

FILES=${BIG_FILES:-200000}
CLIENTS=${BIG_CLIENTS:-16}
LIMIT_KIB=${BIG_PEAK_LIMIT_KIB:-102400}
FRESH_SECONDS=4  # past the time a listing is kept (ListingLimits::freshMs)
command -v python3 >/dev/null || { echo "FAIL: python3 is needed" >&2; exit 1; }
[ $# -gt 0 ] || { echo "usage: $0 SERVER_COMMAND..." >&2; exit 2; }

work=$(mktemp -d)
chmod 755 "$work"
server_pid=
cleanup() {
  if [ -n "$server_pid" ]; then
    kill "$server_pid" 2>/dev/null
    for _ in $(seq 100); do kill -0 "$server_pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$server_pid" 2>/dev/null
    wait "$server_pid" 2>/dev/null
  fi
  rm -rf "$work"
}
trap cleanup EXIT
die() { echo "FAIL: $*" >&2; tail -20 "$work/server.txt" >&2; exit 1; }

mkdir -p "$work/big" "$work/state"
python3 - "$work/big" "$FILES" <<'EOF' || die "the folder could not be made"
import os, sys
folder, count = sys.argv[1], int(sys.argv[2])
for i in range(count):
    open(os.path.join(folder, f"film{i:06d}.mp4"), "wb").close()
EOF

ip link set lo up || die "no loopback in the namespace"
DLNA_ADDRESS=127.0.0.1 DLNA_STATE=$work/state "$@" >"$work/server.txt" 2>&1 &
server_pid=$!

python3 - "$work/big/" "$CLIENTS" "$FRESH_SECONDS" "$server_pid" "$(getconf CLK_TCK)" >"$work/figures.txt" <<'EOF' ||
import base64, sys, threading, time, urllib.request
folder, clients, fresh, pid, ticks = sys.argv[1], int(sys.argv[2]), float(sys.argv[3]), sys.argv[4], int(sys.argv[5])
CDS = "urn:schemas-upnp-org:service:ContentDirectory:1"
object_id = base64.urlsafe_b64encode(folder.encode()).rstrip(b"=").decode()

def status(key):
    with open(f"/proc/{pid}/status") as f:
        return next(int(l.split()[1]) for l in f if l.startswith(key + ":"))

def cpu_ms():
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) * 1000 // ticks

def browse(count=10):
    body = (f'<?xml version="1.0"?><s:Envelope xmlns:s="http://schemas.xmlsoap.org/soap/envelope/">'
            f'<s:Body><u:Browse xmlns:u="{CDS}"><ObjectID>{object_id}</ObjectID>'
            f'<BrowseFlag>BrowseDirectChildren</BrowseFlag><Filter>*</Filter>'
            f'<StartingIndex>0</StartingIndex><RequestedCount>{count}</RequestedCount>'
            f'<SortCriteria></SortCriteria></u:Browse></s:Body></s:Envelope>').encode()
    request = urllib.request.Request("http://127.0.0.1:8027/?dlna/cds/control",
                                     data=body, headers={"Content-Type": 'text/xml; charset="utf-8"',
                                                         "SOAPACTION": f'"{CDS}#Browse"'})
    with urllib.request.urlopen(request, timeout=120) as answer:
        text = answer.read().decode()
    if "<TotalMatches>" not in text:
        raise SystemExit(f"FAIL: no Browse answer: {text[:300]}")
    return text

deadline = time.monotonic() + 30
while True:
    try:
        urllib.request.urlopen("http://127.0.0.1:8027/", timeout=2).close()
        break
    except urllib.error.HTTPError:
        break
    except OSError:
        if time.monotonic() > deadline:
            raise SystemExit("FAIL: the server did not answer within 30 s")
        time.sleep(0.2)

idle = status("VmRSS")
before = cpu_ms()
browse()
print(f"cpu_one_ms={cpu_ms() - before}")
time.sleep(fresh)
with open(f"/proc/{pid}/clear_refs", "w") as f:
    f.write("5")  # VmHWM from here on
before = cpu_ms()
threads = [threading.Thread(target=browse) for _ in range(clients)]
for t in threads: t.start()
for t in threads: t.join(180)
if any(t.is_alive() for t in threads):
    raise SystemExit("FAIL: a Browse did not end within 180 s")
print(f"cpu_many_ms={cpu_ms() - before}")
print(f"idle_kib={idle}")
print(f"peak_above_kib={status('VmHWM') - idle}")
print(f"held_above_kib={status('VmRSS') - idle}")
EOF
  { cat "$work/figures.txt"; die "the Browses failed"; }
cat "$work/figures.txt"
peak=$(sed -n 's/^peak_above_kib=//p' "$work/figures.txt")
[ "$peak" -le "$LIMIT_KIB" ] || die "$CLIENTS Browses at once took $peak KiB above idle (limit $LIMIT_KIB)"
echo "PASS: $CLIENTS Browses of a folder of $FILES files at once took $peak KiB above idle"
