#!/usr/bin/env python3
"""The real program's benchmark under a virtual X server, beside the engine's
own figures from the same run. Usage (scripts/run-benchmarks.sh runs it so):

  xvfb-run -a -s "-screen 0 1920x1080x24" python3 bench/acceptance/run_bench.py build/release

How it is measured. One clock, CLOCK_MONOTONIC (Python's time.monotonic_ns and
the program's steady_clock), for every time. The program's benchmark build
(velmora_bench_acceptance: its own main() with a driver thread) opens a second
X connection as the application object is made, before any window exists, and
asks the X server's damage extension for every drawing into any window (a
damage object on the root window); each report is timestamped as it arrives.
- Cold start: from just before this script starts the process to the first
  report after which every pixel of the welcome window had been drawn since
  the server mapped it (Qt's windows have no background the server would
  paint, so only the program's own drawing counts); the window on the screen is
  then checked to hold more than a flat colour. First launch on a fresh home
  apart (cold), then warm launches.
- Open: File > Open… with the document's path typed into the open panel; from
  the Return key's delivery to the first X frame whose pixels over the canvas
  view equal what it shows once everything has settled (nine rows across the
  screen are grabbed with XGetImage after every burst of damage; 99 % of their
  points over the view must be equal). The time the document object existed
  is given beside it.
- Painting: six strokes of 240 samples a second along screen rows, 5 pixels
  apart, a hard brush 12 pixels wide on the screen in one colour on the top
  layer, posted to Qt's window-system input (QWindowSystemInterface, as Qt's X
  event reader does) from the driver thread; a sample is delivered when it is
  posted. The pixel 3 pixels past it on its row is the sample's: its own dots
  cover it, the previous sample's stop 2 pixels short. The stroke's curve
  reaches a sample once the next one has come (so a sample waits at least
  1/240 s), and never reaches a stroke's last sample, which is left out. After every burst of
  damage meeting the row the observer grabs the row from the server, and the
  first grab showing the brush's colour (as the screen shows it, learnt from
  the first stroke, which is not counted) at a sample's pixel is when its dots
  were shown: an upper bound, late by at most one grab. Samples whose pixel
  already had that colour are left out; samples never shown are counted. The
  samples of each stroke's last 25 ms are also given apart: their dots may
  wait for the stroke's close.
- Save: File > Save after the strokes (the document's save as the menu asks
  for it): the main thread's part (the file is then written on the save's
  thread), the whole save until its end is handled on the main thread, and a
  stroke drawn at once meanwhile: its samples delivered before the save's end,
  from delivery to the screen as above, beside the strokes drawn without a
  save; with the file's size.
Beside them, in the same run: bench_engine's sample-to-screen (median and p99,
60 fps, engine-only: from the stroke queue to the frame shown) and
bench_patches' load and saves of four painted 8000 x 8000 layers, as MB/s
ratios (the documents differ in size). Autosave is put off in the measured
launches (an autosave during a stroke would be measured as painting).
The 8000 x 8000 document of ten layers is made once, under the build folder.
"""
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build/release")
program = os.path.join(build, "bench-acceptance", "velmora_bench_acceptance")
document = os.path.join(build, "bench-acceptance", "Bench8000.velmora")
shots = os.path.join(build, "bench-acceptance", "shots")
warm = max(5, int(os.environ.get("VELMORA_BENCH_REPETITIONS", "0") or 0))


def launch(env, phase, extra=None):
    env = dict(env, BENCH_PHASE=phase, **(extra or {}))
    env["BENCH_SPAWNED_NS"] = str(time.monotonic_ns())
    done = subprocess.run([program], env=env, stdout=subprocess.PIPE, text=True, timeout=900)
    results = {}
    for line in done.stdout.splitlines():
        if line.startswith("RESULT "):
            _, name, value = line.split()
            results[name] = float(value)
        else:
            print(line)
    if done.returncode != 0:
        print(f"launch {phase} failed (exit {done.returncode})", flush=True)
    return results


def spread(values):
    """Median, (max - min) / median, of the warm runs."""
    if not values:
        return float("nan"), float("nan")
    m = statistics.median(values)
    return m, (max(values) - min(values)) / m if m else float("nan")


def plain_io(path, work):
    """Seconds of a plain read of `path` through the page cache and of a plain
    write of as many bytes to a new file beside it, flushed: the disk's own
    pace, measured beside each launch."""
    start = time.monotonic()
    with open(path, "rb") as f:
        data = f.read()
    read = time.monotonic() - start
    copy = os.path.join(work, "reference.bin")
    start = time.monotonic()
    fd = os.open(copy, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644)
    view = memoryview(data)
    while view:
        view = view[os.write(fd, view):]
    os.fsync(fd)
    os.close(fd)
    write = time.monotonic() - start
    os.remove(copy)
    return {"read_ref_ms": read * 1000, "write_ref_ms": write * 1000}


def engine_figures(name, arguments):
    """Every repetition of the engine benchmark's cases; none when it failed."""
    out = os.path.join(tempfile.gettempdir(), f"velmora-{name}-{os.getpid()}.json")
    done = subprocess.run([os.path.join(build, "bench", name.split("_")[1], name),
                           *arguments, f"--benchmark_out={out}", "--benchmark_out_format=json"],
                          stdout=subprocess.DEVNULL)
    if done.returncode != 0 or not os.path.exists(out):
        print(f"{name} failed (exit {done.returncode})", flush=True)
        return []
    with open(out) as f:
        runs = json.load(f)["benchmarks"]
    os.remove(out)
    return [r for r in runs if r.get("run_type") == "iteration"]


def warm_values(runs, name, counter):
    values = [r[counter] for r in runs if r["name"].startswith(name + "/") and counter in r]
    return values[1:] if len(values) > 1 else values


def main():
    if not os.environ.get("DISPLAY"):
        print("no X display: run inside xvfb-run -a", flush=True)
        return 1
    if not os.path.exists(document):
        subprocess.run([program, "--make-document", document], check=True)
    shutil.rmtree(shots, ignore_errors=True)
    home = tempfile.mkdtemp(prefix="velmora-bench-")
    work = os.path.join(home, "work")
    os.makedirs(work)
    env = {k: v for k, v in os.environ.items()
           if k not in ("QT_QPA_PLATFORM", "VELMORA_TEST", "WAYLAND_DISPLAY")}
    env.update(HOME=home, XDG_CONFIG_HOME=os.path.join(home, "config"),
               XDG_DATA_HOME=os.path.join(home, "data"), XDG_CACHE_HOME=os.path.join(home, "cache"),
               XDG_STATE_HOME=os.path.join(home, "state"),
               XDG_RUNTIME_DIR=os.path.join(home, "runtime"), BENCH_WORK=work, BENCH_SHOTS=shots)
    os.makedirs(env["XDG_RUNTIME_DIR"], mode=0o700)
    load = os.getloadavg()
    try:
        starts = [launch(env, "startup") for _ in range(1 + warm)]
        documents = []
        for _ in range(1 + warm):
            copy = os.path.join(work, "Bench8000.velmora")
            shutil.copyfile(document, copy)
            results = launch(env, "document", {"BENCH_DOCUMENT": copy})
            results.update(plain_io(copy, work))
            documents.append(results)
    finally:
        shutil.rmtree(home, ignore_errors=True)
    engine = engine_figures("bench_engine", ["--benchmark_filter=BM_PaintingSession/threads:8/fps:60"])
    patches = engine_figures("bench_patches", ["--benchmark_filter=BM_SaveAllPatches/|BM_SaveAfterSmallStroke|BM_Load"])
    load = max(load[0], os.getloadavg()[0])

    def ours(runs, key):
        values = [r[key] for r in runs if key in r]
        return (values[0] if values else float("nan")), values[1:]

    print(f"== the program under Xvfb (8000 x 8000, ten layers; 1 cold + {warm} warm launches each;"
          f" load up to {load:.1f})")
    cold, values = ours(starts, "startup_painted_ms")
    m, s = spread(values)
    mapped, _ = spread(ours(starts, "startup_mapped_ms")[1])
    print(f"cold start to the welcome window painted: median {m:.0f} ms (spread {s:.0%}; first launch"
          f" {cold:.0f} ms; mapped at {mapped:.0f} ms)")
    em, es = spread(warm_values(engine, "BM_PaintingSession", "s2s_med_ms"))
    ep, eps = spread(warm_values(engine, "BM_PaintingSession", "s2s_p99_ms"))
    pm, ps = spread(ours(documents, "paint_med_ms")[1])
    pp, pps = spread(ours(documents, "paint_p99_ms")[1])
    dp, dps = spread(ours(documents, "paint_drawing_p99_ms")[1])
    en, ens = spread(ours(documents, "paint_ending_med_ms")[1])
    samples = sum(r.get("paint_samples", 0) for r in documents[1:])
    missed = sum(r.get("paint_missed", 0) for r in documents[1:])
    print(f"tablet sample delivered to the X frame showing its dots: median {pm:.1f} ms (spread {ps:.0%}),"
          f" p99 {pp:.1f} ms (spread {pps:.0%}); {samples:.0f} samples, {missed:.0f} never shown")
    print(f"  without each stroke's last 25 ms: p99 {dp:.1f} ms (spread {dps:.0%}); those last 25 ms:"
          f" median {en:.1f} ms (spread {ens:.0%})")
    print(f"  engine (bench_engine s2s, same run): median {em:.1f} ms (spread {es:.0%}), p99 {ep:.1f} ms"
          f" (spread {eps:.0%}); program / engine: median {pm / em:.2f}x, p99 {pp / ep:.2f}x,"
          f" program - engine: median {pm - em:+.1f} ms, p99 {pp - ep:+.1f} ms")
    size = statistics.median(r["file_mb"] for r in documents if "file_mb" in r)
    om, os_ = spread(ours(documents, "open_shown_ms")[1])
    od, _ = spread(ours(documents, "open_document_ms")[1])
    sm, ss = spread(ours(documents, "save_ms")[1])
    mm, ms_ = spread(ours(documents, "save_main_ms")[1])
    wp, wps = spread(ours(documents, "save_paint_p99_ms")[1])
    wd, wds = spread(ours(documents, "save_paint_med_ms")[1])
    during = sum(r.get("save_paint_samples", 0) for r in documents[1:])
    ls_, _ = spread(warm_values(patches, "BM_Load", "s"))
    as_s, _ = spread(warm_values(patches, "BM_SaveAfterSmallStroke", "s"))
    lm, ls = spread(warm_values(patches, "BM_Load", "MB/s"))
    fm, fs = spread(warm_values(patches, "BM_SaveAllPatches", "MB/s"))
    am, as_ = spread(warm_values(patches, "BM_SaveAfterSmallStroke", "MB/s"))
    open_rate, save_rate = size / (om / 1000), size / (sm / 1000)
    print(f"open ({size:.0f} MB) to the canvas on the screen: median {om / 1000:.2f} s (spread {os_:.0%};"
          f" document made at {od / 1000:.2f} s), {open_rate:.0f} MB/s; bench_patches load"
          f" {lm:.0f} MB/s ({ls_:.2f} s, spread {ls:.0%}): {open_rate / lm:.2f}x")
    print(f"save after the strokes: median {sm / 1000:.2f} s (spread {ss:.0%}), {save_rate:.0f} MB/s;"
          f" bench_patches save after a small stroke {am:.0f} MB/s ({as_s:.2f} s, spread {as_:.0%}):"
          f" {save_rate / am:.2f}x;"
          f" saving every patch {fm:.0f} MB/s (spread {fs:.0%})")
    print(f"  the main thread's part of it: median {mm / 1000:.3f} s (spread {ms_:.0%})")
    print(f"  a stroke drawn while the file is written: sample to the X frame median {wd:.1f} ms"
          f" (spread {wds:.0%}), p99 {wp:.1f} ms (spread {wps:.0%}) over {during:.0f} samples;"
          f" p99 without a save {pp:.1f} ms: {wp - pp:+.1f} ms ({(wp - pp) / (1000 / 60):+.1f} frames)")
    rm, rs = spread(ours(documents, "read_ref_ms")[1])
    wm, ws = spread(ours(documents, "write_ref_ms")[1])
    ratios = [r["save_ms"] / r["write_ref_ms"] for r in documents[1:]
              if "save_ms" in r and "write_ref_ms" in r]
    rr, rrs = spread(ratios)
    print(f"same disk, same runs: a plain read of the file {rm / 1000:.2f} s (spread {rs:.0%}),"
          f" a plain write with its flush {wm / 1000:.2f} s (spread {ws:.0%}); open / read"
          f" {om / rm:.1f}x, save / write {sm / wm:.1f}x (per launch: median {rr:.1f}x,"
          f" spread {rrs:.0%})")
    print(f"screenshots in {shots}")
    failed = [r for r in starts + documents if not r]
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
