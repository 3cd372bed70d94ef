#!/usr/bin/python3
# A small FTP server for the uploader's tests: one user with write rights in
# the given folder, on a free port of 127.0.0.1 that it prints on its first
# line. With --tls it offers explicit TLS with the given certificate.
import argparse
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer

ap = argparse.ArgumentParser()
ap.add_argument("--dir", required=True)
ap.add_argument("--user", default="skyvane")
ap.add_argument("--password-file", required=True)
ap.add_argument("--tls-cert")
ap.add_argument("--tls-key")
args = ap.parse_args()

with open(args.password_file) as f:
    password = f.read().strip()

auth = DummyAuthorizer()
auth.add_user(args.user, password, args.dir, perm="elradfmwMT")
handler = FTPHandler
if args.tls_cert:
    from pyftpdlib.handlers import TLS_FTPHandler
    handler = TLS_FTPHandler
    handler.certfile = args.tls_cert
    handler.keyfile = args.tls_key
    # This server's TLS 1.3 data connections are unreliable; 1.2 is what
    # the usual hosting servers speak anyway.
    from OpenSSL import SSL
    handler.ssl_protocol = SSL.TLSv1_2_METHOD
handler.authorizer = auth
handler.banner = "test server ready"
server = FTPServer(("127.0.0.1", 0), handler)
print(server.address[1], flush=True)
sys.stdout.flush()
server.serve_forever(timeout=0.5)
