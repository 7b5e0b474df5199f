#!/usr/bin/python3
"""Measures the built-in tunes: what a listener notices, and what keeps them playable.

usage: scripts/measure-tunes.py BUILD_DIR [--spectrograms DIR]   the README's table, all 13
       scripts/measure-tunes.py BUILD_DIR --check                  what the tunes must show; exits 1
                                                                   naming each tune and figure missed
       scripts/measure-tunes.py BUILD_DIR --tune N                 one tune's figures, quickly
       scripts/measure-tunes.py --modules FILE...                  the same audio figures for
                                                                   other tracker modules

BUILD_DIR is a build with tunetool (e.g. build/release). For each assets/tunes/NN.xm one pass
and two passes are rendered with `tunetool render`, and its packed image with `tunetool pack`;
the score NN.score gives title, tempo, instruments and the rows as played. Figures:

  spectrum    long-term 1/3-octave spectrum (25 Hz .. 16 kHz, levelled); the distance
              between two tunes is the RMS of their band differences in dB; "nearest" is a
              tune's distance to the closest of the others
  LUFS, LRA   ffmpeg's ebur128 integrated loudness and loudness range
  pitched     pitched instruments that play in the pass
  drum bar    share of bars whose drum hits repeat the most common one-bar drum pattern
  changes     instrument-set changes per bar (instruments with onsets or held notes in a bar)
  off-grid    share of pitched note onsets off the eighth-note grid (odd rows, or delayed)
  seam        level step (K-weighted, the 3 s before the end against the 3 s after the
              restart) and tempo before -> after the jump back
  bars        bars that are not a whole number of beats (a break one row off, say)
  swing       where the offbeat eighths sit within the beat (0.50 straight, 0.67 triplet)
  quiet SNR   A-weighted SNR of packed against unpacked over the quietest tenth of the pass
  clamp       longest run at the output clamp, in frames
  loop        the position the song returns to, against the score's restart

--check prints the figures every tune must show and, on lines starting with "!", each tune
and figure that misses, then exits 1 if one does: spectral distance between tunes, median over
5 dB and no pair under 2; no 8-bar chord progression shared by two tunes (the chord of a bar
is the major or minor triad its pitched notes fill most, the lowest note counting twice; runs
of fewer than three chords are no progression; compared in any key); no synthesised sound
(kind and parameters, the seed aside) in more than three tunes; five or more pitched
instruments in most tunes; a loudness range of 3 LU or more in most tunes and 1.5 in every
tune but the tiny loop, each at least 90 s before the loop; no level step over 2 dB and no
tempo jump at a seam (a tune that ends in silence may step); every bar whole beats; Blue
Hour's offbeat eighths at 0.60 .. 0.67 of the beat; every tune label at most 324 pixels in
the show's font (md-labelcheck --widths), 6 inside the bar's 330; integrated loudness within
2 LU; no clamp; every tune returning to its restart. --tune marks what one tune misses the
same way, on lines starting with "!".

Bars: a score may say its metre in a comment line "# metre 3/4, 4 rows a beat"; without it a
bar is 4 beats of 4 rows. The figures of --tune are cached in BUILD_DIR/tune-measures, so
the nearest-neighbour distance of one tune is quick once the others were measured (the audio
figures are kept by the .xm they came from, the score's are read afresh each run).
"""
import hashlib
import json
import os
import re
import statistics
import subprocess
import sys
import tempfile
import wave

import numpy as np

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
TUNES = os.path.join(ROOT, "assets", "tunes")
STYLES = ["upbeat opener", "synth-pop", "ambient", "breakbeat", "funk", "ballad", "trance (arpeggios)",
          "jazz, walking bass, swing", "waltz in 3/4", "electro", "trip-hop", "finale", "tiny chip loop"]
DEFAULT_METRE = {9: (3, 4), 13: (4, 8)}  # tune: (beats a bar, rows a beat) when its score does not say
# Synthesiser kinds without a pitch of their own (everything else counts as pitched).
UNPITCHED = {"kick", "snare", "hat", "tom", "clap", "cymbal", "brush", "ride", "timpani", "rim", "cowbell",
             "clash", "break"}

EFFECTS = {"0": "arpeggio", "1": "porta up", "2": "porta down", "3": "tone porta", "4": "vibrato",
           "7": "tremolo", "8": "panning", "9": "sample offset", "A": "volume slide", "B": "jump", "C": "set volume",
           "D": "pattern break", "G": "global volume", "H": "global volume slide", "P": "panning slide",
           "R": "multi retrigger"}
EXTENDED = {"8": "panning", "6": "pattern loop", "9": "retrigger", "C": "note cut", "D": "note delay"}
VOLUME_COLUMN = {"-": "vol-column slide", "+": "vol-column slide", "p": "vol-column panning", "m": "vol-column porta"}
RATE = 44100


def run(args):
    return subprocess.run(args, check=True, capture_output=True, text=True).stdout


# ---------------------------------------------------------------- the score, as played


def parse_score(path):
    text = open(path).read()
    s = {"title": re.search(r'^title "(.*)"', text, re.M).group(1),
         "speed": int(re.search(r"^speed (\d+)", text, re.M).group(1)),
         "tempo": int(re.search(r"^tempo (\d+)", text, re.M).group(1)),
         "linear": re.search(r"^frequencies (\w+)", text, re.M).group(1) == "linear",
         "order": " ".join(re.findall(r"^order (.*)$", text, re.M)).split(),
         "restart": (re.findall(r"^restart (\S+)", text, re.M) or ["0"])[0],
         "kinds": [], "patterns": {}, "text": text}
    metre = re.search(r"^#\s*metre (\d+)/\d+(?:,\s*(\d+) rows a beat)?", text, re.M)
    s["metre"] = (int(metre.group(1)), int(metre.group(2) or 4)) if metre else None
    current = None
    for line in text.splitlines():
        line = re.sub(r"(^|\s)#.*", "", line).rstrip()  # a sharp in a note is no comment
        words = line.split()
        if not words:
            continue
        if words[0] == "instrument":
            s["kinds"].append([])
        elif words[0] == "synth" and s["kinds"]:
            s["kinds"][-1].append(words[1])
        elif words[0] == "pattern":
            current = s["patterns"].setdefault(words[1], [])
        elif words[0] == "end":
            current = None
        elif current is not None:
            cells = []
            for cell in line.split("|"):
                f = cell.split()
                cells.append((f + ["...", "..", "..", "..."])[:4] if f else ["...", "..", "..", "..."])
            current.append(cells)
    return s


def recipes(text):
    """The synthesised sounds of a score, each as its kind and its parameters in a fixed order
    (a split line counts as a sound of its own; the noise seed makes no other sound)."""
    found = set()
    for m in re.finditer(r"^\s*(?:synth|split \S+) (\S+)(.*)$", text, re.M):
        params = sorted(p for p in m.group(2).split("#")[0].split() if not p.startswith("seed="))
        found.add(" ".join([m.group(1)] + params))
    return found


def sound_users():
    """Each tune's synthesised sounds, and for each sound how many tunes use it."""
    per_tune = {n: recipes(open(os.path.join(TUNES, "%02d.score" % n)).read()) for n in range(1, 14)}
    count = {}
    for sounds in per_tune.values():
        for s in sounds:
            count[s] = count.get(s, 0) + 1
    return per_tune, count


def shared_sounds():
    """For each tune, its sounds that more than three tunes use, with how many use them."""
    per_tune, count = sound_users()
    return {n: sorted((count[s], s) for s in sounds if count[s] > 3) for n, sounds in per_tune.items()}


def effects_used(text):
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
    for pattern, name in ((r"envelope volume .*sustain=", "envelope sustain"), (r"envelope volume .*loop=", "envelope loop"),
                          (r"envelope panning", "panning envelope"), (r"fadeout \d+", "fadeout"),
                          (r"autovibrato", "auto-vibrato")):
        if re.search(pattern, text):
            used.add(name)
    return sorted(used)


def note_number(note):
    if note in ("...", "===") or len(note) != 3:
        return 0
    names = ["C-", "C#", "D-", "D#", "E-", "F-", "F#", "G-", "G#", "A-", "A#", "B-"]
    return 1 + names.index(note[:2]) + 12 * int(note[2]) if note[:2] in names else 0


def walk(s, beats_per_bar, rows_per_beat):
    """Plays the order list as the sequencer does (jumps, breaks, pattern loops and delays,
    speed and tempo) for one pass and one bar beyond the jump back. Returns the rows played,
    each a dict, and the position the pass returns to."""
    order = [o for o in s["order"] if o in s["patterns"]]
    restart = int(s["restart"]) if s["restart"].isdigit() else order.index(s["restart"])
    speed, tempo, seconds = s["speed"], s["tempo"], 0.0
    rows, position, row, visited, back, passes = [], 0, 0, set(), None, 0
    loop_start, loop_count, segment = 0, 0, 0
    while True:
        if position >= len(order) or (position, row, loop_count) in visited and back is None:
            back = restart if position >= len(order) else position
            passes += 1
            position, row, segment = back, row if position < len(order) else 0, 0
            rows_at_seam = len(rows)
        if back is not None and len(rows) >= rows_at_seam + beats_per_bar * rows_per_beat:
            break
        visited.add((position, row, loop_count))
        pattern = s["patterns"][order[position]]
        cells = pattern[row]
        jump = brk = None
        delay_rows = 0
        loop_to = None
        for c in cells:
            e = c[3]
            if e == "...":
                continue
            x = int(e[1:], 16)
            if e[0] == "F" and x:
                speed, tempo = (x, tempo) if x < 32 else (speed, x)
            elif e[0] == "B":
                jump = x
            elif e[0] == "D":
                brk = (x >> 4) * 10 + (x & 15)
            elif e[0] == "E" and e[1] == "6":
                if int(e[2], 16) == 0:
                    loop_start = row
                elif loop_count == 0:
                    loop_count = int(e[2], 16)
                    loop_to = loop_start
                else:
                    loop_count -= 1
                    loop_to = loop_start if loop_count else None
            elif e[0] == "E" and e[1] == "E":
                delay_rows = int(e[2], 16)
        tick = 2.5 / tempo
        rows.append({"position": position, "row": row, "cells": cells, "time": seconds, "tick": tick,
                     "speed": speed, "segment": segment, "pass": passes})
        seconds += speed * tick * (1 + delay_rows)
        segment += 1
        if loop_to is not None:
            row = loop_to
            continue
        if jump is not None or brk is not None:
            position = jump if jump is not None else position + 1
            row = brk if brk is not None else 0
            segment = 0
            if position < len(order) and row >= len(s["patterns"][order[position]]):
                row = 0
            continue
        row += 1
        if row >= len(pattern):
            position, row, segment = position + 1, 0, 0
    return rows, back, rows_at_seam


NOTE_NAMES = ["C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"]
TRIADS = {"": (0, 4, 7), "m": (0, 3, 7)}


def bar_chords(rows, seam, bar_rows, pitched):
    """The chord of every bar of the pass, as (root pitch class, "" or "m"), or None for a
    bar without pitched notes: the major or minor triad that the notes sounding in the bar
    fill most, weighted by rows held and volume, the lowest note of each row counted twice."""
    channel_instrument, sounding, chords = {}, {}, []
    weights = bass = None
    for r in rows[:seam]:
        if r["segment"] % bar_rows == 0:
            if weights is not None:
                chords.append(best_triad(weights, bass))
            weights, bass = [0.0] * 12, [0.0] * 12
        for ch, (note, inst, vol, eff) in enumerate(r["cells"]):
            if inst != "..":
                channel_instrument[ch] = int(inst)
            if note == "===" or eff[:2] == "EC":
                sounding.pop(ch, None)
            k = channel_instrument.get(ch)
            if note_number(note) and k:
                if k <= len(pitched) and pitched[k - 1]:
                    sounding[ch] = [note_number(note), 48]
                else:
                    sounding.pop(ch, None)
            if ch in sounding and vol != ".." and 0x10 <= int(vol, 16) <= 0x50:
                sounding[ch][1] = int(vol, 16) - 0x10
        for number, volume in sounding.values():
            weights[number % 12] += volume
        if sounding:
            low = min(sounding.values())
            bass[low[0] % 12] += low[1]
    if weights is not None:
        chords.append(best_triad(weights, bass))
    return chords


def best_triad(weights, bass):
    if not any(weights):
        return None
    scored = [(sum(weights[(root + i) % 12] for i in TRIADS[q]) + bass[root], -root, q)
              for root in range(12) for q in TRIADS]
    _, root, quality = max(scored)
    return (-root, quality)


def progressions(chords, length):
    """Every run of `length` bars with at least three different chords, keyed so that the same
    progression in another key compares equal: each chord as its interval above the first
    chord's root and its quality. Values: the first bar (from 1) and the chords by name."""
    found = {}
    for i in range(len(chords) - length + 1):
        run = chords[i:i + length]
        if None in run or len(set(map(tuple, run))) < 3:
            continue
        key = tuple(((root - run[0][0]) % 12, q) for root, q in run)
        found.setdefault(key, (i + 1, " ".join(NOTE_NAMES[root] + q for root, q in run)))
    return found


def score_figures(n, s):
    beats_per_bar, rows_per_beat = s["metre"] or DEFAULT_METRE.get(n, (4, 4))
    bar_rows = beats_per_bar * rows_per_beat
    rows, back, seam = walk(s, beats_per_bar, rows_per_beat)
    pitched = [any(k not in UNPITCHED for k in kinds) for kinds in s["kinds"]]
    channel_instrument = {}
    held = {}
    bars, bar = [], None
    off_grid = onsets = 0
    swing = []
    bad_bars = 0
    segment_lengths = []
    for i, r in enumerate(rows[:seam]):
        if r["segment"] == 0 and i:
            segment_lengths.append(rows[i - 1]["segment"] + 1)
        if r["segment"] % bar_rows == 0:
            bar = {"drums": set(), "set": set(), "start": r["time"]}
            bars.append(bar)
        in_bar = r["segment"] % bar_rows
        for ch, (note, inst, vol, eff) in enumerate(r["cells"]):
            if inst != "..":
                channel_instrument[ch] = int(inst)
            if note == "===" or eff[:2] == "EC":
                held.pop(ch, None)
            k = channel_instrument.get(ch)
            if note_number(note) and k and k <= len(pitched):
                delay = int(eff[2], 16) if eff[:2] == "ED" else 0
                if pitched[k - 1]:
                    onsets += 1
                    half = max(1, rows_per_beat // 2)
                    off_grid += in_bar % half != 0 or delay > 0
                    held[ch] = k
                else:
                    bar["drums"].add((in_bar, k, delay))
                    held.pop(ch, None)
                bar["set"].add(k)
                if rows_per_beat % 2 == 0 and in_bar % rows_per_beat == rows_per_beat // 2:
                    beat_row = i - rows_per_beat // 2
                    if beat_row >= 0 and i + rows_per_beat // 2 < len(rows):
                        start = rows[beat_row]["time"]
                        end = rows[i + rows_per_beat // 2]["time"]
                        swing.append((r["time"] + delay * r["tick"] - start) / (end - start))
        bar["set"].update(held.values())
    segment_lengths.append(rows[seam - 1]["segment"] + 1)
    bad_bars = sum(1 for length in segment_lengths if length % rows_per_beat)
    drum_bars = [frozenset(b["drums"]) for b in bars]
    common = max((drum_bars.count(d) for d in set(drum_bars) if d), default=0)
    changes = sum(1 for a, b in zip(bars, bars[1:]) if a["set"] != b["set"])

    def bpm(segment):  # beats a minute over a run of rows
        span = segment[-1]["time"] + segment[-1]["speed"] * segment[-1]["tick"] - segment[0]["time"]
        return 60 * len(segment) / rows_per_beat / span

    used = {int(c[1]) for r in rows[:seam] for c in r["cells"] if c[1] != ".."}
    return {"bars": len(bars), "bad_bars": bad_bars, "drum_bar": common / max(1, len(bars)),
            "changes": changes / max(1, len(bars) - 1), "off_grid": off_grid / max(1, onsets),
            "swing": statistics.median(swing) if swing else None,
            "tempo_before": bpm(rows[seam - bar_rows:seam]), "tempo_after": bpm(rows[seam:seam + bar_rows]),
            "pitched": sum(1 for k in used if 0 < k <= len(pitched) and pitched[k - 1]),
            "score_back": back, "chords": bar_chords(rows, seam, bar_rows, pitched)}


# ---------------------------------------------------------------- the sound


def read_wav(path):
    with wave.open(path) as w:
        frames = np.frombuffer(w.readframes(w.getnframes()), dtype="<i2").astype(np.float64)
        channels, rate = w.getnchannels(), w.getframerate()
    frames = frames.reshape(-1, channels).mean(axis=1) / 32768.0
    return frames, rate


def weighting(freqs, kind):
    """Power gain of the A weighting, or of the K weighting of loudness meters, by frequency."""
    f2 = np.maximum(freqs, 1.0) ** 2
    if kind == "A":
        ra = (12194.0 ** 2 * f2 ** 2) / ((f2 + 20.6 ** 2) * np.sqrt((f2 + 107.7 ** 2) * (f2 + 737.9 ** 2)) * (f2 + 12194.0 ** 2))
        return (ra / 0.7943) ** 2  # 0 dB at 1 kHz
    high = 1 + 0.585 * f2 / (f2 + 1500.0 ** 2)  # the +4 dB shelf above 1.5 kHz
    low = f2 ** 2 / (f2 ** 2 + 38.0 ** 4)  # second-order high-pass near 38 Hz
    return high * low


def window_powers(x, rate, seconds, kind):
    size = int(rate * seconds)
    count = len(x) // size
    frames = x[:count * size].reshape(count, size) * np.hanning(size)
    spectrum = np.abs(np.fft.rfft(frames, axis=1)) ** 2
    return (spectrum * weighting(np.fft.rfftfreq(size, 1 / rate), kind)).sum(axis=1)


BAND_CENTRES = [1000 * 2 ** (k / 3) for k in range(-16, 13)]  # 25 Hz .. 16 kHz


def third_octave(x, rate):
    size = 16384
    count = max(1, len(x) // size)
    x = np.pad(x, (0, max(0, size - len(x))))
    power = (np.abs(np.fft.rfft(x[:count * size].reshape(count, size) * np.hanning(size), axis=1)) ** 2).mean(axis=0)
    freqs = np.fft.rfftfreq(size, 1 / rate)
    bands = np.array([power[(freqs >= c * 2 ** -(1 / 6)) & (freqs < c * 2 ** (1 / 6))].sum() for c in BAND_CENTRES])
    db = 10 * np.log10(np.maximum(bands, bands.max() * 1e-8))
    return list(db - db.mean())


def distance(a, b):
    return float(np.sqrt(np.mean((np.array(a) - np.array(b)) ** 2)))


def loudness(path):
    ebu = subprocess.run(["ffmpeg", "-hide_banner", "-nostats", "-i", path, "-af", "ebur128", "-f", "null", "-"],
                         capture_output=True, text=True).stderr
    return float(re.findall(r"I:\s+(-?[\d.]+) LUFS", ebu)[-1]), float(re.findall(r"LRA:\s+(-?[\d.]+) LU", ebu)[-1])


def db(p):
    return 10 * np.log10(max(p, 1e-20))


def audio_figures(n, build, tmp, spectra):
    tunetool = os.path.join(build, "tools", "tunetool", "tunetool")
    xm = os.path.join(TUNES, "%02d.xm" % n)
    one, two, packed, packed_wav = (os.path.join(tmp, "%02d%s" % (n, x)) for x in (".wav", "-2.wav", ".packed", "-p.wav"))
    rendered = run([tunetool, "render", xm, "-o", one])
    f = {"seconds": float(re.search(r": ([\d.]+) s", rendered).group(1)),
         "clamp": int(re.search(r"clamp (\d+) frames", rendered).group(1))}
    back = re.search(r"returns to position (\d+)", rendered)
    f["back"] = int(back.group(1)) if back else None
    info = run([tunetool, "info", xm])
    f["positions"] = int(re.search(r"song length\s+(\d+)", info).group(1))
    f["patterns"] = int(re.search(r"patterns\s+(\d+)", info).group(1))
    used = re.search(r"used\s+(\d+)", run([tunetool, "pack", xm, "-o", packed]))
    f["used"] = int(used.group(1)) if used else 0
    f["lufs"], f["lra"] = loudness(one)
    x, rate = read_wav(one)
    f["spectrum"] = third_octave(x, rate)
    # The seam: the 3 s before the end of the pass against the 3 s after the jump back.
    run([tunetool, "render", xm, "--loops", "2", "-o", two])
    y, _ = read_wav(two)
    seam = len(x)
    span = min(3 * rate, seam // 2, len(y) - seam)
    before = window_powers(y[seam - span:seam], rate, span / rate, "K")[0]
    after = window_powers(y[seam:seam + span], rate, span / rate, "K")[0]
    f["seam_before"], f["seam_after"] = db(before), db(after)
    # Packed against unpacked over the quietest tenth of 400 ms windows that are not silence.
    run([tunetool, "render", packed, "-o", packed_wav])
    p, _ = read_wav(packed_wav)
    m = min(len(p), len(x))
    signal = window_powers(x[:m], rate, 0.4, "A")
    noise = window_powers(p[:m] - x[:m], rate, 0.4, "A")
    audible = signal > signal.max() * 1e-6
    if audible.any():
        s, e = signal[audible], noise[audible]
        quiet = np.argsort(s)[:max(1, len(s) // 10)]
        f["quiet_snr"] = db(s[quiet].sum()) - db(e[quiet].sum())
        f["snr"] = db(signal.sum()) - db(noise.sum())
    if spectra:
        os.makedirs(spectra, exist_ok=True)
        subprocess.run(["ffmpeg", "-hide_banner", "-loglevel", "error", "-y", "-t", "60", "-i", one, "-lavfi",
                        "showspectrumpic=s=768x256:legend=1:scale=log:fscale=log,format=pal8",
                        os.path.join(spectra, "%02d.png" % n)], check=True)
    return f


AUDIO_VERSION = b"audio figures 2"  # bump when audio_figures measures differently


def measure(n, build, tmp, spectra=None, cache=None):
    """The figures of tune n. The score's are read afresh; the audio figures, which take a
    render, are kept in cache by the .xm they came from."""
    xm = os.path.join(TUNES, "%02d.xm" % n)
    s = parse_score(os.path.join(TUNES, "%02d.score" % n))
    f = {"n": n, "title": s["title"], "tempo": s["tempo"], "speed": s["speed"], "linear": s["linear"],
         "effects": effects_used(s["text"])}
    f.update(score_figures(n, s))
    key = hashlib.sha1(open(xm, "rb").read() + AUDIO_VERSION).hexdigest()
    path = os.path.join(cache, "%02d.json" % n) if cache else None
    audio = None
    if path and os.path.exists(path) and not spectra:
        audio = json.load(open(path))
        if audio.get("key") != key:
            audio = None
    if audio is None:
        audio = audio_figures(n, build, tmp, spectra)
        audio["key"] = key
        if path:
            os.makedirs(cache, exist_ok=True)
            json.dump(audio, open(path, "w"))
    f.update(audio)
    return f


def nearest(figures):
    for f in figures:
        others = [(distance(f["spectrum"], g["spectrum"]), g["n"]) for g in figures if g is not f]
        f["nearest"] = min(others)


def pairwise(spectra):
    return [distance(a, b) for i, a in enumerate(spectra) for b in spectra[i + 1:]]


def seam_text(f):
    if f["seam_before"] < -60:
        return "ends in silence"
    return "%+.1f dB" % (f["seam_after"] - f["seam_before"])


def tempo_text(f):
    a, b = f["tempo_before"], f["tempo_after"]
    return "%.0f" % a if abs(a - b) < 0.5 else "%.0f -> %.0f" % (a, b)


def one_tune(f, missed):
    back = "position %s" % f["back"] if f["back"] is not None else "does not loop"
    print("%d %s: %d:%02d before the loop, returns to %s (score: position %s)" % (
        f["n"], f["title"], int(f["seconds"]) // 60, int(f["seconds"]) % 60, back, f["score_back"]))
    print("  loudness %.1f LUFS, range %.1f LU; longest clamp run %d frames" % (f["lufs"], f["lra"], f["clamp"]))
    if "nearest" in f:
        print("  spectrum: nearest tune %d at %.1f dB" % (f["nearest"][1], f["nearest"][0]))
    print("  pitched instruments %d; most common drum bar in %.0f%% of %d bars; %.2f instrument-set changes a bar"
          % (f["pitched"], 100 * f["drum_bar"], f["bars"], f["changes"]))
    print("  pitched onsets off the eighth grid %.0f%%; offbeat eighths at %s of the beat; bars not whole beats: %d"
          % (100 * f["off_grid"], "%.2f" % f["swing"] if f["swing"] is not None else "-", f["bad_bars"]))
    print("  seam: level %s, tempo %s BPM" % (seam_text(f), tempo_text(f)))
    print("  packed: %d of 409600 bytes; SNR %.1f dB, quietest tenth %.1f dB (A-weighted)"
          % (f["used"], f.get("snr", 0), f.get("quiet_snr", 0)))
    for who, said in missed:
        if who == "%d %s" % (f["n"], f["title"]):
            print("  ! " + said)


def table(figures):
    average = sum(f["lufs"] for f in figures) / len(figures)
    print("| # | Title | Style | Tempo / speed | Length before loop (returns to) | Loudness (LUFS) | LRA (LU) | "
          "Nearest spectrum | Pitched instruments | Common drum bar | Set changes / bar | Off-grid onsets | "
          "Seam level, tempo | Swing | Quietest tenth SNR (all) | Clamp | Used bytes |")
    print("|" + "---|" * 17)
    for f in figures:
        print("| %d | %s | %s | %d / %d | %d:%02d (position %s) | %.1f (%+.1f) | %.1f | %.1f dB (%d) | %d | %.0f%% | "
              "%.2f | %.0f%% | %s, %s | %s | %.1f dB (%.1f) | %d | %d |" % (
                  f["n"], f["title"], STYLES[f["n"] - 1], f["tempo"], f["speed"], int(f["seconds"]) // 60,
                  int(f["seconds"]) % 60, f["back"], f["lufs"], f["lufs"] - average, f["lra"], f["nearest"][0],
                  f["nearest"][1], f["pitched"], 100 * f["drum_bar"], f["changes"], 100 * f["off_grid"], seam_text(f),
                  tempo_text(f), "%.2f" % f["swing"] if f["swing"] is not None else "-", f.get("quiet_snr", 0),
                  f.get("snr", 0), f["clamp"], f["used"]))
    pairs = pairwise([f["spectrum"] for f in figures])
    print("\nDisk average %.1f LUFS; spread %.1f .. %+.1f LU. Spectral distance between tunes: median %.1f dB, "
          "closest pair %.1f dB." % (average, min(f["lufs"] for f in figures) - average,
                                     max(f["lufs"] for f in figures) - average, statistics.median(pairs), min(pairs)))
    print("\n| # | Effects and features | Bars | Bars not whole beats | Patterns / positions |")
    print("|---|---|---|---|---|")
    for f in figures:
        print("| %d | %s | %d | %d | %d / %d |" % (f["n"], ", ".join(f["effects"]), f["bars"], f["bad_bars"],
                                                  f["patterns"], f["positions"]))


LABEL_LIMIT = 330 - 6  # a tune label keeps 6 pixels of the bar's 330 clear
SWING_TUNE, SWING_RANGE = 8, (0.60, 0.67)
PHRASE_BARS = 8


def label_widths(build):
    text = run([os.path.join(build, "tools", "font", "md-labelcheck"), "--widths"])
    return {int(n): int(w) for n, w in re.findall(r"^tune (\d+) (\d+)$", text, re.M)}


def failures(figures, build):
    """What the disk misses of what the tunes must show, each as (who, text): who names the
    tune, or is "disk" for a figure of all thirteen."""
    out = []
    name = {f["n"]: "%d %s" % (f["n"], f["title"]) for f in figures}
    pairs = [(distance(a["spectrum"], b["spectrum"]), a["n"], b["n"])
             for i, a in enumerate(figures) for b in figures[i + 1:]]
    median = statistics.median(p[0] for p in pairs) if pairs else 99
    if median <= 5:
        out.append((None, "spectral distance between tunes: median %.1f dB, not over 5" % median))
    for d, a, b in pairs:
        if d < 2:
            out.append((a, "spectrum %.1f dB from tune %d, under 2" % (d, b)))
    runs = {f["n"]: progressions(f["chords"], PHRASE_BARS) for f in figures}
    for i, a in enumerate(figures):
        for b in figures[i + 1:]:
            for key in sorted(set(runs[a["n"]]) & set(runs[b["n"]]))[:1]:
                (bar_a, chords_a), (bar_b, chords_b) = runs[a["n"]][key], runs[b["n"]][key]
                out.append((a["n"], "%d-bar progression from bar %d (%s) is tune %d's from bar %d (%s)" % (
                    PHRASE_BARS, bar_a, chords_a, b["n"], bar_b, chords_b)))
    for n, sounds in shared_sounds().items():
        for users, sound in sounds:
            out.append((n, "sound used by %d tunes: %s" % (users, sound)))
    few = [f["n"] for f in figures if f["pitched"] < 5]
    if len(few) > len(figures) // 2:
        out.append((None, "fewer than five pitched instruments in most tunes: %s" % few))
    narrow = [f["n"] for f in figures if f["lra"] < 3]
    if len(narrow) > len(figures) // 2:
        out.append((None, "loudness range under 3 LU in most tunes: %s" % narrow))
    lufs = [f["lufs"] for f in figures]
    if max(lufs) - min(lufs) > 2:
        out.append((None, "integrated loudness spread %.1f LU, over 2" % (max(lufs) - min(lufs))))
    for f in figures:
        if f["n"] != 13 and f["lra"] < 1.5:
            out.append((f["n"], "loudness range %.1f LU, under 1.5" % f["lra"]))
        if f["n"] != 13 and f["seconds"] < 90:
            out.append((f["n"], "%.0f s before the loop, under 90" % f["seconds"]))
        if f["seam_before"] >= -60 and abs(f["seam_after"] - f["seam_before"]) > 2:
            out.append((f["n"], "level step of %+.1f dB at the loop seam" % (f["seam_after"] - f["seam_before"])))
        if abs(f["tempo_before"] - f["tempo_after"]) >= 0.5:
            out.append((f["n"], "tempo %s BPM at the loop seam" % tempo_text(f)))
        if f["bad_bars"]:
            out.append((f["n"], "%d bars not a whole number of beats" % f["bad_bars"]))
        if f["back"] != f["score_back"]:
            out.append((f["n"], "returns to position %s, the score says %s" % (f["back"], f["score_back"])))
        if f["clamp"]:
            out.append((f["n"], "reaches the clamp for %d frames" % f["clamp"]))
        if f["n"] == SWING_TUNE and not (f["swing"] is not None and SWING_RANGE[0] <= f["swing"] <= SWING_RANGE[1]):
            out.append((f["n"], "offbeat eighths at %s of the beat, not swung (%.2f .. %.2f)" % (
                "%.2f" % f["swing"] if f["swing"] is not None else "-", *SWING_RANGE)))
    for n, width in sorted(label_widths(build).items()):
        if width > LABEL_LIMIT:
            out.append((n if n in name else None, "tune label %d measures %d pixels, over %d (6 inside the bar's 330)"
                        % (n, width, LABEL_LIMIT)))
    return [(name.get(n, "disk"), text) for n, text in out]


def modules(paths):
    """Audio figures of other modules, rendered through ffmpeg's libopenmpt (one pass, at most
    four minutes), and what thirteen of them picked at random look like."""
    import random
    spectra, lras, lufs = [], [], []
    with tempfile.TemporaryDirectory() as tmp:
        for path in paths:
            wav = os.path.join(tmp, "m.wav")
            subprocess.run(["ffmpeg", "-hide_banner", "-loglevel", "error", "-y", "-i", path, "-t", "240", "-ac", "2",
                            "-ar", str(RATE), wav], check=True)
            x, rate = read_wav(wav)
            if len(x) < 45 * rate:
                print("  %s: %.0f s, left out (shorter than 45 s)" % (os.path.basename(path), len(x) / rate))
                continue
            i, lra = loudness(wav)
            spectra.append(third_octave(x, rate))
            lras.append(lra)
            lufs.append(i)
            print("  %s: %.0f s, %.1f LUFS, LRA %.1f LU" % (os.path.basename(path), len(x) / rate, i, lra))
    pairs = pairwise(spectra)
    rng = random.Random(1)
    medians, closest = [], []
    for _ in range(1000):
        pick = rng.sample(spectra, min(13, len(spectra)))
        p = pairwise(pick)
        medians.append(statistics.median(p))
        closest.append(min(p))
    medians.sort()
    closest.sort()
    q = statistics.quantiles
    print("%d modules. LRA median %.1f LU (quartiles %.1f .. %.1f); integrated loudness median %.1f LUFS "
          "(quartiles %.1f .. %.1f)" % (len(spectra), statistics.median(lras), q(lras)[0], q(lras)[2],
                                        statistics.median(lufs), q(lufs)[0], q(lufs)[2]))
    print("Spectral distance, all pairs: median %.1f dB (quartiles %.1f .. %.1f). Thirteen picked at random "
          "(1000 draws): median distance %.1f dB, above %.1f dB in nine draws of ten; closest pair median %.1f dB"
          % (statistics.median(pairs), q(pairs)[0], q(pairs)[2], medians[500], medians[100], closest[500]))


def check(figures, build):
    """The must-show figures of the disk, then every one missed; 1 when one is."""
    pairs = pairwise([f["spectrum"] for f in figures])
    lufs = [f["lufs"] for f in figures]
    steps = [f["seam_after"] - f["seam_before"] for f in figures if f["seam_before"] >= -60]
    runs = [set(progressions(f["chords"], PHRASE_BARS)) for f in figures]
    shared_runs = sum(len(a & b) for i, a in enumerate(runs) for b in runs[i + 1:])
    users = sound_users()[1]
    longest = [f for f in figures if f["n"] != 13]
    swing = figures[SWING_TUNE - 1]["swing"]
    print("spectral distance between tunes: median %.1f dB (over 5), closest pair %.1f dB (2 or more)"
          % (statistics.median(pairs), min(pairs)))
    print("%d-bar progressions shared between tunes: %d (none)" % (PHRASE_BARS, shared_runs))
    print("most tunes that use one synthesised sound: %d (at most 3)" % max(users.values()))
    print("tunes with five or more pitched instruments: %d of 13 (most)" % sum(f["pitched"] >= 5 for f in figures))
    print("tunes with a loudness range of 3 LU or more: %d of 13 (most); lowest but the tiny loop %.1f LU (1.5 or "
          "more); shortest pass but the tiny loop %.0f s (90 or more)" % (
              sum(f["lra"] >= 3 for f in figures), min(f["lra"] for f in longest), min(f["seconds"] for f in longest)))
    print("level steps at the seams %+.1f .. %+.1f dB (within 2); tempo jumps %d (none); bars not whole beats %d "
          "(none)" % (min(steps), max(steps), sum(abs(f["tempo_before"] - f["tempo_after"]) >= 0.5 for f in figures),
                      sum(f["bad_bars"] for f in figures)))
    print("offbeat eighths of tune %d at %s of the beat (%.2f .. %.2f)" % (
        SWING_TUNE, "%.2f" % swing if swing is not None else "-", *SWING_RANGE))
    print("widest tune label %d pixels (%d or less)" % (max(label_widths(build).values()), LABEL_LIMIT))
    print("integrated loudness %.1f .. %.1f LUFS, spread %.1f LU (2 or less); clamp runs %d frames (none); "
          "tunes returning elsewhere than their restart %d (none)" % (
              min(lufs), max(lufs), max(lufs) - min(lufs), sum(f["clamp"] for f in figures),
              sum(f["back"] != f["score_back"] for f in figures)))
    missed = failures(figures, build)
    for who, text in missed:
        print("! %s: %s" % (who, text))
    return 1 if missed else 0


def main():
    args = sys.argv[1:]
    if args and args[0] == "--modules":
        modules(args[1:])
        return
    if not args or args[0].startswith("-"):
        sys.exit(__doc__)
    build = args[0]
    spectra = args[args.index("--spectrograms") + 1] if "--spectrograms" in args else None
    cache = os.path.join(build, "tune-measures")
    with tempfile.TemporaryDirectory() as tmp:
        if "--tune" in args:
            n = args[args.index("--tune") + 1] if args.index("--tune") + 1 < len(args) else ""
            if not n.isdigit() or not 1 <= int(n) <= 13:
                sys.exit("measure-tunes.py: --tune takes a tune number from 1 to 13")
            n = int(n)
            figures = [measure(k, build, tmp, cache=cache) if k == n or os.path.exists(
                os.path.join(cache, "%02d.json" % k)) else None for k in range(1, 14)]
            known = [f for f in figures if f]
            if len(known) > 1:
                nearest(known)
            one_tune(figures[n - 1], failures(known, build))
            if len(known) < 13:
                print("  (nearest among the %d tunes measured so far; a full run measures all)" % len(known))
            return
        figures = [measure(n, build, tmp, spectra, cache) for n in range(1, 14)]
    nearest(figures)
    if "--check" in args:
        sys.exit(check(figures, build))
    table(figures)


if __name__ == "__main__":
    main()
