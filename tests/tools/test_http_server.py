#!/usr/bin/env python3
"""Serves a folder on 127.0.0.1 for the updater's tests.

usage: test_http_server.py ROOT
Binds a free port, prints it on one line, and serves ROOT until standard input
closes (the test ends or dies), so that no server outlives its test. Under
/stall/NAME it answers the headers and the first 100 bytes of NAME, then sends
nothing more: a server that has stalled.
"""
import http.server
import os
import sys
import threading
import time


class Handler(http.server.SimpleHTTPRequestHandler):
    def do_GET(self):
        if self.path.startswith("/stall/"):
            path = os.path.join(self.directory, self.path[len("/stall/"):])
            with open(path, "rb") as f:
                data = f.read()
            self.send_response(200)
            self.send_header("Content-Length", str(len(data)))
            self.end_headers()
            self.wfile.write(data[:100])
            self.wfile.flush()
            time.sleep(60)
            return
        super().do_GET()

    def log_message(self, format, *args):
        pass


def main():
    root = sys.argv[1]
    handler = lambda *a, **k: Handler(*a, directory=root, **k)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    server.daemon_threads = True
    print(server.server_address[1], flush=True)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    sys.stdin.read()
    server.shutdown()


if __name__ == "__main__":
    main()
