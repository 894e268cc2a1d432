#!/usr/bin/env python3
"""Devices of netns_pair.sh's hostile LAN, for the namespace tests: each speaks from an address
of its own by binding to it before it connects (or listens).

  serve-pages ADDRESS PORT FOLDER
      The NAS: FOLDER's files over HTTP at ADDRESS:PORT, until stopped. (Python's own server
      asks the name service for its address's name first, which in a namespace waits for long.)
  echo-pages PORT LOG READY
      A page server on every address of its namespace (run it in the PC's to stand for what only
      the PC reaches): answers every GET with "<b>page of A</b>", A the address it was asked at,
      and appends A to LOG; makes the file READY once it listens.

  hold-answers FROM SERVER PATH COUNT SECONDS
      COUNT connections from FROM ask for PATH and never read (a tiny receive buffer, so that
      the server's answers stay unsent); waits at most SECONDS for every answer to begin, prints
      "begun K of COUNT", then holds the connections until stdin closes (at most 300 s).
  flood TV ATTACKER SERVER COUNT
      The TV opens a connection and sends a part of a request's head; then COUNT connections
      from ATTACKER send nothing. Prints how many of those the server left open and whether the
      TV's connection outlived the flood ("tv: answered"), or when it was closed.
SERVER is ADDRESS:PORT. Every wait is bounded; the process closes what it opened as it ends.
"""
import functools
import http.server
import select
import socket
import socketserver
import sys
import time

TINY_RECEIVE_BUFFER = 1024  # the kernel doubles it and keeps a floor: a few KiB in all
HOLD_LIMIT_S = 300          # the test stops us long before; a leftover ends by itself
FLOOD_SETTLE_S = 1.0        # no connection closed for this long: the server is done choosing
FLOOD_LIMIT_S = 20          # the whole wait for the server to settle after the flood


def read_head(s):
    """The bytes s sends up to its head's end (or its close, or its time-out): a head at most."""
    head = b""
    try:
        while b"\r\n\r\n" not in head:
            piece = s.recv(65536)
            if not piece:
                break
            head += piece
    except OSError:
        pass
    return head


def connect(source, server, receive_buffer=None):
    host, port = server.rsplit(":", 1)
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    if receive_buffer:
        s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, receive_buffer)
    s.bind((source, 0))
    s.settimeout(10)
    s.connect((host, int(port)))
    return s


def request(path):
    return ("GET %s HTTP/1.1\r\nHost: x\r\n\r\n" % path).encode("latin-1")


def readable(sockets, timeout):
    if not sockets:
        return []
    poller = select.poll()
    by_fd = {s.fileno(): s for s in sockets}
    for fd in by_fd:
        poller.register(fd, select.POLLIN | select.POLLHUP | select.POLLERR)
    return [by_fd[fd] for fd, _ in poller.poll(int(timeout * 1000))]


def hold_answers(source, server, path, count, seconds):
    sockets = [connect(source, server, TINY_RECEIVE_BUFFER) for _ in range(count)]
    for s in sockets:
        s.sendall(request(path))
    waiting, begun = list(sockets), 0
    until = time.monotonic() + seconds
    while waiting and time.monotonic() < until:
        for s in readable(waiting, until - time.monotonic()):
            waiting.remove(s)  # peeked at only: what came stays unread
            begun += 1
    print("begun %d of %d" % (begun, count), flush=True)
    readable([sys.stdin], HOLD_LIMIT_S)
    return 0


def closed_by_peer(s):
    try:
        return s.recv(1, socket.MSG_PEEK | socket.MSG_DONTWAIT) == b""
    except BlockingIOError:
        return False
    except OSError:
        return True


def flood(tv_source, attacker_source, server, count):
    tv = connect(tv_source, server)
    tv_opened = time.monotonic()
    tv.sendall(b"GET /test HTTP/1.1\r\nHost: x\r\n")
    attackers = []
    try:
        for _ in range(count):
            attackers.append(connect(attacker_source, server))
    except OSError as e:
        print("attacker: connect %d failed: %s" % (len(attackers) + 1, e), flush=True)
    flooded = time.monotonic()
    open_ones, last_change = list(attackers), time.monotonic()
    tv_closed = None
    while time.monotonic() - last_change < FLOOD_SETTLE_S and time.monotonic() - flooded < FLOOD_LIMIT_S:
        for s in readable(open_ones + ([tv] if tv_closed is None else []), 0.2):
            if s is tv:
                if closed_by_peer(tv):
                    tv_closed = time.monotonic() - tv_opened
            elif closed_by_peer(s):
                open_ones.remove(s)
                last_change = time.monotonic()
    print("attacker: %d of %d open, flood took %.1f s" % (len(open_ones), len(attackers), flooded - tv_opened),
          flush=True)
    if tv_closed is not None:
        print("tv: closed %.1f s after it opened" % tv_closed, flush=True)
        return 1
    tv.sendall(b"\r\n")
    tv.settimeout(5)
    answer = read_head(tv)
    if answer.startswith(b"HTTP/1.1 200"):
        print("tv: answered %.1f s after it opened" % (time.monotonic() - tv_opened), flush=True)
        return 0
    print("tv: no answer (%r) %.1f s after it opened" % (answer[:40], time.monotonic() - tv_opened), flush=True)
    return 1


def serve_pages(address, port, folder):
    handler = functools.partial(http.server.SimpleHTTPRequestHandler, directory=folder)
    socketserver.ThreadingTCPServer.allow_reuse_address = True
    socketserver.ThreadingTCPServer.daemon_threads = True
    with socketserver.ThreadingTCPServer((address, port), handler) as server:
        server.serve_forever()
    return 0


class EchoPage(http.server.BaseHTTPRequestHandler):
    log = ""

    def do_GET(self):
        here = self.connection.getsockname()[0]
        with open(self.log, "a") as f:
            f.write(here + "\n")
        body = ("<b>page of %s</b>" % here).encode()
        self.send_response(200)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


def echo_pages(port, log, ready):
    EchoPage.log = log
    socketserver.ThreadingTCPServer.allow_reuse_address = True
    socketserver.ThreadingTCPServer.daemon_threads = True
    with socketserver.ThreadingTCPServer(("0.0.0.0", port), EchoPage) as server:
        open(ready, "w").close()
        server.serve_forever()
    return 0


def main(argv):
    if len(argv) == 4 and argv[0] == "serve-pages":
        return serve_pages(argv[1], int(argv[2]), argv[3])
    if len(argv) == 4 and argv[0] == "echo-pages":
        return echo_pages(int(argv[1]), argv[2], argv[3])
    if len(argv) == 6 and argv[0] == "hold-answers":
        return hold_answers(argv[1], argv[2], argv[3], int(argv[4]), float(argv[5]))
    if len(argv) == 5 and argv[0] == "flood":
        return flood(argv[1], argv[2], argv[3], int(argv[4]))
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
