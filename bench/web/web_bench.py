"""The page's speed beside the native program's, measured in one run on one machine.

usage: web_bench.py PAGE_DIR NATIVE_BUILD_DIR [FRAMES]

1. A frame of the scene: the page draws FRAMES frames (default 500) on its virtual clock,
   every effect, the conversion and the canvas included; bench/render's BM_WholeFrame
   times the same work natively (the effects and the conversion for a 32-bit screen). The
   ratio of the two is the figure (the page's goal: at most 2).
   Both are timed by the wall clock, alternating three times, and the fastest of each is
   compared (for the page, its fastest stretch of 20 frames): on a shared machine the
   fastest run is the least disturbed one.
2. Start-up: the time from the page's navigation to its first frame on the canvas, served
   from localhost (the goal: 0.5 s), the median of five loads."""
import json
import os
import statistics
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "web"))
from browser import Browser, Server, wait_for  # noqa: E402

page, native = sys.argv[1], sys.argv[2]
frames = int(sys.argv[3]) if len(sys.argv) > 3 else 500



def native_frames():
    """BM_WholeFrame's wall time per frame in ms, each of ten short repetitions (about as long as
    the page's stretches of 20 frames)."""
    with tempfile.TemporaryDirectory() as d:
        out = os.path.join(d, "bench.json")
        subprocess.run([os.path.join(native, "bench/render/render_bench"), "--benchmark_filter=BM_WholeFrame",
                        "--benchmark_repetitions=10", "--benchmark_min_time=0.02",
                        "--benchmark_out=" + out, "--benchmark_out_format=json"],
                       check=True, capture_output=True)
        with open(out) as f:
            rows = json.load(f)["benchmarks"]
    return [r["real_time"] / 1e6 for r in rows if r.get("run_type") == "iteration"]


# On a shared machine both sides are slowed alike only when they alternate: three rounds of
# the native benchmark and the page, and the fastest of each.
server, browser = Server(page), Browser()
native_ms, web_ms, starts = [], [], []
try:
    for _ in range(3):
        native_ms += native_frames()
        browser.call("Page.navigate", url=server.url("?bench=%d" % frames))
        result = wait_for("the page's benchmark", lambda: browser.eval(
            "typeof musicdisk == 'object' && musicdisk.bench"), deadline=300, every=0.2)
        web_ms.append(result["fastestMsPerFrame"])
    for _ in range(5):
        browser.call("Page.navigate", url=server.url())
        starts.append(wait_for("the first frame", lambda: browser.eval(
            "typeof musicdisk == 'object' && musicdisk.firstFrameAt() > 0 && "
            "[musicdisk.readyAt(), musicdisk.firstFrameAt()]")))
finally:
    browser.close()
    server.close()

print("frame of the scene: page %.3f ms (fastest 20 frames of %s; %d frames each), native %.3f ms (fastest of %d): "
      "%.2f times the native frame" % (min(web_ms), ", ".join("%.3f" % w for w in web_ms), frames,
                                       min(native_ms), len(native_ms), min(web_ms) / min(native_ms)))
first = [f for _, f in starts]
print("first frame after navigation (local server): median %.0f ms of %s; of it, loading and compiling "
      "the program: median %.0f ms" % (statistics.median(first), ", ".join("%.0f" % f for f in first),
                                       statistics.median(r for r, _ in starts)))
