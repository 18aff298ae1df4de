"""Open pages of Torvane's web interface, as a browser keeps them: each logs in with the
token, opens the live updates (a WebSocket) and, at every update, fetches the newest
detections and results as the page's script does. A stalled page opens its live updates and
then reads nothing, as a phone whose screen went dark."""

import base64
import http.client
import json
import os
import socket
import struct
import threading
import time

SHOWN_DETECTIONS = 50


class Page(threading.Thread):
    def __init__(self, port, token, stalled=False):
        super().__init__(daemon=True)
        self.port = port
        self.token = token
        self.stalled = stalled
        self.updates = 0
        self.requests = 0
        self.request_ms = []
        self.failures = 0
        self.error = None
        self.stopping = threading.Event()

    def get(self, connection, path, method="GET"):
        started = time.monotonic()
        connection.request(method, path, headers={"Authorization": f"Bearer {self.token}"})
        answer = connection.getresponse()
        body = answer.read()
        self.request_ms.append((time.monotonic() - started) * 1000)
        self.requests += 1
        if answer.status != 200:
            self.failures += 1
        return body

    def open_live(self, ticket):
        live = socket.create_connection(("127.0.0.1", self.port), timeout=5)
        if self.stalled:
            live.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        key = base64.b64encode(os.urandom(16)).decode()
        live.sendall((f"GET /api/v1/live HTTP/1.1\r\nHost: 127.0.0.1:{self.port}\r\n"
                      f"Upgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Key: {key}\r\n"
                      "Sec-WebSocket-Version: 13\r\n\r\n").encode())
        head = b""
        while b"\r\n\r\n" not in head:
            chunk = live.recv(1)
            if not chunk:
                raise OSError("live updates refused")
            head += chunk
        if b" 101 " not in head.split(b"\r\n")[0]:
            raise OSError(head.split(b"\r\n")[0].decode())
        payload = ticket.encode()
        mask = os.urandom(4)
        live.sendall(bytes([0x81, 0x80 | len(payload)]) + mask +
                     bytes(b ^ mask[i % 4] for i, b in enumerate(payload)))
        return live

    def frames(self, live):
        """Payloads of the text frames the server sends (unmasked, never fragmented here)."""
        buffer = b""
        while not self.stopping.is_set():
            while len(buffer) < 2 or len(buffer) < self.frame_size(buffer):
                try:
                    chunk = live.recv(65536)
                except socket.timeout:  # a busy Torvane sends nothing for a while
                    if self.stopping.is_set():
                        return
                    continue
                if not chunk:
                    return
                buffer += chunk
            size = self.frame_size(buffer)
            frame, buffer = buffer[:size], buffer[size:]
            yield frame[size - self.payload_length(frame):]

    @staticmethod
    def payload_length(frame):
        length = frame[1] & 0x7F
        if length == 126:
            return struct.unpack(">H", frame[2:4])[0]
        if length == 127:
            return struct.unpack(">Q", frame[2:10])[0]
        return length

    def frame_size(self, buffer):
        length = buffer[1] & 0x7F
        head = 2 + (2 if length == 126 else 8 if length == 127 else 0)
        if len(buffer) < head:
            return head
        return head + self.payload_length(buffer)

    def run(self):
        try:
            api = http.client.HTTPConnection("127.0.0.1", self.port, timeout=10)
            ticket = json.loads(self.get(api, "/api/v1/live-ticket", "POST"))["ticket"]
            live = self.open_live(ticket)
            if self.stalled:
                self.stopping.wait()
                live.close()
                return
            live.settimeout(1.0)
            for _ in self.frames(live):
                self.updates += 1
                self.get(api, f"/api/v1/detections?limit={SHOWN_DETECTIONS}")
                self.get(api, "/api/v1/results?limit=30")
            live.close()
        except (OSError, ValueError, KeyError, http.client.HTTPException) as error:
            if not self.stopping.is_set():
                self.error = str(error)


class Pages:
    """`count` pages, the last one stalled when `stalled` is set; a context manager."""

    def __init__(self, port, token, count, stalled=True):
        self.pages = [Page(port, token, stalled=stalled and n == count - 1) for n in range(count)]

    def __enter__(self):
        for page in self.pages:
            page.start()
        time.sleep(1.0)  # logged in, live updates open
        self.began = time.monotonic()
        return self

    def __exit__(self, *exc):
        self.seconds = time.monotonic() - self.began
        for page in self.pages:
            page.stopping.set()
        for page in self.pages:
            page.join(timeout=5)

    def summary(self):
        live = [p for p in self.pages if not p.stalled]
        times = sorted(t for p in live for t in p.request_ms)
        return {
            "pages": len(self.pages),
            "stalled": len(self.pages) - len(live),
            "updates_per_s": sum(p.updates for p in live) / len(live) / self.seconds,
            "requests": sum(p.requests for p in live),
            "request_p95_ms": times[int(0.95 * (len(times) - 1))] if times else None,
            "failures": sum(p.failures for p in live),
            "errors": [p.error for p in self.pages if p.error],
        }
