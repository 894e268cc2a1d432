#!/usr/bin/python3
"""One device's subscriptions against another's, on a home network: the attacker makes COUNT
subscriptions whose callbacks accept and never answer (a tarpit), then keeps subscribing
every second; the TV, subscribed before the flood, renews, and subscribes to a second service.
Prints the renewal's status and the seconds until the new subscription's initial event.

Exits 0 with "renewal 200, initial event in S s" when the renewal is accepted and the event
comes within LIMIT seconds, else 1 with "FAIL: <why>". Every wait is bounded (5 s per
request, 10 s for the event before the flood, WAIT seconds for the one after it).

Usage: event_flood.py SERVER ATTACKER TV COUNT LIMIT WAIT
"""
import os
import socket
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from lan_devices import read_head  # noqa: E402

PORT = 8027
REQUEST_SECONDS = 5
FIRST_EVENT_SECONDS = 10
FLOOD_PAUSE_SECONDS = 1.0  # between the attacker's SUBSCRIBEs while the TV waits


def listener(address):
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    s.bind((address, 0))
    s.listen(256)
    return s


def tarpit(server, held):
    """Accepts every NOTIFY's connection and never answers."""
    while True:
        connection, _ = server.accept()
        held.append(connection)


def callback(server, events):
    """Answers each NOTIFY with 200, noting its SID and the time it came."""
    while True:
        connection, _ = server.accept()
        connection.settimeout(REQUEST_SECONDS)
        data = read_head(connection)
        try:
            for line in data.decode("latin-1").split("\r\n"):
                if line.upper().startswith("SID:"):
                    events[line[4:].strip()] = time.monotonic()
            connection.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\n")
        except OSError:
            pass
        connection.close()


def subscribe(server, source, path, headers):
    """One SUBSCRIBE from source's address; returns (status, SID)."""
    s = socket.create_connection((server, PORT), REQUEST_SECONDS, (source, 0))
    try:
        s.sendall((f"SUBSCRIBE /?{path} HTTP/1.1\r\nHost: {server}:{PORT}\r\n{headers}"
                   "Connection: close\r\n\r\n").encode())
        data = read_head(s)
    finally:
        s.close()
    lines = data.decode("latin-1").split("\r\n")
    status = int(lines[0].split()[1]) if lines[0].startswith("HTTP/") else 0
    sid = next((l[4:].strip() for l in lines if l.upper().startswith("SID:")), "")
    return status, sid


def new_subscription(server, source, path, callback_port):
    headers = f"NT: upnp:event\r\nCALLBACK: <http://{source}:{callback_port}/cb>\r\nTIMEOUT: Second-1800\r\n"
    return subscribe(server, source, path, headers)


def wait_for(events, sid, seconds):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if sid in events:
            return True
        time.sleep(0.05)
    return sid in events


def main():
    server, attacker, tv = sys.argv[1:4]
    count, limit, wait = int(sys.argv[4]), float(sys.argv[5]), float(sys.argv[6])
    held, events = [], {}
    pit, own = listener(attacker), listener(tv)
    threading.Thread(target=tarpit, args=(pit, held), daemon=True).start()
    threading.Thread(target=callback, args=(own, events), daemon=True).start()
    pit_port, own_port = pit.getsockname()[1], own.getsockname()[1]

    status, first = new_subscription(server, tv, "dlna/cds/events", own_port)
    if status != 200 or not wait_for(events, first, FIRST_EVENT_SECONDS):
        print(f"FAIL: the TV's first subscription (status {status}) got no event before the flood")
        return 1
    refused = sum(new_subscription(server, attacker, "dlna/cms/events", pit_port)[0] != 200
                  for _ in range(count))
    print(f"attacker: {count} subscriptions, {refused} refused; {len(held)} NOTIFYs held so far")

    stop = threading.Event()

    def keep_flooding():
        while not stop.wait(FLOOD_PAUSE_SECONDS):
            try:
                new_subscription(server, attacker, "dlna/cms/events", pit_port)
            except OSError:
                pass

    flooder = threading.Thread(target=keep_flooding, daemon=True)
    flooder.start()
    try:
        renewal, _ = subscribe(server, tv, "dlna/cds/events", f"SID: {first}\r\nTIMEOUT: Second-1800\r\n")
        start = time.monotonic()
        status, second = new_subscription(server, tv, "dlna/cds/events", own_port)
        came = status == 200 and wait_for(events, second, wait)
    finally:
        stop.set()
        flooder.join(REQUEST_SECONDS + FLOOD_PAUSE_SECONDS)
    seconds = events[second] - start if came else None
    figure = f"{seconds:.2f} s" if came else f"none within {wait:.0f} s (subscription status {status})"
    print(f"renewal {renewal}, initial event in {figure}")
    if renewal != 200:
        print(f"FAIL: the TV's renewal got {renewal} while another device flooded")
        return 1
    if not came or seconds > limit:
        print(f"FAIL: the TV's new subscription's initial event: {figure} (at most {limit} s)")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
