"""The show in a real browser (headless Chromium): the page against the native show.

usage: web_test.py PAGE_DIR NATIVE_BUILD_DIR [SCREENSHOT.png]

PAGE_DIR is scripts/web.sh's build/web; NATIVE_BUILD_DIR a native build with
musicdisk-capture, tunetool and the packed tunes. Frames are compared with
musicdisk-capture --at, pixel for pixel, on the page's virtual clock; sound with
tunetool render, sample for sample. With SCREENSHOT, a picture of the running page is
written there."""
import base64
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import zlib

from browser import Browser, Server, read_png, wait_for

PAGE, NATIVE = sys.argv[1], sys.argv[2]
SHOT = sys.argv[3] if len(sys.argv) > 3 else None
SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
W, H = 400, 300
TUNE_BAR = range(140, 166)  # frame rows of the tune bar's overlay
LINK_BAR = range(170, 196)


def capture(times, keys="", disk=None):
    """musicdisk-capture's frames at `times` (seconds): {ms: rows of RGB bytes}."""
    with tempfile.TemporaryDirectory() as out:
        args = [os.path.join(NATIVE, "tools/capture/musicdisk-capture"), "-q", "--seconds", str(max(times) + 0.5),
                "--at", ",".join(str(t) for t in times), "--out", out]
        if keys:
            args += ["--keys", keys]
        if disk:
            args += ["--disk", disk]
        subprocess.run(args, check=True)
        frames = {}
        for name in sorted(os.listdir(out)):
            ms = int(re.match(r"frame_\d+_(\d+)ms\.png", name).group(1))
            with open(os.path.join(out, name), "rb") as f:
                frames[ms] = read_png(f.read())[2]
        return frames


def page_frame(browser):
    data = base64.b64decode(browser.eval("musicdisk.pixels()"))
    return [data[y * W * 3:(y + 1) * W * 3] for y in range(H)]


def first_difference(a, b):
    for y, (ra, rb) in enumerate(zip(a, b)):
        if ra != rb:
            x = next(i for i in range(len(ra)) if ra[i] != rb[i]) // 3
            return "first at x %d, y %d: page %s, native %s" % (x, y, tuple(ra[3 * x:3 * x + 3]),
                                                               tuple(rb[3 * x:3 * x + 3]))
    return None


KEY_NAMES = {"right": "Right", "left": "Left", "down": "Down", "up": "Up", "enter": "Enter", "escape": "Escape"}


def play(browser, keys, until_ms, grab=()):
    """Runs the page's virtual clock to `until_ms`, pressing `keys` ("T:key,..." as
    musicdisk-capture takes them: down at T, up 100 ms later) at the same virtual times, and
    returns the frames drawn at or after each of `grab` (ms), keyed by their tick."""
    events = []
    for item in filter(None, keys.split(",")):
        t, name = item.split(":")
        ms = round(float(t) * 1000)
        events += [(ms, 0, name, True), (ms + 100, 1, name, False)]
    marks = sorted([(ms, 2, None, None) for ms in grab] + events)
    frames = {}
    for ms, kind, name, down in marks:
        if kind == 2:
            tick = browser.eval("musicdisk.runUntil(%d)" % ms)
            frames[tick] = page_frame(browser)
        else:
            # The frame drawn at `ms` is the first to see the key, as in the capture.
            browser.eval("musicdisk.runUntil(%d)" % (ms - 20))
            browser.key(KEY_NAMES[name], down)
    browser.eval("musicdisk.runUntil(%d)" % until_ms)
    return frames


class VirtualClock(unittest.TestCase):
    """The page on its virtual clock, against the headless show."""

    @classmethod
    def setUpClass(cls):
        cls.server = Server(PAGE)
        cls.browser = Browser()

    @classmethod
    def tearDownClass(cls):
        cls.browser.close()
        cls.server.close()

    def setUp(self):
        self.browser.events.clear()
        self.browser.open(self.server.url("?virtual"))
        self.assertEqual(self.browser.eval("musicdisk.state()"), "test")

    def tearDown(self):
        self.assertEqual(self.browser.console_errors(), [])

    def compare(self, keys, times):
        native = capture(times, keys)
        page = play(self.browser, keys, max(native), [round(t * 1000) for t in times])
        self.assertEqual(sorted(page), sorted(native), "the frames' show times")
        for ms in sorted(native):
            self.assertIsNone(first_difference(page[ms], native[ms]), "frame at %d ms" % ms)
        return page

    def test_frames_equal_the_native_show(self):
        # From the first frame to well into the show, at times that are no frame's own.
        frames = self.compare("", [0, 0.37, 2.5, 7.01, 12])
        # Every effect moves: no two of the frames are alike anywhere on the screen's bands.
        for band in (range(0, 60), range(60, 130), range(200, 240), range(250, 300)):
            rows = [tuple(frames[ms][y] for y in band) for ms in frames]
            self.assertEqual(len(set(rows)), len(rows), "rows %d-%d" % (band.start, band.stop))

    def test_right_and_down_change_tune_and_focus_as_natively(self):
        keys = "1.0:right,2.0:down,3.0:right,4.0:up,5.0:left"
        with_keys = self.compare(keys, [1.5, 2.5, 3.5, 4.5, 5.5])
        still = capture([1.5, 2.5, 3.5, 4.5, 5.5])
        # Right on the tune bar changes only the tune bar; Down moves the highlight to the
        # link bar, Right there changes the link; Up brings the highlight back, and Left the
        # first tune: only the link stays changed.
        changed = {ms: (any(with_keys[ms][y] != still[ms][y] for y in TUNE_BAR),
                        any(with_keys[ms][y] != still[ms][y] for y in LINK_BAR)) for ms in still}
        self.assertEqual([changed[ms] for ms in sorted(changed)],
                         [(True, False), (True, True), (True, True), (True, True), (False, True)])

    def test_link_opens_a_new_tab_with_its_address(self):
        with open(os.path.join(SOURCE, "assets/menu_texts.cpp")) as f:
            addresses = re.findall(r'"(https?://[^"]*)"', f.read())
        play(self.browser, "0.5:down,1.0:right,1.5:right", 2600)
        self.browser.key("Enter", True)
        self.browser.eval("musicdisk.runUntil(2700)")
        self.browser.key("Enter", False)
        # The new tab starts blank and then goes to the address.
        tabs = wait_for("a new tab with an address", lambda: [
            t["url"] for t in self.browser.send("Target.getTargets")["targetInfos"]
            if t["type"] == "page" and t["targetId"] != self.browser.page_id and t["url"] not in ("", "about:blank")])
        self.assertEqual(tabs, [addresses[2]])

    def test_fullscreen_keeps_sharp_pixels(self):
        b = self.browser
        b.eval("musicdisk.runUntil(1000)")
        b.key("Enter", True, alt=True)
        b.eval("musicdisk.runUntil(1020)")
        b.key("Enter", False, alt=True)
        wait_for("fullscreen", lambda: b.eval("!!document.fullscreenElement"))
        b.eval("musicdisk.runUntil(1100)")
        frame = page_frame(b)
        box = b.eval("(() => { const r = document.getElementById('canvas').getBoundingClientRect(); const k = devicePixelRatio;"
                     " return [r.left * k, r.top * k, r.width * k, r.height * k, innerWidth * k, innerHeight * k]; })()")
        left, top, width, height, screen_w, screen_h = box
        scale = int(width) // W
        # The largest whole scale that fits, centred.
        self.assertEqual((width, height), (W * scale, H * scale))
        self.assertEqual(scale, int(min(screen_w // W, screen_h // H)))
        self.assertGreaterEqual(scale, 2)
        sw, sh, rows = read_png(b.screenshot(x=left, y=top, width=width, height=height))
        self.assertEqual((sw, sh), (W * scale, H * scale))
        for y in range(sh):
            source = frame[y // scale]
            expected = b"".join(source[3 * (x // scale):3 * (x // scale) + 3] for x in range(sw))
            self.assertEqual(rows[y], expected, "screen row %d" % y)
        # Alt+Enter again: back in the page.
        b.key("Enter", True, alt=True)
        b.eval("musicdisk.runUntil(1200)")
        b.key("Enter", False, alt=True)
        wait_for("the page again", lambda: b.eval("!document.fullscreenElement"))

    def test_escape_ends_with_a_final_frame_and_starts_again(self):
        native = capture([3.5])
        b = self.browser
        b.eval("musicdisk.runUntil(3480)")
        b.key("Escape", True)
        b.eval("musicdisk.runUntil(3500)")
        self.assertEqual(b.eval("musicdisk.state()"), "ended")
        self.assertEqual(b.eval("musicdisk.exitCode()"), 0)
        # The pass that saw Escape was drawn and stays on the canvas.
        self.assertEqual(b.eval("musicdisk.lastFrameTick()"), 3500)
        self.assertIsNone(first_difference(page_frame(b), native[3500]))
        self.assertIn("start it again", b.eval("document.getElementById('overlay').textContent"))
        b.key("Escape", False)
        # A key starts the show again, from its beginning.
        b.press("Right")
        self.assertEqual(b.eval("musicdisk.state()"), "running")
        self.assertLess(b.eval("musicdisk.lastFrameTick()"), 3500)


def disk_block(pieces):
    """A disk block of (kind, bytes) pieces, written here from the format's description."""
    table, data = b"", b""
    start = 24 + 12 * len(pieces)
    for kind, piece in pieces:
        table += struct.pack("<III", kind, start + len(data), len(piece))
        data += piece
    total = start + len(data) + 24
    header = b"MDISKHDR" + struct.pack("<III", 1, total, len(pieces))
    body = header + struct.pack("<I", zlib.crc32(header)) + table + data
    return body + struct.pack("<IIII", 1, total, zlib.crc32(body), 0) + b"MDISKEND"


def two_tune_disk():
    def built(path):
        with open(os.path.join(NATIVE, path), "rb") as f:
            return f.read()
    return disk_block([(1, built("assets/tunes/packed/13.packed")), (1, built("assets/tunes/packed/03.packed")),
                       (2, b"Page Disk One"), (2, b"Page Disk Two"), (3, b"Quiet"),
                       (4, b"Home"), (5, b"https://example.org/"),
                       (6, built("assets/pictures/logo.m1v")), (7, built("assets/pictures/sprite.m1v")),
                       (9, b"A disk beside the page.   ")])


class OwnDisk(unittest.TestCase):
    """A page folder whose disk.bin holds a disk block written here: shown as
    musicdisk-capture --disk shows it."""

    def page_with(self, block):
        folder = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, folder)
        for name in ("index.html", "musicdisk.js", "musicdisk.wasm"):
            shutil.copy(os.path.join(PAGE, name), folder)
        with open(os.path.join(folder, "disk.bin"), "wb") as f:
            f.write(block)
        server, browser = Server(folder), Browser()
        self.addCleanup(server.close)
        self.addCleanup(browser.close)
        browser.open(server.url("?virtual"))
        return folder, browser

    def test_the_pages_disk_is_shown_as_natively(self):
        folder, b = self.page_with(two_tune_disk())
        self.assertEqual(b.eval("musicdisk.state()"), "test")
        keys = "1.0:right,2.0:right"
        native = capture([0.5, 1.5, 2.5], keys, os.path.join(folder, "disk.bin"))
        page = play(b, keys, max(native), [500, 1500, 2500])
        for ms in sorted(native):
            self.assertIsNone(first_difference(page[ms], native[ms]), "frame at %d ms" % ms)
        self.assertEqual(b.console_errors(), [])


def record_sound(page, seconds, waiting=lambda b: None, recorded=lambda b: None):
    """The page as a visitor meets it, started by a click: the first `seconds` of what its
    sound stream played, as 16-bit stereo bytes. `waiting` and `recorded` look at the
    browser before the click and after the recording."""
    server, b = Server(page), Browser()
    try:
        b.open(server.url("?record"))
        assert b.eval("musicdisk.state()") == "waiting", b.eval("musicdisk.state()")
        waiting(b)
        b.click(640, 300)
        assert b.eval("musicdisk.state()") == "running", b.eval("musicdisk.state()")
        wait_for("%d s of sound" % seconds, lambda: b.eval("musicdisk.soundFrames()") >= 44100 * seconds, every=0.2)
        heard = base64.b64decode(b.eval("musicdisk.sound(%d)" % (44100 * seconds)))
        recorded(b)
        assert b.console_errors() == [], b.console_errors()
        return heard
    finally:
        b.close()
        server.close()


def rendered(tune, seconds):
    """tunetool render's sound of `tune`, without the WAV header: a packed tune, or a module
    packed first, as the show plays it."""
    tunetool = os.path.join(NATIVE, "tools/tunetool/tunetool")
    with tempfile.TemporaryDirectory() as d:
        wav = os.path.join(d, "tune.wav")
        if tune.endswith(".xm"):
            packed = os.path.join(d, "tune.packed")
            subprocess.run([tunetool, "pack", "-q", tune, "-o", packed], check=True)
            tune = packed
        subprocess.run([tunetool, "render", "-q", tune, "--seconds", str(seconds), "-o", wav], check=True)
        with open(wav, "rb") as f:
            return f.read()[44:]


class SoundCheck(unittest.TestCase):
    def assertSameSound(self, heard, expected):
        self.assertEqual(len(heard), len(expected))
        if heard != expected:
            i = next(k for k in range(0, len(heard), 2) if heard[k:k + 2] != expected[k:k + 2])
            self.fail("sound differs from sample %d (frame %d)" % (i // 2, i // 4))
        self.assertGreater(len(set(expected)), 100, "the tune is not silent")


class RealClock(SoundCheck):
    """The page as a visitor meets it: a gesture starts it, and its sound streams."""

    def test_gesture_starts_the_show_and_its_sound_is_the_players(self):
        def waiting(b):
            self.assertEqual(b.eval("document.getElementById('overlay').textContent"),
                             "Click or press a key to start")
            self.assertEqual(b.eval("musicdisk.framesPresented()"), 1)
            self.assertEqual(b.eval("musicdisk.soundFrames()"), 0)

        def recorded(b):
            self.assertGreater(b.eval("musicdisk.framesPresented()"), 1)
            # Arrow keys do not scroll the page.
            b.eval("window.scrollTo(0, 0)")
            b.press("Down")
            self.assertEqual(b.eval("window.scrollY"), 0)
            if SHOT:
                time.sleep(1)
                with open(SHOT, "wb") as f:
                    f.write(b.screenshot())

        seconds = 2
        heard = record_sound(PAGE, seconds, waiting, recorded)
        self.assertSameSound(heard, rendered(os.path.join(NATIVE, "assets/tunes/packed/01.packed"), seconds))


def write_png(path, width, height, rgb):
    """A PNG of one colour, 8-bit RGB, written here from the format's description."""
    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
    rows = (b"\0" + bytes(rgb) * width) * height
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)) +
                chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


def retitled_module(source, title):
    """An extended module of the project's own under another title (the 20 bytes after
    "Extended Module: ")."""
    with open(os.path.join(SOURCE, "assets/tunes", source), "rb") as f:
        data = f.read()
    assert data[:17] == b"Extended Module: "
    return data[:17] + title.encode().ljust(20, b"\0") + data[37:]


def green_pixels(frame, rows):
    return sum(1 for y in rows for x in range(W)
               if frame[y][3 * x + 1] > frame[y][3 * x] + 60 and frame[y][3 * x + 1] > frame[y][3 * x + 2] + 60)


def differing_pixels(a, b, rows):
    return sum(1 for y in rows for x in range(0, 3 * W, 3) if a[y][x:x + 3] != b[y][x:x + 3])


class MadeDisk(SoundCheck):
    """A disk folder written here (two tunes, a green logo, a text and two links) made into
    disks by musicdisk-make: its page shows the disk as its Linux program does, plays the
    new tunes, and refuses its disk.bin damaged."""

    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp()
        folder = os.path.join(cls.dir, "my-disk")
        os.makedirs(os.path.join(folder, "tunes"))
        for name, source, title in (("a.xm", "10.xm", "Alpha Tune"), ("b.xm", "13.xm", "Beta Tune")):
            with open(os.path.join(folder, "tunes", name), "wb") as f:
                f.write(retitled_module(source, title))
        write_png(os.path.join(folder, "logo.png"), 640, 128, (0, 200, 0))
        write_png(os.path.join(folder, "sprite.png"), 32, 32, (200, 200, 0))
        with open(os.path.join(folder, "text.txt"), "w") as f:
            f.write("HELLO FROM THE MADE DISK\n")
        with open(os.path.join(folder, "links.txt"), "w") as f:
            f.write("First Link  https://example.org/\nSecond https://example.com/a\n")
        # The released programs as a release folder holds them (the Windows one is not needed here).
        programs = os.path.join(cls.dir, "programs")
        os.mkdir(programs)
        os.symlink(os.path.abspath(PAGE), os.path.join(programs, "web"))
        os.symlink(os.path.abspath(os.path.join(NATIVE, "driver/musicdisk")), os.path.join(programs, "musicdisk"))
        cls.tune = os.path.join(folder, "tunes", "a.xm")
        cls.program = os.path.join(cls.dir, "mydisk")
        cls.page = cls.program + "-web"
        made = subprocess.run([os.path.join(NATIVE, "tools/make/musicdisk-make"), folder, "-o", cls.program,
                               "--programs", programs], capture_output=True, text=True)
        assert made.returncode == 0, made.stdout + made.stderr
        cls.browser = Browser()

    @classmethod
    def tearDownClass(cls):
        cls.browser.close()
        shutil.rmtree(cls.dir)

    def open_page(self, folder):
        server = Server(folder)
        self.addCleanup(server.close)
        self.browser.events.clear()
        self.browser.open(server.url("?virtual"))
        return self.browser

    def test_the_page_shows_the_disk_as_its_linux_program_does(self):
        self.assertEqual(sorted(os.listdir(self.page)), ["disk.bin", "index.html", "musicdisk.js", "musicdisk.wasm"])
        b = self.open_page(self.page)
        self.assertEqual(b.eval("musicdisk.state()"), "test")
        keys, times = "1.2:right,2.0:down,2.5:right", [1.0, 1.5, 3.0]
        native = capture(times, keys, self.program)
        page = play(b, keys, max(native), [round(t * 1000) for t in times])
        self.assertEqual(b.console_errors(), [])
        self.assertEqual(sorted(page), sorted(native), "the frames' show times")
        builtin = capture(times, keys)
        for ms in sorted(native):
            self.assertIsNone(first_difference(page[ms], native[ms]), "frame at %d ms" % ms)
            # Against the built-in disk at the same moment: the logo is green, and the tune
            # bar (the modules' titles), the link bar and the scroller show other texts.
            self.assertEqual(green_pixels(builtin[ms], range(0, 120)), 0)
            self.assertGreater(green_pixels(page[ms], range(0, 120)), 10000, "frame at %d ms" % ms)
            for what, rows in (("tune bar", TUNE_BAR), ("link bar", LINK_BAR), ("scroller", range(225, 300))):
                self.assertGreater(differing_pixels(page[ms], builtin[ms], rows), 500, "%s at %d ms" % (what, ms))

    def test_the_page_plays_the_disks_first_tune(self):
        seconds = 2
        self.assertSameSound(record_sound(self.page, seconds), rendered(self.tune, seconds))

    def test_a_damaged_disk_bin_is_refused_with_its_cause(self):
        # What a desktop program does with exit status 1, the page does in its failed state:
        # no frame, the exit code 1, and the message box's cause.
        folder = os.path.join(self.dir, "damaged-web")
        shutil.copytree(self.page, folder)
        with open(os.path.join(self.page, "disk.bin"), "rb") as f:
            sound = f.read()

        def size(block, value):
            return block[:-20] + struct.pack("<I", value) + block[-16:]

        for what, block, cause in (
                ("truncated", sound[:-100], "damaged disk: the block is cut short"),
                ("a flipped byte", sound[:len(sound) // 2] + bytes([sound[len(sound) // 2] ^ 0x10]) +
                 sound[len(sound) // 2 + 1:], "damaged disk: the block's checksum"),
                ("a wrong size", size(sound, 1 << 31), "gives its size as 2147483648")):
            with self.subTest(what):
                with open(os.path.join(folder, "disk.bin"), "wb") as f:
                    f.write(block)
                b = self.open_page(folder)
                self.assertEqual(b.eval("musicdisk.state()"), "failed")
                self.assertEqual(b.eval("musicdisk.exitCode()"), 1)
                self.assertEqual(b.eval("musicdisk.framesPresented()"), 0)
                self.assertIn(cause, b.eval("document.querySelector('#message .text').textContent"))


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
