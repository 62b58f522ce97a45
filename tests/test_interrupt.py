"""A load that waits (a pipe with no writer) or reads without end (a device)
gives way to Ctrl-C, and lets other threads run meanwhile."""

import os
import subprocess
import sys
import textwrap
import time

import pytest

# Interrupts the main thread after a moment, the way Ctrl-C does, while it is
# blocked inside the load; prints what the load raised and how long it took.
PROGRAM = textwrap.dedent(
    """
    import signal, sys, threading, time
    import lumivex

    ticks = []

    def interrupt():
        for _ in range(5):
            ticks.append(time.monotonic())
            time.sleep(0.05)
        signal.pthread_kill(threading.main_thread().ident, signal.SIGINT)

    load = {
        "page": lambda path: lumivex.PrpFile.load(path),
        "age": lambda path: lumivex.AgeFile.load(path),
        "sdl": lambda path: lumivex.SdlFile().load_file(path),
    }[sys.argv[1]]
    threading.Thread(target=interrupt, daemon=True).start()
    start = time.monotonic()
    try:
        load(sys.argv[2])
    except KeyboardInterrupt:
        print("KeyboardInterrupt", len(ticks), round(time.monotonic() - start, 1))
    """
)


def run(kind, path):
    start = time.monotonic()
    result = subprocess.run(
        [sys.executable, "-c", PROGRAM, kind, path], capture_output=True, text=True, timeout=60
    )
    return result, time.monotonic() - start


@pytest.mark.parametrize("kind", ["page", "age", "sdl"])
def test_a_pipe_without_writer_gives_way_to_ctrl_c(tmp_path, kind):
    fifo = tmp_path / "pipe"
    os.mkfifo(fifo)
    result, took = run(kind, str(fifo))
    words = result.stdout.split()
    assert words[:1] == ["KeyboardInterrupt"], result.stderr
    # The other thread ran all along: the load did not hold the interpreter.
    assert int(words[1]) == 5
    assert took < 30


@pytest.mark.skipif(not os.path.exists("/dev/zero"), reason="no /dev/zero")
def test_an_endless_device_gives_way_to_ctrl_c():
    result, took = run("page", "/dev/zero")
    assert result.stdout.split()[:2] == ["KeyboardInterrupt", "5"], result.stderr
    assert took < 30
