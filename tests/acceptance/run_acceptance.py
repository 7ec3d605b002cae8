#!/usr/bin/env python3
"""Runs the acceptance phases one launch of the program after another, each
with the same temporary home and XDG folders, on the X display given (the
ctest entry starts it inside `xvfb-run -a`).
Usage: run_acceptance.py PROGRAM SHOTS [--window-manager]
With --window-manager, openbox manages the display and only the window
checks run, one launch each, in the order listed."""
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

program, shots = sys.argv[1], os.path.abspath(sys.argv[2])
managed = "--window-manager" in sys.argv[3:]

# The window checks: a first run, then relaunches that each find the panels
# where the one before left them (five saves and restores).
WINDOW_PHASES = ["windows-first-run"] + ["windows-relaunch"] * 5


def start_window_manager():
    """Starts openbox on the display; the process once it manages it, else None."""
    for tool in ("openbox", "xdotool"):
        if shutil.which(tool) is None:
            print(f"FAIL: {tool} is not installed (scripts/install-deps.sh installs it)", flush=True)
            return None
    manager = subprocess.Popen(["openbox", "--sm-disable"], stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    deadline = time.time() + 20
    while time.time() < deadline and manager.poll() is None:
        check = subprocess.run(["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"],
                               capture_output=True, text=True)
        if "window id" in check.stdout:
            return manager
        time.sleep(0.1)
    print("FAIL: openbox did not take the display", flush=True)
    manager.kill()
    manager.wait()
    return None


def launch(env, phase, timeout=300):
    env = dict(env, ACCEPTANCE_PHASE=phase)
    print(f"== phase {phase}", flush=True)
    try:
        done = subprocess.run([program], env=env, timeout=timeout)
    except subprocess.TimeoutExpired:
        print(f"FAIL: phase {phase} did not end within {timeout} s", flush=True)
        return None
    return done.returncode


def kill_while_writing(env, work, phase, marker):
    """Runs the phase and SIGKILLs the program once, after the phase has left
    the marker, a temporary file beside the document has data in it; None when
    it was caught."""
    print(f"== phase {phase}", flush=True)
    marker_path = os.path.join(work, marker)
    if os.path.exists(marker_path):
        os.remove(marker_path)
    known = set(os.listdir(work)) | {marker, "Large.velmora", "large-digest.txt", "Noise.png"}
    child = subprocess.Popen([program], env=dict(env, ACCEPTANCE_PHASE=phase))
    deadline = time.time() + 300
    while time.time() < deadline and child.poll() is None:
        if os.path.exists(marker_path):
            fresh = {}
            for name in set(os.listdir(work)) - known:
                try:
                    fresh[name] = os.path.getsize(os.path.join(work, name))
                except OSError:
                    pass
            if any(size > 0 for size in fresh.values()):
                child.send_signal(signal.SIGKILL)
                child.wait()
                print(f"killed while writing {fresh}", flush=True)
                return None
        time.sleep(0.005)
    if child.poll() is None:
        child.kill()
        child.wait()
    return f"{phase} (the write was never caught; exit {child.returncode})"


def lifecycle(env, work):
    """Starts the lifecycle phase over a socket a dead program left, launches
    the program again with a file once the phase is ready, and expects that
    launch to hand the file over and end at once, and the first to end by
    itself, with only errors of its log on standard error."""
    print("== phase lifecycle", flush=True)
    failed = []
    stale = os.path.join(env["XDG_RUNTIME_DIR"], "velmora.socket")
    if os.path.exists(stale):
        os.remove(stale)
    left = socket.socket(socket.AF_UNIX)
    left.bind(stale)
    left.close()
    ready = os.path.join(work, "lifecycle-ready")
    errors = os.path.join(work, "lifecycle-stderr.txt")
    with open(errors, "w") as err:
        first = subprocess.Popen([program], env=dict(env, ACCEPTANCE_PHASE="lifecycle"), stderr=err)
        deadline = time.time() + 120
        while not os.path.exists(ready) and first.poll() is None and time.time() < deadline:
            time.sleep(0.05)
        if os.path.exists(ready):
            # A launch that stayed would never end by itself; how soon one that
            # hands over ends depends on the machine's load, so it is only shown.
            started = time.time()
            try:
                second = subprocess.run([program, os.path.join(work, "Handed.velmora")], env=env,
                                        timeout=120).returncode
            except subprocess.TimeoutExpired:
                second = None
            took = time.time() - started
            print(f"second launch: exit {second} after {took:.2f} s", flush=True)
            if second != 0:
                failed.append(f"lifecycle second launch (exit {second}, {took:.1f} s)")
        else:
            failed.append("lifecycle (never ready)")
        try:
            code = first.wait(timeout=120)
        except subprocess.TimeoutExpired:
            first.kill()
            code = first.wait()
    with open(errors) as err:
        text = err.read()
    sys.stdout.write(text)
    if code != 0:
        failed.append(f"lifecycle (exit {code}: closing the welcome window did not quit)")
    quiet = [line for line in text.splitlines()
             if "[com.tovik.Velmora:" in line and "<Error>" not in line and "<Fault>" not in line]
    if quiet or "<Error> Debug Marker triggered by user" not in text:
        failed.append(f"lifecycle (standard error: errors only, the marker among them; {quiet})")
    return failed


def main():
    if not os.environ.get("DISPLAY"):
        print("FAIL: no X display; run inside xvfb-run -a", flush=True)
        return 1
    shutil.rmtree(shots, ignore_errors=True)
    os.makedirs(shots)
    home = tempfile.mkdtemp(prefix="velmora-acceptance-")
    work = os.path.join(home, "work")
    os.makedirs(work)
    env = {k: v for k, v in os.environ.items()
           if k not in ("QT_QPA_PLATFORM", "VELMORA_TEST", "WAYLAND_DISPLAY")}
    env.update(HOME=home,
               XDG_CONFIG_HOME=os.path.join(home, "config"),
               XDG_DATA_HOME=os.path.join(home, "data"),
               XDG_CACHE_HOME=os.path.join(home, "cache"),
               XDG_STATE_HOME=os.path.join(home, "state"),
               XDG_RUNTIME_DIR=os.path.join(home, "runtime"),
               ACCEPTANCE_WORK=work, ACCEPTANCE_SHOTS=shots,
               LSAN_OPTIONS="suppressions=" + os.path.join(os.path.dirname(os.path.abspath(__file__)), "lsan.supp"))
    os.makedirs(env["XDG_RUNTIME_DIR"], mode=0o700)
    failed = []
    if managed:
        manager = start_window_manager()
        if manager is None:
            return 1
        try:
            for phase in WINDOW_PHASES:
                code = launch(env, phase)
                if code != 0:
                    failed.append(f"{phase} (exit {code})")
        finally:
            manager.terminate()
            manager.wait()
        return finish(home, failed)
    only = os.environ.get("ACCEPTANCE_ONLY")  # "kill": the kill phases alone, to debug them
    for phase in ([] if only else ["session", "relaunch"]):
        code = launch(env, phase)
        if code != 0:
            failed.append(f"{phase} (exit {code})")
    # Crash on Purpose ends the program by SIGABRT, leaving one report.
    code = -6 if only else launch(env, "crash")
    crashes = os.path.join(env["XDG_STATE_HOME"], "velmora", "Crashes")
    reports = [f for f in os.listdir(crashes) if f.endswith(".crash")] if os.path.isdir(crashes) else []
    if not only and (code != -6 or len(reports) != 1):
        failed.append(f"crash (exit {code}, reports {reports})")
    code = 0 if only else launch(env, "after-crash")
    if code != 0:
        failed.append(f"after-crash (exit {code})")
    # An explicit save, then the program's own autosave, each killed while
    # it writes; each time the next launch opens the file saved before.
    for phase, marker in (("kill", "saving"), ("autosave-kill", "autosaving")):
        caught = kill_while_writing(env, work, phase, marker)
        if caught is not None:
            failed.append(caught)
        after = "after-" + phase
        code = launch(env, after)
        if code != 0:
            failed.append(f"{after} (exit {code})")
    if not only:
        failed += lifecycle(env, work)
    return finish(home, failed)


def finish(home, failed):
    keep = os.environ.get("ACCEPTANCE_KEEP")
    if keep is None:
        shutil.rmtree(home, ignore_errors=True)
    else:
        print(f"kept {home}")
    print(f"screenshots in {shots}")
    if failed:
        print("FAIL: " + ", ".join(failed), flush=True)
        return 1
    print("acceptance passed", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
