#!/usr/bin/env python3
"""Measures the built-in tunes and prints the README's table of them.

usage: scripts/measure-tunes.py BUILD_DIR [--spectrograms DIR]

For each assets/tunes/NN.xm: one pass rendered with `tunetool render` (length, the song's
return position, the longest run at the +-32500 clamp), its integrated loudness through
ffmpeg's ebur128 filter, `tunetool pack` for the packed-against-unpacked SNR, `tunetool
info` for patterns and positions, and the score NN.score for title, tempo, speed and the
effects it uses. With --spectrograms, a PNG of each tune's first minute is written there.
"""
import os
import re
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
TUNES = os.path.join(ROOT, "assets", "tunes")
STYLES = ["upbeat opener", "synth-pop", "ambient", "breakbeat", "funk", "ballad", "trance (arpeggios)",
          "jazz, walking bass, swing", "waltz in 3/4", "electro", "trip-hop", "finale", "tiny chip loop"]

EFFECTS = {"0": "arpeggio", "1": "porta up", "2": "porta down", "3": "tone porta", "4": "vibrato",
           "7": "tremolo", "8": "panning", "A": "volume slide", "B": "jump", "C": "set volume",
           "D": "pattern break", "G": "global volume", "H": "global volume slide", "P": "panning slide",
           "R": "multi retrigger"}
EXTENDED = {"6": "pattern loop", "9": "retrigger", "C": "note cut", "D": "note delay"}
VOLUME_COLUMN = {"-": "vol-column slide", "+": "vol-column slide", "p": "vol-column panning", "m": "vol-column porta"}


def run(args):
    return subprocess.run(args, check=True, capture_output=True, text=True).stdout


def score_facts(path):
    text = open(path).read()
    facts = {"title": re.search(r'^title "(.*)"', text, re.M).group(1),
             "speed": int(re.search(r"^speed (\d+)", text, re.M).group(1)),
             "tempo": int(re.search(r"^tempo (\d+)", text, re.M).group(1)),
             "linear": re.search(r"^frequencies (\w+)", text, re.M).group(1) == "linear"}
    used = set()
    for cell in re.findall(r"(?:^|\|)\s*(\S{3}) (\S{2}) (\S{2}) (\S{3})", text, re.M):
        effect, volume = cell[3], cell[2]
        if effect != "...":
            if effect[0] == "E":
                used.add(EXTENDED.get(effect[1], "E" + effect[1]))
            elif effect[0] == "F":
                used.add("speed" if int(effect[1:], 16) < 32 else "tempo")
            elif effect[0] != "0" or effect[1:] != "00":
                used.add(EFFECTS.get(effect[0], effect[0]))
        if volume[0] in VOLUME_COLUMN:
            used.add(VOLUME_COLUMN[volume[0]])
    if re.search(r"envelope volume .*sustain=", text):
        used.add("envelope sustain")
    if re.search(r"envelope volume .*loop=", text):
        used.add("envelope loop")
    if "envelope panning" in text:
        used.add("panning envelope")
    if re.search(r"fadeout \d+", text):
        used.add("fadeout")
    if "autovibrato" in text:
        used.add("auto-vibrato")
    facts["effects"] = sorted(used)
    return facts


def main():
    build = sys.argv[1]
    spectra = sys.argv[sys.argv.index("--spectrograms") + 1] if "--spectrograms" in sys.argv else None
    tunetool = os.path.join(build, "tools", "tunetool", "tunetool")
    rows, loudness = [], []
    with tempfile.TemporaryDirectory() as tmp:
        for n in range(1, 14):
            xm = os.path.join(TUNES, "%02d.xm" % n)
            wav = os.path.join(tmp, "%02d.wav" % n)
            facts = score_facts(os.path.join(TUNES, "%02d.score" % n))
            rendered = run([tunetool, "render", xm, "-o", wav])
            seconds = float(re.search(r": ([\d.]+) s", rendered).group(1))
            clamp = int(re.search(r"clamp (\d+) frames", rendered).group(1))
            back = re.search(r"returns to position (\d+)", rendered)
            info = run([tunetool, "info", xm])
            positions = int(re.search(r"song length\s+(\d+)", info).group(1))
            patterns = int(re.search(r"patterns\s+(\d+)", info).group(1))
            packed = run([tunetool, "pack", xm, "-o", os.path.join(tmp, "p")])
            snr = float(re.search(r"packed against unpacked SNR ([-\d.]+) dB", packed).group(1))
            ebu = subprocess.run(["ffmpeg", "-hide_banner", "-nostats", "-i", wav, "-af", "ebur128", "-f", "null", "-"],
                                 capture_output=True, text=True).stderr
            lufs = float(re.findall(r"I:\s+(-?[\d.]+) LUFS", ebu)[-1])
            loudness.append(lufs)
            if spectra:
                os.makedirs(spectra, exist_ok=True)
                subprocess.run(["ffmpeg", "-hide_banner", "-loglevel", "error", "-y", "-t", "60", "-i", wav, "-lavfi",
                                "showspectrumpic=s=768x192:legend=1:scale=log,format=pal8", os.path.join(spectra, "%02d.png" % n)],
                               check=True)
            rows.append((n, facts, seconds, back.group(1) if back else "-", clamp, snr, lufs, patterns, positions))
    average = sum(loudness) / len(loudness)
    print("| # | Title | Style | Tempo / speed | Table | Length before loop (returns to) | Loudness (LUFS) | "
          "Longest clamp run | Packed SNR | Patterns / positions | Effects and features |")
    print("|---|---|---|---|---|---|---|---|---|---|---|")
    for n, f, seconds, back, clamp, snr, lufs, patterns, positions in rows:
        print("| %d | %s | %s | %d / %d | %s | %d:%02d (position %s) | %.1f (%+.1f) | %d frames | %.1f dB | %d / %d | %s |" % (
            n, f["title"], STYLES[n - 1], f["tempo"], f["speed"], "linear" if f["linear"] else "Amiga",
            int(seconds) // 60, int(seconds) % 60, back, lufs, lufs - average, clamp, snr, patterns, positions,
            ", ".join(f["effects"])))
    print("\nDisk average %.1f LUFS; spread %.1f .. %+.1f LU." % (average, min(loudness) - average, max(loudness) - average))


if __name__ == "__main__":
    main()
