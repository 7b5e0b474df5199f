"""A small driver for headless Chromium through its DevTools protocol, and a static file
server for the page: what the browser tests share. Needs Debian's chromium and
python3-websocket."""
import base64
import functools
import http.server
import json
import os
import shutil
import socketserver
import subprocess
import tempfile
import threading
import time
import urllib.request

import websocket

DEADLINE = 60.0  # seconds: generous, for a loaded machine


class Server:
    """Serves `folder` on localhost from a thread, as any static file host would. With
    `isolated`, the pages are cross-origin isolated (the two headers that ask for it), which
    gives them the browser's fine clock: the benchmark's, not the tests'."""

    def __init__(self, folder, isolated=False):
        handler = functools.partial(Isolated if isolated else Quiet, directory=folder)
        self.httpd = socketserver.ThreadingTCPServer(("127.0.0.1", 0), handler)
        self.httpd.daemon_threads = True
        self.port = self.httpd.server_address[1]
        threading.Thread(target=self.httpd.serve_forever, daemon=True).start()

    def url(self, query=""):
        return "http://127.0.0.1:%d/index.html%s" % (self.port, query)

    def close(self):
        self.httpd.shutdown()
        self.httpd.server_close()


class Quiet(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


class Isolated(Quiet):
    def end_headers(self):
        self.send_header("Cross-Origin-Opener-Policy", "same-origin")
        self.send_header("Cross-Origin-Embedder-Policy", "require-corp")
        super().end_headers()


def wait_for(what, check, deadline=DEADLINE, every=0.05):
    """Polls `check` until it gives a true value and returns it; fails naming `what`."""
    end = time.monotonic() + deadline
    while True:
        value = check()
        if value:
            return value
        if time.monotonic() > end:
            raise AssertionError("never came within %.0f s: %s" % (deadline, what))
        time.sleep(every)


def read_first_line(path):
    try:
        with open(path) as f:
            return f.readline().strip()
    except FileNotFoundError:
        return None


class Browser:
    """One headless Chromium with a fresh profile; `page` is its first tab."""

    def __init__(self, width=1280, height=800):
        self.profile = tempfile.mkdtemp(prefix="musicdisk-chromium-")
        self.process = subprocess.Popen(
            ["chromium", "--headless=new", "--no-sandbox", "--disable-gpu", "--no-first-run",
             "--disable-background-networking", "--disable-component-update", "--disable-sync",
             "--remote-debugging-port=0", "--user-data-dir=" + self.profile,
             "--window-size=%d,%d" % (width, height), "--screen-info={%dx%d}" % (width, height), "about:blank"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        port_file = os.path.join(self.profile, "DevToolsActivePort")
        port = wait_for("Chromium's DevTools port", lambda: read_first_line(port_file))
        version = json.load(urllib.request.urlopen("http://127.0.0.1:%s/json/version" % port))
        self.ws = websocket.create_connection(version["webSocketDebuggerUrl"], timeout=DEADLINE)
        self.next_id = 0
        self.events = []
        self.send("Target.setDiscoverTargets", discover=True)
        page = wait_for("the first tab", lambda: [t for t in self.send("Target.getTargets")["targetInfos"]
                                                  if t["type"] == "page"])[0]
        self.page_id = page["targetId"]
        self.session = self.send("Target.attachToTarget", targetId=self.page_id, flatten=True)["sessionId"]
        for domain in ("Runtime", "Log", "Page"):
            self.call(domain + ".enable")

    def send(self, method, session=None, **params):
        self.next_id += 1
        message = {"id": self.next_id, "method": method, "params": params}
        if session:
            message["sessionId"] = session
        self.ws.send(json.dumps(message))
        while True:
            reply = json.loads(self.ws.recv())
            if reply.get("id") == self.next_id:
                if "error" in reply:
                    raise RuntimeError("%s: %s" % (method, reply["error"]))
                return reply.get("result", {})
            if "method" in reply:
                self.events.append(reply)

    def call(self, method, **params):
        """A command to the page's tab."""
        return self.send(method, self.session, **params)

    def pump(self):
        """Takes the events that have arrived meanwhile."""
        self.ws.settimeout(0.01)
        try:
            while True:
                self.events.append(json.loads(self.ws.recv()))
        except (websocket.WebSocketTimeoutException, TimeoutError):
            pass
        finally:
            self.ws.settimeout(DEADLINE)

    def eval(self, expression):
        result = self.call("Runtime.evaluate", expression=expression, returnByValue=True, userGesture=False)
        if "exceptionDetails" in result:
            raise RuntimeError("%s: %s" % (expression, result["exceptionDetails"]))
        return result["result"].get("value")

    def open(self, url):
        self.call("Page.navigate", url=url)
        wait_for("the page's show to be ready", lambda: self.eval(
            "typeof musicdisk == 'object' && musicdisk.state() != 'loading'"))

    def key(self, name, down=True, alt=False):
        codes = {"Left": 37, "Up": 38, "Right": 39, "Down": 40, "Enter": 13, "Escape": 27}
        params = {"type": "rawKeyDown" if down else "keyUp", "key": name, "code": name,
                  "windowsVirtualKeyCode": codes[name], "modifiers": 1 if alt else 0}
        if name.startswith(("Left", "Up", "Right", "Down")):
            params["key"] = params["code"] = "Arrow" + name
        if name == "Enter" and down:
            params["type"] = "keyDown"
            params["text"] = "\r"
        self.call("Input.dispatchKeyEvent", **params)

    def press(self, name, alt=False):
        self.key(name, True, alt)
        self.key(name, False, alt)

    def click(self, x, y):
        for kind in ("mousePressed", "mouseReleased"):
            self.call("Input.dispatchMouseEvent", type=kind, x=x, y=y, button="left", clickCount=1)

    def screenshot(self, **clip):
        """The tab (or the `clip` rectangle of it, in CSS pixels) as PNG bytes."""
        params = {"clip": dict(clip, scale=1)} if clip else {}
        return base64.b64decode(self.call("Page.captureScreenshot", format="png", **params)["data"])

    def console_errors(self):
        self.pump()
        errors = []
        for e in self.events:
            m, p = e.get("method"), e.get("params", {})
            if m == "Runtime.consoleAPICalled" and p.get("type") in ("error", "assert"):
                errors.append(" ".join(str(a.get("value", a.get("description"))) for a in p.get("args", [])))
            elif m == "Runtime.exceptionThrown":
                errors.append(p["exceptionDetails"].get("exception", {}).get("description") or str(p))
            elif m == "Log.entryAdded" and p["entry"].get("level") == "error":
                errors.append(p["entry"].get("text"))
        return errors

    def close(self):
        try:
            self.ws.close()
        finally:
            self.process.terminate()
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
            shutil.rmtree(self.profile, ignore_errors=True)


def read_png(data):
    """(width, height, rows of RGB bytes) of an 8-bit RGB or RGBA PNG, not interlaced."""
    import struct
    import zlib
    assert data[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG"
    at, idat = 8, b""
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        body = data[at + 8:at + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", body)
            assert depth == 8 and colour in (2, 6) and interlace == 0, "unsupported PNG form"
        elif kind == b"IDAT":
            idat += body
        at += 12 + length
    n = 3 if colour == 2 else 4
    raw = zlib.decompress(idat)
    stride = width * n
    rows, previous = [], bytearray(stride)
    for y in range(height):
        kind = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - n] if i >= n else 0
            b = previous[i]
            c = previous[i - n] if i >= n else 0
            if kind == 1:
                line[i] = (line[i] + a) & 255
            elif kind == 2:
                line[i] = (line[i] + b) & 255
            elif kind == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        previous = line
        rows.append(bytes(line) if n == 3 else bytes(v for i, v in enumerate(line) if i % 4 != 3))
    return width, height, rows
