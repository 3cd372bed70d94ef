#!/usr/bin/env python3
"""A small update server for the tests and the demo.

Serves the files below --root over HTTPS (with --cert/--key) or plain HTTP on
127.0.0.1, and a few faulty paths that a real server or network can produce:

  /stall/<name>     headers and the first 1000 bytes (at most half), then
                    nothing more
  /stallhead/<name> no answer at all
  /cut/<name>       headers, half the body, then the connection is closed
  /lie/<name>       a Content-Length 1000 bytes larger than the body

Any other missing file gets a 404 with an HTML body. The port is printed as
"PORT <n>" on the first line of standard output.
"""
import argparse
import http.server
import os
import socket
import ssl
import sys
import time


def make_handler(root):
    class Handler(http.server.SimpleHTTPRequestHandler):
        def __init__(self, *a, **kw):
            super().__init__(*a, directory=root, **kw)

        def log_message(self, fmt, *args):
            sys.stderr.write("update_server: " + (fmt % args) + "\n")

        def fault(self):
            parts = self.path.split("?")[0].strip("/").split("/", 1)
            if len(parts) == 2 and parts[0] in ("stall", "stallhead", "cut", "lie"):
                return parts[0], os.path.join(root, parts[1])
            return None, None

        def hang(self):
            # Until the client goes away (or the test ends).
            try:
                while True:
                    time.sleep(0.2)
                    self.connection.send(b"")
            except OSError:
                pass

        def serve_fault(self, body):
            kind, path = self.fault()
            if kind is None:
                return False
            if kind == "stallhead":
                self.hang()
                return True
            if not os.path.isfile(path):
                self.send_error(404)
                return True
            data = open(path, "rb").read()
            length = len(data) + (1000 if kind == "lie" else 0)
            self.send_response(200)
            self.send_header("Content-Type", "application/octet-stream")
            self.send_header("Content-Length", str(length))
            self.end_headers()
            if not body:
                return True
            if kind == "stall":
                self.wfile.write(data[: min(1000, len(data) // 2)])
                self.wfile.flush()
                self.hang()
            elif kind == "cut":
                self.wfile.write(data[: len(data) // 2])
                self.wfile.flush()
                self.close_connection = True
            else:
                self.wfile.write(data)
                self.wfile.flush()
                self.close_connection = True
            return True

        def do_HEAD(self):
            if not self.serve_fault(False):
                super().do_HEAD()

        def do_GET(self):
            if not self.serve_fault(True):
                super().do_GET()

    return Handler


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--root", required=True)
    ap.add_argument("--cert")
    ap.add_argument("--key")
    ap.add_argument("--port", type=int, default=0)
    args = ap.parse_args()
    server = http.server.ThreadingHTTPServer(("127.0.0.1", args.port), make_handler(os.path.abspath(args.root)))
    server.daemon_threads = True
    if args.cert:
        ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        ctx.load_cert_chain(args.cert, args.key)
        server.socket = ctx.wrap_socket(server.socket, server_side=True)
    print("PORT %d" % server.server_address[1], flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
