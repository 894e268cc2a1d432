#!/usr/bin/env python3
"""The media-server benchmark's client (bench/dlna_bench.sh), standard library only, so that its
own cost is the same for every server it measures. Prints key=value lines.

  dlna_client.py find IFACE_ADDRESS SERVER_ADDRESS START_NS
      Sends an M-SEARCH for a MediaServer (MX 1) every 200 ms until the server answers, at
      most 30 s; found_ms = time from START_NS (the server's start) to the answer,
      location = its description URL.
  dlna_client.py browse LOCATION COUNT START_NS REPEATS TITLE...
      Opens the titles from the root (the first container for "*", the first whose title
      matches REGEX for "~REGEX"), then lists the last one's children as a TV does, in pages
      of 100. ready_ms: from START_NS until the folder counts
      COUNT items (polled every 0.5 s, at most SCAN_SECONDS: a server that scans first has them only
      after its scan); first_ms: the first full listing then; repeat_ms: the median of REPEATS
      listings more, repeat_min_ms their best; facts_first and facts_repeated: how many items
      of those listings carried a duration.
  dlna_client.py page LOCATION COUNT START_NS REPEATS TITLE...
      Opens the titles as browse does and waits until the folder counts COUNT items (at most
      SCAN_SECONDS); big_ready_ms: from START_NS until then; page_ms: the median of REPEATS Browses of
      its first page of 100 (the first of them read before any other); full_ms: one listing of
      the whole folder after them.
  dlna_client.py repeat LOCATION REPEATS TITLE...
      Opens the titles as browse does and lists the folder REPEATS times, in pages of 100; prints
      repeat_ms, their median (the server's processor time meanwhile is the caller's to read).
"""
import re
import socket
import statistics
import sys
import time
import urllib.parse
import urllib.request
import xml.etree.ElementTree as ET

CDS = "urn:schemas-upnp-org:service:ContentDirectory:1"
PAGE = 100
REQUEST_SECONDS = 10
SCAN_SECONDS = 900  # a scanning server lists 22,000 files only after its scan
DIDL = {"didl": "urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/",
        "dc": "http://purl.org/dc/elements/1.1/"}
RES = "{urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/}res"


def fail(message):
    print(f"FAIL: {message}")
    sys.exit(1)


def since(start_ns):
    return (time.time_ns() - start_ns) / 1e6


def find(own, server, start_ns):
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.bind((own, 0))
    sock.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF, socket.inet_aton(own))
    sock.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_TTL, 2)
    search = ("M-SEARCH * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\nMAN: \"ssdp:discover\"\r\n"
              "MX: 1\r\nST: urn:schemas-upnp-org:device:MediaServer:1\r\n\r\n").encode()
    deadline = time.monotonic() + 30
    while time.monotonic() < deadline:
        sock.sendto(search, ("239.255.255.250", 1900))
        until = time.monotonic() + 0.2
        while (left := until - time.monotonic()) > 0:
            sock.settimeout(left)
            try:
                data, peer = sock.recvfrom(4096)
            except socket.timeout:
                break
            location = re.search(rb"(?im)^location:\s*(\S+)", data)
            if peer[0] == server and data.startswith(b"HTTP/1.1 200") and location:
                print(f"found_ms={since(start_ns):.0f}")
                print(f"location={location.group(1).decode()}")
                return
    fail("no answer to M-SEARCH within 30 s")


def control_url(location):
    with urllib.request.urlopen(location, timeout=REQUEST_SECONDS) as answer:
        root = ET.fromstring(answer.read())
    for service in root.iter():
        if service.tag.endswith("}service"):
            fields = {c.tag.split("}")[-1]: (c.text or "").strip() for c in service}
            if fields.get("serviceType") == CDS:
                return urllib.parse.urljoin(location, fields["controlURL"])
    fail(f"no ContentDirectory:1 in {location}")


def browse(control, object_id, start, count):
    body = (f'<?xml version="1.0" encoding="utf-8"?><s:Envelope '
            f'xmlns:s="http://schemas.xmlsoap.org/soap/envelope/" '
            f's:encodingStyle="http://schemas.xmlsoap.org/soap/encoding/"><s:Body>'
            f'<u:Browse xmlns:u="{CDS}"><ObjectID>{object_id}</ObjectID>'
            f'<BrowseFlag>BrowseDirectChildren</BrowseFlag><Filter>*</Filter>'
            f'<StartingIndex>{start}</StartingIndex><RequestedCount>{count}</RequestedCount>'
            f'<SortCriteria></SortCriteria></u:Browse></s:Body></s:Envelope>').encode()
    request = urllib.request.Request(control, data=body, headers={
        "Content-Type": 'text/xml; charset="utf-8"', "SOAPACTION": f'"{CDS}#Browse"'})
    with urllib.request.urlopen(request, timeout=REQUEST_SECONDS) as answer:
        envelope = ET.fromstring(answer.read())
    fields = {e.tag.split("}")[-1]: e.text or "" for e in envelope.iter()}
    didl = ET.fromstring(fields["Result"])
    objects = [(e.get("id"), e.findtext("dc:title", "", DIDL), e.tag.endswith("}container"),
                any(r.get("duration") for r in e.iter(RES)))
               for e in didl if e.tag.endswith("}item") or e.tag.endswith("}container")]
    return objects, int(fields["TotalMatches"])


def listing(control, object_id):
    objects, total = browse(control, object_id, 0, PAGE)
    while len(objects) < total:
        page, total = browse(control, object_id, len(objects), PAGE)
        if not page:
            break
        objects += page
    return objects


def resolve(control, titles):
    """The id of the container at the end of the titles, or None while one is missing."""
    current = "0"
    for title in titles:
        children = [o for o in listing(control, current) if o[2]]
        match = next((o for o in children if title == "*" or o[1] == title or
                      (title.startswith("~") and re.search(title[1:], o[1]))), None)
        if match is None:
            return None
        current = match[0]
    return current


def with_duration(objects):
    return len([o for o in objects if o[3]])


def wait_ready(control, count, titles, seconds):
    """The id of the folder at the end of titles once it counts count items."""
    deadline = time.monotonic() + seconds
    current = None
    while True:  # a scanning server shows its folders, and their items, as it finds them
        try:
            if current is None:
                current = resolve(control, titles)
            if current is not None and browse(control, current, 0, 1)[1] >= count:
                break
        except (OSError, ET.ParseError, KeyError):
            pass
        if time.monotonic() > deadline:
            fail(f"the {count} items of {titles} were not all listed within {seconds} s")
        time.sleep(0.5)
    return current


def browse_bench(location, count, start_ns, repeats, titles):
    control = control_url(location)
    current = wait_ready(control, count, titles, SCAN_SECONDS)
    ready_ms = since(start_ns)
    t0 = time.perf_counter()
    objects = listing(control, current)
    first_ms = (time.perf_counter() - t0) * 1000
    if len([o for o in objects if not o[2]]) < count:
        fail(f"the first listing gave {len(objects)} objects")
    print(f"ready_ms={ready_ms:.0f}")
    print(f"first_ms={first_ms:.1f}")
    print(f"facts_first={with_duration(objects)}")
    times = []
    for _ in range(repeats):
        t0 = time.perf_counter()
        objects = listing(control, current)
        times.append((time.perf_counter() - t0) * 1000)
        if len([o for o in objects if not o[2]]) < count:
            fail(f"a repeated listing gave {len(objects)} objects")
    print(f"repeat_ms={statistics.median(times):.1f}")
    print(f"repeat_min_ms={min(times):.1f}")
    print(f"facts_repeated={with_duration(objects)}")


def page_bench(location, count, start_ns, repeats, titles):
    control = control_url(location)
    current = wait_ready(control, count, titles, SCAN_SECONDS)
    print(f"big_ready_ms={since(start_ns):.0f}")
    times = []
    for _ in range(repeats):
        t0 = time.perf_counter()
        page, _ = browse(control, current, 0, PAGE)
        times.append((time.perf_counter() - t0) * 1000)
        if len(page) < PAGE:
            fail(f"a first page gave {len(page)} objects")
    print(f"page_first_ms={times[0]:.1f}")
    print(f"page_ms={statistics.median(times):.1f}")
    t0 = time.perf_counter()
    objects = listing(control, current)
    print(f"full_ms={(time.perf_counter() - t0) * 1000:.0f}")
    if len(objects) < count:
        fail(f"the listing gave {len(objects)} objects")


def repeat_bench(location, repeats, titles):
    control = control_url(location)
    current = resolve(control, titles)
    if current is None:
        fail(f"no folder {titles}")
    times = []
    for _ in range(repeats):
        t0 = time.perf_counter()
        listing(control, current)
        times.append((time.perf_counter() - t0) * 1000)
    print(f"repeat_ms={statistics.median(times):.1f}")


def main():
    if len(sys.argv) == 5 and sys.argv[1] == "find":
        find(sys.argv[2], sys.argv[3], int(sys.argv[4]))
    elif len(sys.argv) >= 6 and sys.argv[1] == "browse":
        browse_bench(sys.argv[2], int(sys.argv[3]), int(sys.argv[4]), int(sys.argv[5]), sys.argv[6:])
    elif len(sys.argv) >= 5 and sys.argv[1] == "repeat":
        repeat_bench(sys.argv[2], int(sys.argv[3]), sys.argv[4:])
    elif len(sys.argv) >= 6 and sys.argv[1] == "page":
        page_bench(sys.argv[2], int(sys.argv[3]), int(sys.argv[4]), int(sys.argv[5]), sys.argv[6:])
    else:
        fail(__doc__)


if __name__ == "__main__":
    main()
