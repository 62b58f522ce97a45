"""What every test of the suite shares."""

import signal


def pytest_configure(config):
    # A run started in the background ignores Ctrl-C, and the processes it
    # starts would inherit that: the interrupt tests send them SIGINT as a
    # terminal would.
    if signal.getsignal(signal.SIGINT) == signal.SIG_IGN:
        signal.signal(signal.SIGINT, signal.default_int_handler)
