"""A program on a pseudo-terminal, as an operator runs it in a terminal window: what it writes
is read as it comes (as a terminal does, so it never waits for its reader), with the time each
piece arrived."""

import os
import subprocess
import threading
import time


class Terminal:
    def __init__(self):
        self.master = -1
        self.output = bytearray()
        self.arrivals = []  # (end offset in output, time.monotonic_ns() it arrived)
        self.changed = threading.Condition()
        self.reader = None

    def start(self, command, environment):
        self.master, slave = os.openpty()
        process = subprocess.Popen(command, env=environment, stdin=slave, stdout=slave,
                                   stderr=slave, start_new_session=True)
        os.close(slave)
        self.reader = threading.Thread(target=self.read, daemon=True)
        self.reader.start()
        return process

    def read(self):
        while True:
            try:
                chunk = os.read(self.master, 65536)
            except OSError:  # the program is gone (EIO) or the terminal closed
                chunk = b""
            with self.changed:
                if not chunk:
                    self.arrivals.append((len(self.output), None))
                    self.changed.notify_all()
                    return
                self.output += chunk
                self.arrivals.append((len(self.output), time.monotonic_ns()))
                self.changed.notify_all()

    def type(self, keys):
        os.write(self.master, keys.encode())

    def size(self):
        with self.changed:
            return len(self.output)

    def wait_for(self, text, start, timeout):
        """Waits until `text` appears at or after `start`; returns the offset after it and the
        time the piece that completed it arrived, or None at the timeout or the end."""
        wanted = text.encode()
        deadline = time.monotonic() + timeout
        with self.changed:
            while True:
                at = self.output.find(wanted, start)
                if at >= 0:
                    end = at + len(wanted)
                    arrived = next(t for offset, t in self.arrivals if offset >= end)
                    return end, arrived
                if self.arrivals and self.arrivals[-1][1] is None:
                    return None
                left = deadline - time.monotonic()
                if left <= 0:
                    return None
                self.changed.wait(left)

    def close(self):
        if self.master >= 0:
            os.close(self.master)
            self.master = -1
        if self.reader:
            self.reader.join(timeout=2)
