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
ap.add_argument("--disk-full-after", type=int, default=0,
                help="fail writes with 'no space left' after this many bytes of a file")
ap.add_argument("--refuse-rename-over", action="store_true",
                help="refuse RNTO onto a file that exists, as some servers do")
ap.add_argument("--no-rename", action="store_true", help="an account without the right to rename")
ap.add_argument("--no-delete", action="store_true", help="an account without the right to delete")
ap.add_argument("--full-at-stor", action="store_true", help="refuse every STOR with 452 (no space)")
args = ap.parse_args()

with open(args.password_file) as f:
    password = f.read().strip()

auth = DummyAuthorizer()
perm = "elradfmwMT"
if args.no_rename:
    perm = perm.replace("f", "")
if args.no_delete:
    perm = perm.replace("d", "")
auth.add_user(args.user, password, args.dir, perm=perm)
from pyftpdlib.handlers import DTPHandler

handler = FTPHandler
base_dtp = DTPHandler
if args.tls_cert:
    from pyftpdlib.handlers import TLS_DTPHandler, TLS_FTPHandler

    class PatientTlsDtp(TLS_DTPHandler):
        # A client may connect the data channel and make its TLS handshake
        # before it sends STOR (curl does). The library takes a data channel
        # that is readable before the transfer command for one that was
        # closed, and closes it; here the handshake is served and the
        # channel then waits for the command.
        def readable(self):
            if self._ssl_accepting or self._ssl_want_read:
                return True
            if not self.receive and not self._initialized:
                return False
            return super().readable()

    handler = TLS_FTPHandler
    handler.certfile = args.tls_cert
    handler.keyfile = args.tls_key
    handler.dtp_handler = PatientTlsDtp
    base_dtp = PatientTlsDtp


class FullDisk:
    """A file that takes so many bytes and then fails as a full disk does."""

    def __init__(self, f, limit):
        self._f = f
        self._left = limit

    def write(self, data):
        import errno
        if len(data) > self._left:
            self._f.write(data[:self._left])
            self._left = 0
            raise OSError(errno.ENOSPC, "No space left on device")
        self._left -= len(data)
        return self._f.write(data)

    def __getattr__(self, name):
        return getattr(self._f, name)


if args.drop_after or args.no_passive or args.slow or args.stall_after or args.disk_full_after:
    class DroppingDTP(base_dtp):
        def enable_receiving(self, type, cmd):
            base_dtp.enable_receiving(self, type, cmd)
            if args.disk_full_after:
                self.file_obj = FullDisk(self.file_obj, args.disk_full_after)

        def handle_read(self):
            base_dtp.handle_read(self)
            if args.slow:
                time.sleep(0.02)
            if args.drop_after and self.tot_bytes_received >= args.drop_after:
                cmd = self.cmd_channel
                self.close()
                cmd.close()

        # (The TLS data channel reads through its own handshake-aware
        # handle_read_event.)
        if base_dtp is DTPHandler:
            handle_read_event = handle_read

        def readable(self):
            if args.stall_after and self.tot_bytes_received >= args.stall_after:
                return False
            return base_dtp.readable(self)

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
if args.full_at_stor:
    class Full(handler):
        def ftp_STOR(self, file, mode="w"):
            self.respond("452 Insufficient storage space in system.")

    handler = Full
if args.refuse_rename_over:
    import os

    class NoRenameOver(handler):
        def ftp_RNTO(self, path):
            if os.path.exists(path):
                self.respond("550 Will not rename onto an existing file.")
                self._rnfr = None
                return
            return super().ftp_RNTO(path)

    handler = NoRenameOver
handler.authorizer = auth
handler.banner = "test server ready"
server = FTPServer(("127.0.0.1", 0), handler)
print(server.address[1], flush=True)
sys.stdout.flush()
server.serve_forever(timeout=0.5)
