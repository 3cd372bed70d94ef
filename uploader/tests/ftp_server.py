#!/usr/bin/python3
# A small FTP server for the uploader's tests: one user with write rights in
# the given folder, on a free port of 127.0.0.1 that it prints on its first
# line. With --tls it offers explicit TLS with the given certificate.
import argparse
import sys
import time

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer

ap = argparse.ArgumentParser()
ap.add_argument("--dir", required=True)
ap.add_argument("--user", default="skyvane")
ap.add_argument("--password-file", required=True)
ap.add_argument("--tls-cert")
ap.add_argument("--tls-key")
ap.add_argument("--drop-after", type=int, default=0,
                help="drop the whole session after this many bytes of a file")
ap.add_argument("--stall-after", type=int, default=0,
                help="stop reading a file's data after this many bytes")
ap.add_argument("--slow", action="store_true", help="take files in slowly")
ap.add_argument("--no-passive", action="store_true", help="refuse PASV and EPSV")
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
if args.drop_after or args.no_passive or args.slow or args.stall_after:
    from pyftpdlib.handlers import DTPHandler

    class DroppingDTP(DTPHandler):
        def handle_read(self):
            DTPHandler.handle_read(self)
            if args.slow:
                time.sleep(0.02)
            if args.drop_after and self.tot_bytes_received >= args.drop_after:
                cmd = self.cmd_channel
                self.close()
                cmd.close()

        handle_read_event = handle_read

        def readable(self):
            if args.stall_after and self.tot_bytes_received >= args.stall_after:
                return False
            return DTPHandler.readable(self)

    class Faulty(handler):
        dtp_handler = DroppingDTP

        def ftp_PASV(self, line):
            if args.no_passive:
                self.respond("502 Passive mode not allowed here.")
            else:
                super().ftp_PASV(line)

        def ftp_EPSV(self, line):
            if args.no_passive:
                self.respond("502 Passive mode not allowed here.")
            else:
                super().ftp_EPSV(line)

    handler = Faulty
handler.authorizer = auth
handler.banner = "test server ready"
server = FTPServer(("127.0.0.1", 0), handler)
print(server.address[1], flush=True)
sys.stdout.flush()
server.serve_forever(timeout=0.5)
