#!/usr/bin/python3
"""Mouth-to-ear delay of one call, measured on the sound server both programs use.

    m2e.py setup                 # the devices below, in the sound server of $PULSE_SERVER
    m2e.py measure --caller PID --callee PID [--chirps N] [--keep DIR]

One stereo null sink, m2e_rec, is the clock of everything measured. Two one-channel sinks remap
into it: m2e_mouth to its left channel, m2e_ear to its right. One one-channel source, m2e_mic,
is the left channel of m2e_rec's monitor. The caller's microphone streams are moved to m2e_mic and
the callee's speaker streams to m2e_ear; a train of chirps is played into m2e_mouth, and one parec
of m2e_rec's monitor records, on one timeline, what the caller's microphone is fed (left) and
what the callee plays (right). Each chirp is found in both channels by cross-correlation.

Prints the delay of each chirp, then one line: "m2e MEDIAN MIN MAX DRIFT LOST N" (ms; DRIFT is
max - min over the call; LOST the chirps not heard at the far end).
"""
import argparse
import json
import os
import subprocess
import sys
import tempfile
import threading
import time

import numpy as np

RATE = 48000
SPACING = 1.0  # s between chirps
CHIRP = 0.1  # s
# Four kinds of chirp in turn, up and down in two bands inside what PCMU carries, which tell
# apart a chirp from the three before and after it: delays up to 4 SPACING are read right.
KINDS = ((400.0, 1600.0), (1600.0, 400.0), (1800.0, 3000.0), (3000.0, 1800.0))
FOUND = 0.5  # normalised correlation a chirp must reach to count as heard


def pactl(*args):
    return subprocess.run(["pactl", *args], check=True, capture_output=True, text=True).stdout


def setup():
    loaded = pactl("list", "short", "modules")
    if "sink_name=m2e_rec" in loaded:
        return
    # Each device has a name of its own, as a desktop's devices have: two of one name ("Null
    # Output") would send a program that goes by names to ALSA's plug-in for the server instead.
    pactl("load-module", "module-null-sink", "sink_name=m2e_rec", "channels=2",
          "channel_map=front-left,front-right", f"rate={RATE}",
          "sink_properties=device.description=m2e_rec")
    for name, side in (("m2e_mouth", "front-left"), ("m2e_ear", "front-right")):
        pactl("load-module", "module-remap-sink", f"sink_name={name}", "master=m2e_rec",
              "channels=1", "channel_map=mono", f"master_channel_map={side}", "remix=no",
              f"sink_properties=device.description={name}")
    pactl("load-module", "module-remap-source", "source_name=m2e_mic",
          "master=m2e_rec.monitor", "channels=1", "channel_map=mono",
          "master_channel_map=front-left", "remix=no",
          "source_properties=device.description=m2e_mic")


def streams(kind, pid):
    """Indexes of the sink inputs or source outputs the process holds."""
    found = []
    for stream in json.loads(pactl("-f", "json", "list", kind)):
        if stream.get("properties", {}).get("application.process.id") == str(pid):
            found.append(stream["index"])
    return found


def buffered(caller, callee):
    """What the sound server holds of the measured streams now: its own buffer and the device's
    latency, in ms, as it reports them."""
    said = []
    for kind, pid, what in (("source-outputs", caller, "microphone"),
                            ("sink-inputs", callee, "speaker")):
        for stream in json.loads(pactl("-f", "json", "list", kind)):
            if stream.get("properties", {}).get("application.process.id") == str(pid):
                device = stream.get("sink_latency_usec", stream.get("source_latency_usec", 0))
                said.append(f"{what} buffer {stream.get('buffer_latency_usec', 0) / 1000:.0f} ms"
                            f" + device {device / 1000:.0f} ms")
    return ", ".join(said)


def route(caller, callee):
    """Moves the caller's microphone streams to m2e_mic and the callee's speaker streams to
    m2e_ear; how many of each there are."""
    mics = streams("source-outputs", caller)
    ears = streams("sink-inputs", callee)
    # A stream may end between the listing and the move: the next round sees what is left.
    for kind, indexes, device in (("move-source-output", mics, "m2e_mic"),
                                  ("move-sink-input", ears, "m2e_ear")):
        for index in indexes:
            subprocess.run(["pactl", kind, str(index), device], capture_output=True)
    return len(mics), len(ears)


def keep_routing(caller, callee, done):
    """A program may open more streams as the call goes (its sound player, a stream opened
    again): every one of them goes where it is measured, until done is set."""
    while not done.wait(0.2):
        route(caller, callee)


def chirp(kind):
    t = np.arange(int(CHIRP * RATE)) / RATE
    f0, f1 = KINDS[kind]
    phase = 2 * np.pi * (f0 * t + (f1 - f0) * t * t / (2 * CHIRP))
    return np.sin(phase) * np.hanning(t.size)


def train(count):
    lead = int(0.5 * RATE)
    out = np.zeros(lead + int((count * SPACING + 1) * RATE))
    for k in range(count):
        start = lead + int(k * SPACING * RATE)
        c = chirp(k % len(KINDS))
        out[start:start + c.size] += 0.5 * c
    return out


def correlation(signal, template):
    """Normalised cross-correlation of template at every offset of signal."""
    n = signal.size + template.size
    size = 1 << (n - 1).bit_length()
    corr = np.fft.irfft(np.fft.rfft(signal, size) * np.conj(np.fft.rfft(template, size)), size)
    corr = corr[:signal.size - template.size + 1]
    energy = np.convolve(signal * signal, np.ones(template.size), "valid")
    return corr / (np.sqrt(np.maximum(energy, 1e-12)) * np.linalg.norm(template))


def analyse(left, right, count):
    templates = [chirp(kind) for kind in range(len(KINDS))]
    ncc = [(correlation(left, t), correlation(right, t)) for t in templates]
    # The first chirp in the microphone feed sets the timeline; the others follow at SPACING.
    first = int(np.argmax(ncc[0][0] > FOUND)) if (ncc[0][0] > FOUND).any() else None
    if first is None:
        sys.exit("m2e: no chirp in the microphone feed")
    first += int(np.argmax(ncc[0][0][first:first + RATE // 10]))
    delays = []
    for k in range(count):
        mouth_ncc, ear_ncc = ncc[k % len(KINDS)]
        guess = first + int(k * SPACING * RATE)
        lo, hi = max(guess - RATE // 5, 0), min(guess + RATE // 5, mouth_ncc.size)
        mouth = lo + int(np.argmax(mouth_ncc[lo:hi]))
        # The same kind comes back len(KINDS) SPACING later.
        lo, hi = mouth, min(mouth + int((len(KINDS) - 0.1) * SPACING * RATE), ear_ncc.size)
        if hi <= lo:
            delays.append(None)
            continue
        ear = lo + int(np.argmax(ear_ncc[lo:hi]))
        delays.append((ear - mouth) * 1000.0 / RATE if ear_ncc[ear] >= FOUND else None)
    return delays


def measure(caller, callee, count, keep):
    end = time.monotonic() + 20
    while 0 in route(caller, callee):
        if time.monotonic() > end:
            sys.exit("m2e: the caller's microphone or the callee's speaker has no stream")
        time.sleep(0.1)
    done = threading.Event()
    router = threading.Thread(target=keep_routing, args=(caller, callee, done))
    router.start()
    print(f"sound server at the start: {buffered(caller, callee)}", file=sys.stderr)
    work = keep or tempfile.mkdtemp(prefix="m2e-")
    played = os.path.join(work, "chirps.raw")
    recorded = os.path.join(work, "recorded.raw")
    (train(count) * 32767).astype("<i2").tofile(played)
    with open(recorded, "wb") as out:
        rec = subprocess.Popen(["parec", "-d", "m2e_rec.monitor", "--raw", "--format=s16le",
                                f"--rate={RATE}", "--channels=2", "--latency-msec=10"],
                               stdout=out)
        try:
            subprocess.run(["pacat", "-d", "m2e_mouth", "--raw", "--format=s16le",
                            f"--rate={RATE}", "--channels=1", "--latency-msec=50", played],
                           check=True, timeout=count * SPACING + 30)
            time.sleep(len(KINDS) * SPACING)  # the last chirp's way to the far end
            print(f"sound server: {buffered(caller, callee)}", file=sys.stderr)
        finally:
            rec.terminate()
            rec.wait()
            done.set()
            router.join()
    data = np.fromfile(recorded, "<i2").astype(np.float64) / 32768
    data = data[:data.size // 2 * 2].reshape(-1, 2)
    delays = analyse(data[:, 0], data[:, 1], count)
    if not keep:
        for name in (played, recorded):
            os.remove(name)
        os.rmdir(work)
    heard = [d for d in delays if d is not None]
    print(" ".join("-" if d is None else f"{d:.1f}" for d in delays), file=sys.stderr)
    if not heard:
        print(f"m2e - - - - {count} {count}")
        return
    print(f"m2e {np.median(heard):.1f} {min(heard):.1f} {max(heard):.1f} "
          f"{max(heard) - min(heard):.1f} {count - len(heard)} {count}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("action", choices=("setup", "measure"))
    parser.add_argument("--caller", type=int)
    parser.add_argument("--callee", type=int)
    parser.add_argument("--chirps", type=int, default=20)
    parser.add_argument("--keep", help="folder to keep the played and recorded sound in")
    args = parser.parse_args()
    if args.action == "setup":
        setup()
    else:
        if not args.caller or not args.callee:
            parser.error("measure needs --caller and --callee")
        setup()
        measure(args.caller, args.callee, args.chirps, args.keep)


if __name__ == "__main__":
    main()
