#!/usr/bin/env python3
"""Serves a folder on 127.0.0.1 for the updater's tests.

usage: test_http_server.py ROOT [LOG]
Binds a free port, prints it on one line, and serves ROOT until standard input
closes (the test ends or dies), so that no server outlives its test. Each
request's path is appended to LOG, one a line, when LOG is given. Paths that
misbehave on purpose, each then serving NAME from ROOT:
  /stall/NAME          the headers and the first 100 bytes, then nothing more
  /fail/N/NAME         HTTP 503 for the first N requests of this path
  /reset/N/NAME        the connection reset (TCP RST) for the first N requests
  /busy/N/SECS/NAME    HTTP 429 with Retry-After: SECS for the first N requests
  /status/CODE/NAME    HTTP CODE always
"""
import http.server
import os
import socket
import struct
import sys
import threading
import time

lock = threading.Lock()
counts = {}
log_path = None


def seen(path):
    """How many times `path` was asked for before, this request counted."""
    with lock:
        counts[path] = counts.get(path, 0) + 1
        if log_path:
            with open(log_path, "a") as log:
                log.write(path + "\n")
        return counts[path] - 1


class Handler(http.server.SimpleHTTPRequestHandler):
    def do_GET(self):
        before = seen(self.path)
        parts = self.path.lstrip("/").split("/")
        kind = parts[0]
        if kind == "stall":
            path = os.path.join(self.directory, "/".join(parts[1:]))
            with open(path, "rb") as f:
                data = f.read()
            self.send_response(200)
            self.send_header("Content-Length", str(len(data)))
            self.end_headers()
            self.wfile.write(data[:100])
            self.wfile.flush()
            time.sleep(60)
            return
        if kind in ("fail", "reset") and len(parts) >= 3:
            if before < int(parts[1]):
                if kind == "fail":
                    self.send_error(503, "Service Unavailable")
                else:
                    self.reset()
                return
            self.path = "/" + "/".join(parts[2:])
        elif kind == "busy" and len(parts) >= 4:
            if before < int(parts[1]):
                self.send_response(429)
                self.send_header("Retry-After", parts[2])
                self.send_header("Content-Length", "0")
                self.end_headers()
                return
            self.path = "/" + "/".join(parts[3:])
        elif kind == "status" and len(parts) >= 3:
            self.send_error(int(parts[1]))
            return
        super().do_GET()

    def reset(self):
        # SO_LINGER of zero makes close() send RST instead of FIN.
        self.connection.setsockopt(
            socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        self.connection.close()
        self.close_connection = True
        self.wfile = open(os.devnull, "wb")

    def log_message(self, format, *args):
        pass


class Server(http.server.ThreadingHTTPServer):
    def handle_error(self, request, client_address):
        pass  # a reset connection on purpose is no error to report


def main():
    global log_path
    root = sys.argv[1]
    if len(sys.argv) > 2:
        log_path = sys.argv[2]
    handler = lambda *a, **k: Handler(*a, directory=root, **k)
    server = Server(("127.0.0.1", 0), handler)
    server.daemon_threads = True
    print(server.server_address[1], flush=True)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    sys.stdin.read()
    server.shutdown()


if __name__ == "__main__":
    main()
