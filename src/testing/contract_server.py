#!/usr/bin/env python3
"""Loopback servers for the fetcher's contract tests, the same for every fetcher.

    contract_server.py [--dir DIR] [--exit-with-stdin]

Starts, on 127.0.0.1 and on ports the system picks, a plain HTTP server, the same
answers over TLS, a small forward proxy and a SOCKS5 proxy. Once all accept
connections it prints one line:

    http://127.0.0.1:P https://127.0.0.1:Q http://127.0.0.1:R CA.pem socks5://127.0.0.1:S
    https://127.0.0.1:T https://127.0.0.1:U

the plain base address, the TLS one, the proxy, a PEM file of certificates, the
SOCKS5 proxy, and two more TLS servers with faulty certificates. The TLS server's
certificate is self-signed and valid for 127.0.0.1 and localhost; a client must be
given the PEM file to trust it. The file also vouches for the certificates of the
last two servers, so that only their faults refuse them: the first is made out to
share.example.invalid, the second expired in 2000. The certificate and key are made at start
(with the openssl program) in DIR, or in a temporary folder removed at exit.
With --exit-with-stdin the server ends when its standard input closes, so that
it never outlives the test process that started it.

Every answer is written by hand, so that it can misbehave exactly. Paths:

  /echo...              200, the request head exactly as received
  /status/CODE          CODE with its usual reason phrase; /status/CODE-bare: none
  /redirect/relative    302 to "landed" (a relative reference)
  /redirect/absolute    302 to http(s)://127.0.0.1:PORT/echo/landed
  /redirect/chain/N     N redirects (301, 302, 303, 307, 308 in turn), then /echo
  /redirect/to?URL      302 to URL, taken as it stands (after percent-decoding)
  /redirect/down        302 to the plain server's /echo/landed
  /redirect/loop        302 to itself
  /redirect/no-target   302 without a Location, body "stay"
  /cookie/set?NAME=V    sets the cookie NAME=V (Path=/) and redirects to /echo/cookie
  /auth                 401 with a Basic challenge, or the Authorization it got
  /nul                  a body of 1000 bytes holding NUL and every other byte value
  /stall                headers announcing 100 bytes, 5 of them, then silence
  /mute                 accepts the request and never answers
  /trickle              20 bytes, one every 100 ms, then the end
  /trickle-forever      a byte every 100 ms for a minute, no length
  /endless              64 KiB blocks until the client hangs up, no length
  /short                announces 100 bytes, sends 10, hangs up
  /long                 announces 3 bytes, sends 8, keeps the connection open
  /slow-headers         a header line every 300 ms for a minute
  /header-flood         a header line of 4 MiB, then 20000 short ones
  /range                1000 bytes (i % 251), honouring "Range: bytes=N-" with 206
  /range-ignored        the same bytes, always 200, whatever the Range
  /kuaichuan            a small share page
  /kuaichuan-names      a share page whose name and address hold Chinese, an emoji,
                        Hangul and an accent
  /kuaichuan-several    a share page of two files (src/resolve/testdata/kuaichuan_several.html)
  /kuaichuan-many       a share page of 10000 files, f0.bin of 1000 bytes to f9999.bin
                        of 10999 bytes
  anything else         404

The proxy answers every request in absolute form with 200 and the body
"proxied GET <target>"; only it can reach hosts such as only-through-the-proxy.test.
The SOCKS5 proxy (no authentication, CONNECT only) connects every request, whatever
host name or address and port it names, to the plain server; the client's bytes
then pass unchanged both ways.
"""
import os
import select
import shutil
import signal
import socket
import socketserver
import ssl
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse

REASONS = {
    200: "OK", 206: "Partial Content", 301: "Moved Permanently", 302: "Found",
    303: "See Other", 307: "Temporary Redirect", 308: "Permanent Redirect",
    401: "Unauthorized", 404: "Not Found", 416: "Range Not Satisfiable",
    500: "Internal Server Error", 503: "Service Unavailable",
}

RANGE_BODY = bytes(i % 251 for i in range(1000))

PAGE = (
    '<html><body><a file_url="http://dl.example.com/files/test.zip" file_size=1048576>'
    '<span file_name="%E6%B5%8B%E8%AF%95.zip"></span>'
    "<input id=\"first_file_size\" value='1048576'>"
    "<input id=\"key\" value='0123abcd'></body></html>"
).encode()
NAMES_PAGE = (
    '<html><body><a file_url="http://dl.example.com/%E6%96%87%E4%BB%B6/\u6587\u4ef6\U0001F600.zip" file_size=5>'
    '<span file_name="%E6%B5%8B%E8%AF%95%F0%9F%98%80%ED%95%9C%EA%B8%80%C3%A9.txt"></span>'
    "<input id=\"key\" value='0123abcd'></body></html>"
).encode()
SEVERAL_PAGE = open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "resolve", "testdata",
                                  "kuaichuan_several.html"), "rb").read()
MANY_PAGE = "".join(
    f'<a file_url="http://dl.example.com/many/{i}" file_size="{1000 + i}" file_name="f{i}.bin">x</a>\n'
    for i in range(10000)).encode()

ports = {}


class Hangup(Exception):
    pass


class Handler(socketserver.BaseRequestHandler):
    def setup(self):
        self.request.settimeout(10)

    def read_head(self):
        data = b""
        while b"\r\n\r\n" not in data:
            chunk = self.request.recv(4096)
            if not chunk:
                return None
            data += chunk
            if len(data) > 65536:
                return None
        return data[: data.index(b"\r\n\r\n") + 4]

    def send(self, data):
        try:
            self.request.sendall(data)
        except OSError:
            raise Hangup()

    def answer(self, status, body=b"", headers=(), reason=None, length=True):
        if reason is None:
            reason = REASONS.get(status, "")
        line = f"HTTP/1.0 {status} {reason}" if reason else f"HTTP/1.0 {status}"
        head = [line] + [f"{k}: {v}" for k, v in headers]
        if length:
            head.append(f"Content-Length: {len(body)}")
        self.send(("\r\n".join(head) + "\r\n\r\n").encode("latin-1") + body)

    def hold(self, seconds):
        """Stays silent until the client hangs up or `seconds` have passed."""
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            readable, _, _ = select.select([self.request], [], [], 0.05)
            if readable:
                try:
                    if not self.request.recv(4096):
                        return
                except (OSError, ssl.SSLError):
                    return

    def pause(self, seconds):
        time.sleep(seconds)

    def handle(self):
        try:
            head = self.read_head()
            if head is None:
                return
            self.serve(head)
        except (Hangup, OSError, ssl.SSLError):
            pass

    def own_base(self):
        return f"{self.scheme}://127.0.0.1:{self.server.server_address[1]}"

    def header(self, head, name):
        for line in head.decode("latin-1").split("\r\n")[1:]:
            key, _, value = line.partition(":")
            if key.strip().lower() == name:
                return value.strip()
        return None

    def serve(self, head):
        request_line = head.split(b"\r\n", 1)[0].decode("latin-1")
        parts = request_line.split(" ")
        target = parts[1] if len(parts) > 1 else "/"
        path, _, query = target.partition("?")

        if path.startswith("/echo"):
            self.answer(200, head, [("Content-Type", "text/plain")])
        elif path.startswith("/status/"):
            code = path[len("/status/"):]
            bare = code.endswith("-bare")
            code = int(code.replace("-bare", ""))
            self.answer(code, f"status {code}".encode(), reason="" if bare else None)
        elif path == "/redirect/relative":
            self.answer(302, b"moved", [("Location", "landed")])
        elif path == "/redirect/landed":
            self.answer(200, b"landed")
        elif path == "/redirect/absolute":
            self.answer(302, b"", [("Location", self.own_base() + "/echo/landed")])
        elif path.startswith("/redirect/chain/"):
            n = int(path.rsplit("/", 1)[1])
            if n <= 0:
                self.answer(302, b"", [("Location", "/echo/landed")])
                return
            code = (301, 302, 303, 307, 308)[n % 5]
            next_hop = f"/redirect/chain/{n - 1}" if n > 1 else "/echo/landed"
            self.answer(code, b"hop", [("Location", next_hop)])
        elif path == "/redirect/to":
            self.answer(302, b"moved", [("Location", urllib.parse.unquote(query))])
        elif path == "/redirect/typed":
            self.answer(302, b"moved", [("Content-Type", "text/plain; charset=big5"),
                                        ("Location", "/echo/typed")])
        elif path == "/redirect/untyped":
            self.answer(302, b"moved", [("Content-Type", "text/plain; charset=big5"),
                                        ("Location", "/status/200")])
        elif path == "/redirect/loop":
            self.answer(302, b"loop", [("Location", "/redirect/loop")])
        elif path == "/redirect/no-target":
            self.answer(302, b"stay")
        elif path == "/redirect/down":
            self.answer(302, b"moved",
                        [("Location", f"http://127.0.0.1:{ports['http']}/echo/landed")])
        elif path == "/cookie/set":
            self.answer(302, b"", [("Set-Cookie", urllib.parse.unquote(query) + "; Path=/"),
                                   ("Location", "/echo/cookie")])
        elif path == "/auth":
            auth = self.header(head, "authorization")
            if auth is None:
                self.answer(401, b"who?", [("WWW-Authenticate", 'Basic realm="test"')])
            else:
                self.answer(200, f"authorization: {auth}".encode())
        elif path == "/nul":
            self.answer(200, bytes(i % 256 for i in range(1000)))
        elif path == "/stall":
            self.send(b"HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\nearly")
            self.hold(30)
        elif path == "/mute":
            self.hold(30)
        elif path == "/trickle":
            self.send(b"HTTP/1.0 200 OK\r\nContent-Length: 20\r\n\r\n")
            for i in range(20):
                self.pause(0.1)
                self.send(b"abcdefghijklmnopqrst"[i:i + 1])
        elif path == "/trickle-forever":
            self.send(b"HTTP/1.0 200 OK\r\n\r\n")
            for _ in range(600):
                self.send(b"t")
                self.pause(0.1)
        elif path == "/endless":
            self.send(b"HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n")
            block = b"x" * 65536
            while True:
                self.send(block)
        elif path == "/short":
            self.send(b"HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\n0123456789")
        elif path == "/long":
            self.send(b"HTTP/1.0 200 OK\r\nContent-Length: 3\r\n\r\nabcdefgh")
            self.hold(30)
        elif path == "/slow-headers":
            self.send(b"HTTP/1.0 200 OK\r\n")
            for i in range(200):
                self.pause(0.3)
                self.send(f"X-Slow-{i}: still coming\r\n".encode())
        elif path == "/header-flood":
            self.send(b"HTTP/1.0 200 OK\r\nX-Long: ")
            chunk = b"h" * 65536
            for _ in range(64):
                self.send(chunk)
            many = b"".join(b"X-H%d: v\r\n" % i for i in range(20000))
            self.send(b"\r\n" + many + b"\r\nbody")
        elif path in ("/range", "/range-ignored"):
            wanted = self.header(head, "range")
            first = None
            if path == "/range" and wanted and wanted.startswith("bytes=") and wanted.endswith("-"):
                try:
                    first = int(wanted[len("bytes="):-1])
                except ValueError:
                    first = None
            if first is None:
                self.answer(200, RANGE_BODY)
            elif first >= len(RANGE_BODY):
                self.answer(416, b"", [("Content-Range", f"bytes */{len(RANGE_BODY)}")])
            else:
                last = len(RANGE_BODY) - 1
                self.answer(206, RANGE_BODY[first:],
                            [("Content-Range", f"bytes {first}-{last}/{len(RANGE_BODY)}")])
        elif path == "/kuaichuan":
            self.answer(200, PAGE, [("Content-Type", "text/html")])
        elif path == "/kuaichuan-names":
            self.answer(200, NAMES_PAGE, [("Content-Type", "text/html; charset=utf-8")])
        elif path == "/kuaichuan-several":
            self.answer(200, SEVERAL_PAGE, [("Content-Type", "text/html")])
        elif path == "/kuaichuan-many":
            self.answer(200, MANY_PAGE, [("Content-Type", "text/html")])
        else:
            self.answer(404, b"not found")


class PlainHandler(Handler):
    scheme = "http"


class TlsHandler(Handler):
    scheme = "https"

    def setup(self):
        super().setup()
        try:
            self.request = self.server.tls.wrap_socket(self.request, server_side=True)
        except (OSError, ssl.SSLError):
            self.request = None

    def handle(self):
        if self.request is not None:
            super().handle()

    def finish(self):
        pass


class ProxyHandler(Handler):
    def serve(self, head):
        request_line = head.split(b"\r\n", 1)[0].decode("latin-1")
        method, target = (request_line.split(" ") + ["", ""])[:2]
        if not target.startswith("http://"):
            self.answer(405, b"this proxy takes absolute addresses only")
            return
        self.answer(200, f"proxied {method} {target}".encode())


class SocksHandler(socketserver.BaseRequestHandler):
    def setup(self):
        self.request.settimeout(10)

    def read(self, n):
        data = b""
        while len(data) < n:
            chunk = self.request.recv(n - len(data))
            if not chunk:
                raise Hangup()
            data += chunk
        return data

    def handle(self):
        try:
            version, methods = self.read(2)
            self.read(methods)
            if version != 5:
                return
            self.request.sendall(b"\x05\x00")  # no authentication
            version, command, _, kind = self.read(4)
            if kind == 1:
                self.read(4)
            elif kind == 3:
                self.read(self.read(1)[0])
            elif kind == 4:
                self.read(16)
            self.read(2)  # the port
            if version != 5 or command != 1 or kind not in (1, 3, 4):
                self.request.sendall(b"\x05\x07\x00\x01" + bytes(6))
                return
            upstream = socket.create_connection(("127.0.0.1", ports["http"]), timeout=10)
            self.request.sendall(b"\x05\x00\x00\x01" + bytes(6))
            self.relay(upstream)
        except (Hangup, OSError):
            pass

    def relay(self, upstream):
        ends = [self.request, upstream]
        with upstream:
            while True:
                readable, _, _ = select.select(ends, [], [], 10)
                if not readable:
                    return
                for end in readable:
                    data = end.recv(65536)
                    if not data:
                        return
                    (upstream if end is self.request else self.request).sendall(data)


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True
    request_queue_size = 64


def run_openssl(*args, folder):
    subprocess.run(["openssl", *args], check=True, cwd=folder,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def make_certificate(folder, name, host="127.0.0.1", expired=False):
    """A self-signed certificate NAME.pem and its key NAME.key for `host`."""
    cert, key = os.path.join(folder, name + ".pem"), os.path.join(folder, name + ".key")
    ec = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes", "-keyout", key]
    names = f"subjectAltName=IP:{host},DNS:localhost" if host == "127.0.0.1" else f"subjectAltName=DNS:{host}"
    subject = ["-subj", f"/CN={host}", "-addext", names, "-addext", "basicConstraints=critical,CA:TRUE"]
    if not expired:
        run_openssl("req", "-x509", *ec, "-days", "2", *subject, "-out", cert, folder=folder)
        return cert, key
    # Dates in the past take the ca command, which keeps a small database.
    base = os.path.join(folder, name)
    os.makedirs(base, exist_ok=True)
    open(os.path.join(base, "index.txt"), "w").close()
    with open(os.path.join(base, "serial"), "w") as serial:
        serial.write("01\n")
    with open(os.path.join(base, "ca.cnf"), "w") as config:
        config.write("[ca]\ndefault_ca = d\n[d]\ndatabase = index.txt\nserial = serial\n"
                     "new_certs_dir = .\ndefault_md = sha256\npolicy = p\ncopy_extensions = copy\n"
                     "[p]\ncommonName = supplied\n")
    run_openssl("req", "-new", *ec, *subject, "-out", "request.pem", folder=base)
    run_openssl("ca", "-batch", "-selfsign", "-config", "ca.cnf", "-keyfile", key,
                "-in", "request.pem", "-out", cert, "-startdate", "20000101000000Z",
                "-enddate", "20000102000000Z", folder=base)
    return cert, key


def tls_server(cert, key):
    server = Server(("127.0.0.1", 0), TlsHandler)
    server.tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    server.tls.load_cert_chain(cert, key)
    return server


def main():
    args = sys.argv[1:]
    folder = None
    if "--dir" in args:
        folder = args[args.index("--dir") + 1]
        os.makedirs(folder, exist_ok=True)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    temporary = folder is None
    if temporary:
        folder = tempfile.mkdtemp(prefix="sharelink-contract-")
    try:
        good = make_certificate(folder, "cert")
        wrong_host = make_certificate(folder, "wrong-host", host="share.example.invalid")
        expired = make_certificate(folder, "expired", expired=True)
        trusted = os.path.join(folder, "trusted.pem")
        with open(trusted, "w") as bundle:
            for cert, _ in (good, wrong_host, expired):
                with open(cert) as one:
                    bundle.write(one.read())
        plain = Server(("127.0.0.1", 0), PlainHandler)
        secure, misnamed, stale = tls_server(*good), tls_server(*wrong_host), tls_server(*expired)
        proxy = Server(("127.0.0.1", 0), ProxyHandler)
        socks = Server(("127.0.0.1", 0), SocksHandler)
        ports["http"] = plain.server_address[1]
        for server in (plain, secure, proxy, socks, misnamed, stale):
            threading.Thread(target=server.serve_forever, daemon=True).start()
        print(f"http://127.0.0.1:{plain.server_address[1]} "
              f"https://127.0.0.1:{secure.server_address[1]} "
              f"http://127.0.0.1:{proxy.server_address[1]} {trusted} "
              f"socks5://127.0.0.1:{socks.server_address[1]} "
              f"https://127.0.0.1:{misnamed.server_address[1]} "
              f"https://127.0.0.1:{stale.server_address[1]}", flush=True)
        if "--exit-with-stdin" in args:
            while sys.stdin.buffer.read(4096):
                pass
        else:
            threading.Event().wait()
    except KeyboardInterrupt:
        pass
    finally:
        if temporary:
            shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
