#!/usr/bin/env python3
"""Seconds of conversion per minute of input for every profile, probe time per file, and the
peak memory of each conversion, all through the command line that shares the window's code.

Usage: bench/profiles_bench.py [CLI] (default build/cli/clipwright-cli). The source is the
project's 560x320 H.264+AAC clip re-encoded once to 640x480 H.264+AAC by the engine itself."""
import os
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CLI = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build/cli/clipwright-cli")
MEDIA = os.path.join(ROOT, "tests", "media")


def run(args):
    """Runs the command line; returns (seconds, peak resident KiB of that process, stdout)."""
    with tempfile.TemporaryFile("w+") as out, tempfile.TemporaryFile("w+") as err:
        start = time.perf_counter()
        child = subprocess.Popen([CLI] + args, stdout=out, stderr=err)
        _, status, usage = os.wait4(child.pid, 0)
        seconds = time.perf_counter() - start
        child.returncode = os.waitstatus_to_exitcode(status)
        out.seek(0)
        err.seek(0)
        if child.returncode != 0:
            sys.exit(f"{' '.join(args)}: exit {child.returncode}\n{out.read()}{err.read()}")
        return seconds, usage.ru_maxrss, out.read()


def main():
    work = tempfile.mkdtemp(prefix="clipwright-bench-")
    source = os.path.join(work, "source_640x480.mp4")
    run(["transcode", "-i", os.path.join(MEDIA, "mp4_h264_aac_560x320.mp4"), "-o", source,
         "-O", "vcodec=libx264", "-O", "s=640x480", "-O", "acodec=aac", "-O", "ab=128000",
         "--log-level", "quiet"])
    _, _, probe = run(["probe", source])
    duration = int(next(l for l in probe.splitlines() if l.startswith("duration_us:")).split()[1])
    minutes = duration / 60e6
    print(f"source: 640x480 H.264 + AAC, {duration / 1e6:.2f} s")
    print(f"{'profile':<45} {'s per input minute':>18} {'peak MiB':>9}")
    _, _, listing = run(["profiles"])
    peaks = []
    for line in listing.splitlines():
        index, caption = line.split("\t")
        if caption.strip().startswith("---"):
            continue
        out = os.path.join(work, index)
        os.makedirs(out, exist_ok=True)
        seconds, peak, _ = run(["convert", "--profile", index, "--output-folder", out,
                                "--overwrite", source])
        peaks.append(peak)
        print(f"{caption:<45} {seconds / minutes:18.2f} {peak / 1024:9.1f}")
    files = sorted(os.path.join(MEDIA, f) for f in os.listdir(MEDIA) if not f.endswith(".md"))
    seconds, _, _ = run(["probe"] + files)
    print(f"probe: {len(files)} files in {seconds:.3f} s, {seconds / len(files) * 1000:.1f} ms "
          f"per file (one process, libraries bound once)")
    print(f"peak memory of a conversion: {max(peaks) / 1024:.1f} MiB")


if __name__ == "__main__":
    main()
