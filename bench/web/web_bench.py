"""The page's speed beside the native program's, measured in one run on one machine.

usage: web_bench.py PAGE_DIR NATIVE_BUILD_DIR... [--rounds N]

1. A frame of the scene: every effect of the frame loop and the frame's conversion for a
   32-bit screen, as bench/render's BM_WholeFrame draws it. Both sides run the same code
   (bench/render/scene_steps.cpp, compiled into the page) to time each step apart and the
   whole scene, in many short turns: natively `render_bench --turns`, in the page its
   ?bench address, served cross-origin isolated so that its clock is fine. The page's goal:
   the scene at most 2 times the native one.
   Apart from the scene, the page's presentation (the conversion, the canvas's RGBA bytes
   and their upload, so the upload is the presentation less the conversion), and its whole
   frame pass (keys, menus, scene, presentation) timed in stretches of 20 frames.
   With several native build folders (say the tests' RelWithDebInfo build and scripts/show.sh's
   Release build), the native side of each step is the fastest of them: the fastest native
   path. On a shared machine both sides are slowed alike only when they alternate: N rounds
   (default 5) of the native benchmarks and then the page. In each round each side's fastest
   turn stands for it (the least disturbed one), and the round gives one ratio; the figures
   are the medians over the rounds, with their spread (lowest to highest).
2. Start-up: the time from the page's navigation to its first frame on the canvas, served
   from localhost (the goal: 0.5 s), the median of five loads."""
import json
import os
import statistics
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "web"))
from browser import Browser, Server, wait_for  # noqa: E402

args = sys.argv[1:]
rounds = 5
if "--rounds" in args:
    at = args.index("--rounds")
    rounds = int(args[at + 1])
    del args[at:at + 2]
if len(args) < 2:
    sys.exit(__doc__)
page, natives = args[0], args[1:]


def native_steps(native):
    """{step name or "scene": fastest ms per frame}, timed by render_bench --turns."""
    out = subprocess.run([os.path.join(native, "bench/render/render_bench"), "--turns"], check=True,
                         capture_output=True, text=True).stdout
    return {name: times[0] for name, times in json.loads(out).items()}


def spread(values, digits=3):
    return "median %.*f (%.*f to %.*f)" % (digits, statistics.median(values), digits, min(values), digits, max(values))


def navigate(url):
    """Loads `url`; what the page before it left in window.musicdisk is gone first, so that
    nothing of it is read as the new page's."""
    browser.eval("window.musicdisk = undefined")
    browser.call("Page.navigate", url=url)


# The page's clock is fine (microseconds) only when the page is cross-origin isolated; the
# start-up is timed as any host serves the page.
server, plain, browser = Server(page, isolated=True), Server(page), Browser()
native_runs, native_builds, page_runs, starts = [], [], [], []
try:
    for _ in range(rounds):
        each = [native_steps(n) for n in natives]
        native_builds.append(each)
        native_runs.append({name: min(e[name] for e in each) for name in each[0]})
        navigate(server.url("?bench=200"))
        page_runs.append(wait_for("the page's benchmark", lambda: browser.eval(
            "typeof musicdisk == 'object' && musicdisk.bench"), deadline=300, every=0.2))
        if not page_runs[-1]["fineClock"]:
            sys.exit("web_bench.py: the page did not get the browser's fine clock (not cross-origin isolated)")
    for _ in range(5):
        navigate(plain.url())
        starts.append(wait_for("the first frame", lambda: browser.eval(
            "typeof musicdisk == 'object' && musicdisk.firstFrameAt() > 0 && "
            "[musicdisk.readyAt(), musicdisk.firstFrameAt()]")))
finally:
    browser.close()
    server.close()
    plain.close()

print("%d rounds; milliseconds per frame, each the median over the rounds of the round's fastest turn" % rounds)
print("%-14s %8s %8s %7s   ratio in each round" % ("step", "page", "native", "ratio"))
for name in list(native_runs[0]):
    if name == "scene":
        continue
    p = [r["steps"][name]["fastest"] for r in page_runs]
    n = [r[name] for r in native_runs]
    ratios = [a / b for a, b in zip(p, n)]
    print("%-14s %8.4f %8.4f %7.2f   %s" % (name, statistics.median(p), statistics.median(n), statistics.median(ratios),
                                            " ".join("%.2f" % x for x in ratios)))
scene_page = [r["steps"]["scene"]["fastest"] for r in page_runs]
scene_native = [r["scene"] for r in native_runs]
print("frame of the scene (seven effects and the conversion): page %s ms, native %s ms" %
      (spread(scene_page), spread(scene_native)))
print("  page / native: %s times (goal: at most 2)" % spread([a / b for a, b in zip(scene_page, scene_native)], 2))
if len(natives) > 1:
    for k, n in enumerate(natives):
        print("  native scene of %s: %s ms" % (n, spread([b[k]["scene"] for b in native_builds])))
present = [r["steps"]["presentation"]["fastest"] for r in page_runs]
upload = [r["steps"]["presentation"]["fastest"] - r["steps"]["conversion"]["fastest"] for r in page_runs]
print("page's presentation (conversion, RGBA bytes, canvas): %s ms; of it the upload (RGBA bytes and canvas): %s ms"
      % (spread(present), spread(upload)))
print("page's whole frame pass (keys, menus, scene, presentation; fastest 20 frames): %s ms" %
      spread([r["fastestMsPerFrame"] for r in page_runs]))
first = [f for _, f in starts]
print("first frame after navigation (local server): median %.0f ms of %s; of it, loading and compiling "
      "the program: median %.0f ms" % (statistics.median(first), ", ".join("%.0f" % f for f in first),
                                       statistics.median(r for r, _ in starts)))
