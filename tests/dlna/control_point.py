#!/usr/bin/python3
"""A UPnP control point (GUPnP and GUPnP-AV, as media players on Linux use them) that checks a
media server the way a TV's player would: it finds the server by SSDP on one network interface,
browses from the root down to a file (every object naming the container it was listed in as
its parent), reads the file's res (protocolInfo and URL), fetches a byte range of it with a
TV's DLNA headers and compares it with the file on disk, fetches its subtitle (a text/srt res
and the CaptionInfo.sec header Samsung TVs read), asks for the item's own metadata and checks
that the ConnectionManager's GetProtocolInfo names the item's kind of res; an unknown object, an
unknown action and a count of 2^32-1 get their faults or a bounded answer.
Optionally it checks the facts read from files on the items beside the first (res duration and
resolution; with --art an upnp:albumArtURI answering a JPEG picture too), browsing the folder
again while they are still being read, and subscribes to the ContentDirectory's events and
requires the initial event.

Exits 0 and prints "control point: PASS" and the res URL, or exits 1 with "FAIL: <why>".
Every wait is bounded (--timeout for discovery and the event, 10 s for each request).

Usage: control_point.py --iface IF --name REGEX --file LOCAL_FILE [--path TITLE]...
         [--find TITLE] [--srt LOCAL_SRT] [--facts TITLE=WxH:SECONDS]... [--art]
         [--subscribe] [--timeout SECONDS]
  --path   the titles to open from the root "0", the last one the item; "*" takes the first
           container, "~REGEX" the first child whose title matches REGEX
  --find   after --path, go into the first container until an item with this title is there
  --facts  an item in the same folder whose res says this resolution and a duration within
           DURATION_SLACK of SECONDS
  --art    the --facts items' upnp:albumArtURI fetches a JPEG picture (as image/jpeg)
"""
import argparse
import re
import sys
import time
import urllib.request

import gi

gi.require_version("GSSDP", "1.6")
gi.require_version("GUPnP", "1.6")
gi.require_version("GUPnPAV", "1.0")
from gi.repository import GLib, GObject, GSSDP, GUPnP, GUPnPAV  # noqa: E402

MEDIA_SERVER = "urn:schemas-upnp-org:device:MediaServer:1"
CONTENT_DIRECTORY = "urn:schemas-upnp-org:service:ContentDirectory:1"
CONNECTION_MANAGER = "urn:schemas-upnp-org:service:ConnectionManager:1"
# Some TVs and game consoles list only servers that offer this one.
REGISTRAR = "urn:microsoft.com:service:X_MS_MediaReceiverRegistrar:1"
REQUEST_SECONDS = 10  # each SOAP call and each fetch
PAGE = 50  # children asked for per Browse, so that paging is exercised
MAX_PAGES = 200  # 10,000 children at most in one folder
MAX_DEPTH = 16  # containers entered by --find
RANGE_BYTES = 64 * 1024
# A server answers a Browse before it has read every file's facts and reads the rest behind it:
# the folder is browsed again, a pause apart, this many times at most.
FACTS_BROWSES = 10
FACTS_PAUSE_SECONDS = 0.3
DURATION_SLACK = 0.1  # seconds between res@duration and the length the file was made with


class Failure(Exception):
    pass


def run_until(done, seconds, what):
    """Runs the main loop until done() holds; fails naming `what` after `seconds`."""
    context = GLib.MainContext.default()
    expired = []
    timer = GLib.timeout_add(int(seconds * 1000), lambda: expired.append(True) and False)
    try:
        while not done():
            if expired:
                raise Failure(f"{what} within {seconds} s")
            context.iteration(True)
    finally:
        if not expired:
            GLib.source_remove(timer)


def discover(iface, name_pattern, seconds):
    context = GUPnP.Context.new_full(iface, None, 0, GSSDP.UDAVersion.VERSION_1_0)
    context.get_session().set_timeout(REQUEST_SECONDS)
    point = GUPnP.ControlPoint.new(context, MEDIA_SERVER)
    found, seen = [], []

    def available(_point, device):
        name = device.get_friendly_name() or ""
        seen.append(f"{name!r} at {device.get_location()}")
        if re.search(name_pattern, name) and not found:
            found.append(device)

    point.connect("device-proxy-available", available)
    point.set_active(True)
    try:
        run_until(lambda: found, seconds, f"no MediaServer named /{name_pattern}/ found on {iface}")
    except Failure as e:
        raise Failure(f"{e} (seen: {seen or 'none'})")
    device = found[0]
    print(f"found {device.get_friendly_name()!r} at {device.get_location()}")
    services = {t: device.get_service(t) for t in (CONTENT_DIRECTORY, CONNECTION_MANAGER, REGISTRAR)}
    missing = [t for t, s in services.items() if s is None]
    if missing:
        raise Failure(f"the device does not describe {missing}")
    # The context and control point must live as long as the services are used.
    return services[CONTENT_DIRECTORY], services[CONNECTION_MANAGER], (context, point)


def value(gtype, python_value):
    v = GObject.Value(gtype)
    v.set_value(python_value)
    return v


def browse(service, object_id, flag, start=0, count=0):
    """One Browse; returns (objects, total matches). Objects: GUPnPAV.DIDLLiteObject."""
    names = ["ObjectID", "BrowseFlag", "Filter", "StartingIndex", "RequestedCount", "SortCriteria"]
    values = [value(GObject.TYPE_STRING, object_id), value(GObject.TYPE_STRING, flag),
              value(GObject.TYPE_STRING, "*"), value(GObject.TYPE_UINT, start),
              value(GObject.TYPE_UINT, count), value(GObject.TYPE_STRING, "")]
    action = GUPnP.ServiceProxyAction.new_from_list("Browse", names, values)
    try:
        service.call_action(action, None)
        ok, out = action.get_result_list(["Result", "NumberReturned", "TotalMatches"],
                                         [GObject.TYPE_STRING, GObject.TYPE_UINT, GObject.TYPE_UINT])
    except GLib.Error as e:
        raise Failure(f"Browse {flag} of {object_id!r} failed: {e.message}")
    if not ok:
        raise Failure(f"Browse {flag} of {object_id!r}: no Result/NumberReturned/TotalMatches")
    didl, returned, total = out
    objects = []
    parser = GUPnPAV.DIDLLiteParser()
    parser.connect("object-available", lambda _p, o: objects.append(o))
    try:
        parser.parse_didl(didl)
    except GLib.Error as e:
        raise Failure(f"Browse {flag} of {object_id!r}: DIDL-Lite not understood ({e.message}): {didl[:300]}")
    if len(objects) != returned:
        raise Failure(f"Browse {flag} of {object_id!r}: NumberReturned {returned}, {len(objects)} objects")
    return objects, total


def children(service, container_id):
    """All children of a container, asked for in pages as players do."""
    objects, total = browse(service, container_id, "BrowseDirectChildren", 0, PAGE)
    for _ in range(MAX_PAGES):
        if len(objects) >= total:
            return objects
        page, total = browse(service, container_id, "BrowseDirectChildren", len(objects), PAGE)
        if not page:
            raise Failure(f"Browse of {container_id!r} stopped at {len(objects)} of {total} children")
        objects += page
    raise Failure(f"{container_id!r} has more than {PAGE * MAX_PAGES} children")


def is_container(o):
    return isinstance(o, GUPnPAV.DIDLLiteContainer)


def pick(objects, step, where):
    titles = [o.get_title() for o in objects]
    for o in objects:
        if step == "*":
            if is_container(o):
                return o
        elif step.startswith("~"):
            if re.search(step[1:], o.get_title() or ""):
                return o
        elif o.get_title() == step:
            return o
    raise Failure(f"no {step!r} in {where} (titles: {titles[:40]})")


def walk(service, path, find):
    current, where = "0", "the root"
    item = None
    for i, step in enumerate(path):
        o = pick(children(service, current), step, where)
        if o.get_parent_id() != current:
            raise Failure(f"{o.get_title()!r} in {where} names {o.get_parent_id()!r} as its parent, not {current!r}")
        if i + 1 < len(path) or find:
            if not is_container(o):
                raise Failure(f"{o.get_title()!r} in {where} is not a container")
            current, where = o.get_id(), repr(o.get_title())
        else:
            item = o
    for _ in range(MAX_DEPTH if find else 0):
        objects = children(service, current)
        items = [o for o in objects if not is_container(o) and o.get_title() == find and o.get_parent_id() == current]
        if items:
            item = items[0]
            break
        o = pick(objects, "*", where)
        current, where = o.get_id(), repr(o.get_title())
    if item is None or is_container(item):
        raise Failure(f"the path ended at a container, not an item: {path} {find or ''}")
    print(f"item {item.get_id()!r} {item.get_title()!r} class {item.get_upnp_class()}")
    return item


def get(url, headers):
    request = urllib.request.Request(url, headers=headers)
    try:
        with urllib.request.urlopen(request, timeout=REQUEST_SECONDS) as answer:
            return answer.status, answer.headers, answer.read(64 * 1024 * 1024)
    except OSError as e:
        raise Failure(f"GET {url} {headers} failed: {e}")


# What a TV's player sends with its requests for a file: the DLNA features, streaming, and
# (Samsung) where the subtitle is.
TV_HEADERS = {"getcontentFeatures.dlna.org": "1", "transferMode.dlna.org": "Streaming",
              "getCaptionInfo.sec": "1"}


def fetch(url, start, length, expected, what):
    status, headers, body = get(url, {"Range": f"bytes={start}-{start + length - 1}", **TV_HEADERS})
    if status != 206:
        raise Failure(f"{what}: a range request got {status}, not 206")
    wanted = f"bytes {start}-{start + length - 1}/{len(expected)}"
    if headers.get("Content-Range") != wanted:
        raise Failure(f"{what}: Content-Range {headers.get('Content-Range')!r}, not {wanted!r}")
    if body != expected[start:start + length]:
        raise Failure(f"{what}: bytes {start}-{start + length - 1} differ from the local file")
    return headers


def check_item(item, local_file, srt):
    expected = open(local_file, "rb").read()
    resources = item.get_resources()
    media = [r for r in resources if not (r.get_protocol_info().get_mime_type() or "").startswith("text/")]
    if not media:
        raise Failure(f"the item has no media res ({[r.get_uri() for r in resources]})")
    res = media[0]
    info = res.get_protocol_info()
    print(f"res {res.get_uri()} protocolInfo {info.to_string()}")
    if info.get_protocol() != "http-get":
        raise Failure(f"protocolInfo {info.to_string()!r} is not http-get")
    if res.get_size64() not in (-1, len(expected)):
        raise Failure(f"res size {res.get_size64()}, the file has {len(expected)} bytes")
    start = min(len(expected) // 2, max(0, len(expected) - RANGE_BYTES))
    headers = fetch(res.get_uri(), start, min(RANGE_BYTES, len(expected)), expected, "the res URL")
    if headers.get_content_type() != info.get_mime_type():
        raise Failure(f"Content-Type {headers.get_content_type()!r}, protocolInfo says {info.get_mime_type()!r}")
    if headers.get("transferMode.dlna.org") != "Streaming":
        raise Failure(f"transferMode.dlna.org {headers.get('transferMode.dlna.org')!r}, not 'Streaming'")
    features = headers.get("contentFeatures.dlna.org") or ""
    if "DLNA.ORG_OP=01" not in features:
        raise Failure(f"contentFeatures.dlna.org {features!r} does not offer seeking by bytes (DLNA.ORG_OP=01)")
    if srt:
        subtitle = open(srt, "rb").read()
        texts = [r.get_uri() for r in resources
                 if (r.get_protocol_info().get_mime_type() or "") in ("text/srt", "application/x-subrip")]
        if not texts and res.get_subtitle_file_uri():
            texts = [res.get_subtitle_file_uri()]
        caption = headers.get("CaptionInfo.sec")
        if not texts or not caption:
            raise Failure(f"the item offers no subtitle (text/srt res: {texts}, CaptionInfo.sec: {caption!r})")
        for uri in {texts[0], caption}:
            status, _, body = get(uri, {})
            if status != 200 or body != subtitle:
                raise Failure(f"the subtitle {uri} answered {status} and {len(body)} bytes, not the local file's {len(subtitle)}")
            print(f"subtitle {uri}")
    return res.get_uri()


def parse_facts(texts):
    """"TITLE=WxH:SECONDS" -> {title: ((w, h), seconds)}."""
    wanted = {}
    for text in texts:
        m = re.fullmatch(r"(.+)=(\d+)x(\d+):([0-9.]+)", text)
        if not m:
            raise SystemExit(f"--facts {text!r} is not TITLE=WxH:SECONDS")
        wanted[m.group(1)] = ((int(m.group(2)), int(m.group(3))), float(m.group(4)))
    return wanted


def duration_seconds(item):
    """The first media res's duration in seconds, None without one. GUPnP-AV's own accessor
    gives whole seconds; players show the fraction too, so it is read from the object's XML
    (and must agree with GUPnP's whole seconds)."""
    for attributes in re.findall(r"<res\b([^>]*)>", item.get_xml_string() or ""):
        if re.search(r'protocolInfo="[^"]*:text/', attributes):
            continue
        m = re.search(r'duration="(\d+):([0-5]\d):([0-5]\d(?:\.\d+)?)"', attributes)
        if not m:
            return None
        return int(m.group(1)) * 3600 + int(m.group(2)) * 60 + float(m.group(3))
    return None


def facts_missing(item, size, seconds):
    """Why the item's res does not yet say its facts, or None; fails when they are wrong."""
    res = [r for r in item.get_resources() if not (r.get_protocol_info().get_mime_type() or "").startswith("text/")]
    if not res:
        raise Failure(f"{item.get_title()!r} has no media res")
    found = duration_seconds(item)
    got = (res[0].get_width(), res[0].get_height())
    if found is None or got[0] <= 0:
        return f"{item.get_title()!r}: duration {found}, resolution {got}"
    if abs(found - seconds) > DURATION_SLACK or int(found) != res[0].get_duration():
        raise Failure(f"{item.get_title()!r}: res duration {found} s (GUPnP: {res[0].get_duration()}), "
                      f"the file lasts {seconds} s")
    if got != size:
        raise Failure(f"{item.get_title()!r}: res resolution {got[0]}x{got[1]}, the file is {size[0]}x{size[1]}")
    return None


def check_art(objects):
    """Every item's upnp:albumArtURI answers a JPEG picture, with its media type."""
    for url in sorted({o.get_album_art() or "" for o in objects}):
        if not url:
            raise Failure(f"no upnp:albumArtURI on {[o.get_title() for o in objects if not o.get_album_art()]}")
        status, headers, body = get(url, {})
        if status != 200 or headers.get_content_type() != "image/jpeg" or not body.startswith(b"\xff\xd8\xff"):
            raise Failure(f"the art {url} answered {status}, {headers.get_content_type()!r} and "
                          f"{len(body)} bytes starting {body[:4]!r}, not a JPEG picture")
        print(f"art {url}: image/jpeg, {len(body)} bytes")


def check_facts(service, folder_id, wanted, art):
    """The items titled in wanted, in the folder, come to say their facts within the bound (a
    scanning server may also list them late)."""
    for browse_count in range(1, FACTS_BROWSES + 1):
        objects = {o.get_title(): o for o in children(service, folder_id) if not is_container(o)}
        late = [f"{t!r} not listed" if t not in objects else facts_missing(objects[t], size, seconds)
                for t, (size, seconds) in wanted.items()]
        late = [why for why in late if why]
        if not late:
            for t in wanted:
                res = objects[t].get_resources()[0]
                print(f"facts of {t!r} at Browse {browse_count}: {duration_seconds(objects[t]):.3f} s, "
                      f"{res.get_width()}x{res.get_height()}")
            if art:
                check_art([objects[t] for t in wanted])
            return
        if browse_count < FACTS_BROWSES:
            time.sleep(FACTS_PAUSE_SECONDS)
    raise Failure(f"after {FACTS_BROWSES} Browses {FACTS_PAUSE_SECONDS} s apart, still without facts: {late}")


def check_protocols(manager, item):
    """The ConnectionManager's Source names the item's kind of res, as TVs check before playing."""
    action = GUPnP.ServiceProxyAction.new_from_list("GetProtocolInfo", [], [])
    try:
        manager.call_action(action, None)
        ok, out = action.get_result_list(["Source"], [GObject.TYPE_STRING])
    except GLib.Error as e:
        raise Failure(f"GetProtocolInfo failed: {e.message}")
    info = item.get_resources()[0].get_protocol_info()
    wanted = f"http-get:*:{info.get_mime_type()}:"
    if not ok or wanted not in (out[0] or ""):
        raise Failure(f"GetProtocolInfo's Source does not name {wanted}: {(out[0] or '')[:300] if ok else None}")


def check_faults(service, item):
    """What TVs also send: an unknown object (701), an action the server lacks (401), and a count
    past any folder's size. Each is answered, the first two as UPnP faults, and the server is
    still there for the next."""
    def fault(name, names, values):
        action = GUPnP.ServiceProxyAction.new_from_list(name, names, values)
        try:
            service.call_action(action, None)
        except GLib.Error as e:
            return e.code, e.message
        return None, "an answer"

    names = ["ObjectID", "BrowseFlag", "Filter", "StartingIndex", "RequestedCount", "SortCriteria"]
    unknown = [value(GObject.TYPE_STRING, "no$such-object"), value(GObject.TYPE_STRING, "BrowseMetadata"),
               value(GObject.TYPE_STRING, "*"), value(GObject.TYPE_UINT, 0), value(GObject.TYPE_UINT, 0),
               value(GObject.TYPE_STRING, "")]
    for name, arguments, wanted in (("Browse", unknown, 701), ("X_NoSuchAction", [], 401)):
        code, message = fault(name, names if arguments else [], arguments)
        if code != wanted:
            raise Failure(f"{name} {'of an unknown object ' if arguments else ''}got {message!r}, not the fault {wanted}")
    # A count of 2^32-1 (a valid ui4): a bounded answer, or refused as a bad argument (402).
    huge = [value(GObject.TYPE_STRING, item.get_parent_id()), value(GObject.TYPE_STRING, "BrowseDirectChildren"),
            value(GObject.TYPE_STRING, "*"), value(GObject.TYPE_UINT, 0), value(GObject.TYPE_UINT, 0xFFFFFFFF),
            value(GObject.TYPE_STRING, "")]
    code, message = fault("Browse", names, huge)
    if code is None:
        objects, total = browse(service, item.get_parent_id(), "BrowseDirectChildren", 0, 0xFFFFFFFF)
        if not objects or len(objects) > total:
            raise Failure(f"a Browse for 4294967295 children gave {len(objects)} of {total}")
    elif code != 402:
        raise Failure(f"a Browse for 4294967295 children got {message!r}")
    browse(service, item.get_id(), "BrowseMetadata")  # still answering


def check_metadata(service, item):
    objects, total = browse(service, item.get_id(), "BrowseMetadata", 0, 0)
    if total != 1 or len(objects) != 1:
        raise Failure(f"BrowseMetadata of {item.get_id()!r}: {len(objects)} objects, TotalMatches {total}")
    o = objects[0]
    if (o.get_id(), o.get_parent_id(), o.get_title()) != (item.get_id(), item.get_parent_id(), item.get_title()) \
            or is_container(o):
        raise Failure(f"BrowseMetadata of {item.get_id()!r} gave {o.get_id()!r} {o.get_title()!r} "
                      f"with parent {o.get_parent_id()!r}, not {item.get_parent_id()!r}")


def check_events(service, seconds):
    got = []
    service.add_notify("SystemUpdateID", GObject.TYPE_UINT,
                       lambda _s, _var, v, *_: got.append(v), None)
    lost = []
    service.connect("subscription-lost", lambda _s, error: lost.append(error.message))
    service.set_subscribed(True)
    run_until(lambda: got or lost, seconds, "no initial event (SystemUpdateID) after SUBSCRIBE")
    if lost:
        raise Failure(f"the subscription failed: {lost[0]}")
    print(f"initial event: SystemUpdateID {got[0]}")
    service.set_subscribed(False)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--iface", required=True)
    parser.add_argument("--name", required=True, help="regex the friendlyName must match")
    parser.add_argument("--file", required=True, help="the local file the item must serve")
    parser.add_argument("--path", action="append", default=[])
    parser.add_argument("--find")
    parser.add_argument("--srt", help="the local subtitle the item must offer")
    parser.add_argument("--facts", action="append", default=[], help="TITLE=WxH:SECONDS")
    parser.add_argument("--art", action="store_true", help="the --facts items have JPEG art")
    parser.add_argument("--subscribe", action="store_true")
    parser.add_argument("--timeout", type=float, default=15)
    args = parser.parse_args()
    if not args.path and not args.find:
        parser.error("give --path or --find")
    facts = parse_facts(args.facts)
    try:
        service, manager, _keep = discover(args.iface, args.name, args.timeout)
        item = walk(service, args.path, args.find)
        url = check_item(item, args.file, args.srt)
        check_protocols(manager, item)
        check_metadata(service, item)
        check_faults(service, item)
        if facts:
            check_facts(service, item.get_parent_id(), facts, args.art)
        if args.subscribe:
            check_events(service, args.timeout)
    except Failure as e:
        print(f"FAIL: {e}")
        return 1
    print(f"control point: PASS {url}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
