"""A loopback stand-in for the web service's two hosts: it records every request's exact bytes
and answers each with the body that `answer(request_line)` returns, after an optional delay."""
import re
import socket
import threading
import time


class FakeService:
    """FakeService(answer, ports=(8460, 8461)); answer(line) -> (body bytes, delay seconds)."""

    def __init__(self, answer, ports=(8460, 8461)):
        self.answer = answer
        self.requests = []  # (port, head, body) in arrival order
        self.arrived = threading.Condition()
        for port in ports:
            sock = socket.socket()
            sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            sock.bind(("127.0.0.1", port))
            sock.listen(8)
            threading.Thread(target=self._accept, args=(sock, port), daemon=True).start()

    def _accept(self, sock, port):
        while True:
            conn, _ = sock.accept()
            threading.Thread(target=self._serve, args=(conn, port), daemon=True).start()

    def _serve(self, conn, port):
        with conn:
            conn.settimeout(30)
            data = b""
            while b"\r\n\r\n" not in data:
                chunk = conn.recv(65536)
                if not chunk:
                    return
                data += chunk
            head, _, body = data.partition(b"\r\n\r\n")
            m = re.search(rb"\r\nContent-Length: (\d+)", head)
            length = int(m.group(1)) if m else 0
            while len(body) < length:
                chunk = conn.recv(65536)
                if not chunk:
                    return
                body += chunk
            with self.arrived:
                self.requests.append((port, head, body))
                self.arrived.notify_all()
            line = head.split(b"\r\n", 1)[0].decode("latin-1")
            reply, delay = self.answer(line)
            time.sleep(delay)
            conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: %d\r\n"
                         b"Connection: close\r\n\r\n" % len(reply) + reply)

    def _lines(self):
        return [h.split(b"\r\n", 1)[0].decode("latin-1") for _, h, _ in self.requests]

    def lines(self):
        """The request lines so far."""
        with self.arrived:
            return self._lines()

    def wait_for(self, predicate, timeout=30):
        """Waits until predicate(request lines) holds; False on time-out."""
        with self.arrived:
            return self.arrived.wait_for(lambda: predicate(self._lines()), timeout)
