"""A load or a save that waits on a pipe gives way to Ctrl-C."""

import os
import signal
import subprocess
import sys
import time
from pathlib import Path

import pytest

SAMPLE = Path(__file__).resolve().parent.parent / "samples" / "Demo_District_Town.prp"

# Says it is ready, then runs one call; a KeyboardInterrupt is the success.
WAIT = """
import sys, lumivex
page = lumivex.PrpFile.load(sys.argv[2])
path = sys.argv[3]
print("ready", flush=True)
try:
    exec(sys.argv[1])
except KeyboardInterrupt:
    print("interrupted")
"""

CALLS = [
    "lumivex.PrpFile.load(path)",
    "lumivex.AgeFile.load(path)",
    "lumivex.SdlFile().load_file(path)",
    "lumivex.AgeFile.lint(path)",
    "lumivex.SdlFile.lint(path)",
    "page.save(path)",
]


def interrupt_while_waiting(call, fifo):
    child = subprocess.Popen(
        [sys.executable, "-c", WAIT, call, str(SAMPLE), str(fifo)],
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
    )
    assert child.stdout.readline() == b"ready\n"
    time.sleep(0.3)
    child.send_signal(signal.SIGINT)
    try:
        out, err = child.communicate(timeout=5)
    except subprocess.TimeoutExpired:
        child.kill()
        child.communicate()
        pytest.fail(f"{call} kept waiting after Ctrl-C")
    assert out == b"interrupted\n", err.decode()


@pytest.mark.parametrize("call", CALLS)
def test_waiting_open_gives_way(tmp_path, call):
    fifo = tmp_path / "pipe"
    os.mkfifo(fifo)
    interrupt_while_waiting(call, fifo)


# The pipe has a writer that sends nothing: the open succeeds and the read waits.
@pytest.mark.parametrize("call", [call for call in CALLS if "save" not in call])
def test_waiting_read_gives_way(tmp_path, call):
    fifo = tmp_path / "pipe"
    os.mkfifo(fifo)
    silent_writer = os.open(fifo, os.O_RDWR)
    try:
        interrupt_while_waiting(call, fifo)
    finally:
        os.close(silent_writer)


# Interrupts the main thread after a moment, the way Ctrl-C does, while it is
# blocked inside the load; another thread counts the moments meanwhile.
WHILE_OTHERS_RUN = """
import signal, sys, threading, time
import lumivex

ticks = []

def interrupt():
    for _ in range(5):
        ticks.append(time.monotonic())
        time.sleep(0.05)
    signal.pthread_kill(threading.main_thread().ident, signal.SIGINT)

threading.Thread(target=interrupt, daemon=True).start()
try:
    lumivex.PrpFile.load(sys.argv[1])
except KeyboardInterrupt:
    print("interrupted", len(ticks))
"""


@pytest.mark.parametrize("kind", ["pipe", "endless page"])
def test_other_threads_run_while_a_load_waits(tmp_path, kind):
    path = tmp_path / "pipe"
    os.mkfifo(path)
    writer = None
    if kind == "endless page":
        if not Path("/dev/zero").exists():
            pytest.skip("no /dev/zero")
        # A page's version, then bytes without end: read on up to the page limit.
        endless = '{ printf "\\006\\000\\000\\000"; exec cat /dev/zero; } > "$1"'
        writer = subprocess.Popen(["sh", "-c", endless, "sh", str(path)])
    try:
        result = subprocess.run(
            [sys.executable, "-c", WHILE_OTHERS_RUN, str(path)], capture_output=True, timeout=60
        )
    finally:
        if writer is not None:
            writer.kill()
            writer.wait()
    # The load held no lock the other thread needed: it ran all five moments.
    assert result.stdout == b"interrupted 5\n", result.stderr.decode()
