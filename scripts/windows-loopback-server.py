#!/usr/bin/env python3
"""Loopback HTTP and HTTPS server for the Windows tests under Wine.

    windows-loopback-server.py <certificate.pem> <key.pem>

Listens on 127.0.0.1 only, on ports the system picks, and prints
"http://127.0.0.1:<port> https://127.0.0.1:<port>" once both accept connections.
"""
import socketserver
import ssl
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

PAGE = (
    '<html><body><a file_url="http://dl.example.com/files/test.zip" file_size=1048576>'
    '<span file_name="%E6%B5%8B%E8%AF%95.zip"></span>'
    "<input id=\"first_file_size\" value='1048576'>"
    "<input id=\"key\" value='0123abcd'></body></html>"
).encode()


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"

    def log_message(self, *args):
        pass

    def reply(self, body, status=200, headers=(), length=True):
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        if length:
            self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        path = self.path
        if path == "/kuaichuan":
            self.reply(PAGE, headers=[("Content-Type", "text/html")])
        elif path.startswith("/echo"):
            # What arrived, one "name: value" line each, for the fetcher's tests.
            lines = [f"target: {path}", f"version: {self.request_version}"]
            lines += [f"{k.lower()}: {v}" for k, v in self.headers.items()]
            self.reply("\n".join(lines).encode())
        elif path == "/zero":
            self.reply(b"a\0b\0c")
        elif path == "/missing":
            self.reply(b"no such page", status=404)
        elif path == "/moved":
            self.reply(b"", status=302, headers=[("Location", "/echo?moved=1")])
        elif path == "/cookie":
            self.reply(b"set", headers=[("Set-Cookie", "visit=42; Path=/")])
        elif path == "/large":
            self.reply(bytes(i % 251 for i in range(300000)))
        elif path == "/unsized":
            # No Content-Length: the body ends when the connection closes.
            self.reply(b"x" * 25000, length=False)
        elif path == "/cut":
            # Announces 100 bytes, sends 10, hangs up.
            self.send_response(200)
            self.send_header("Content-Length", "100")
            self.end_headers()
            self.wfile.write(b"0123456789")
            self.wfile.flush()
        elif path == "/stall":
            # Sends a little, then nothing for longer than the test's stall time-out.
            self.send_response(200)
            self.end_headers()
            self.wfile.write(b"early")
            self.wfile.flush()
            time.sleep(40)
        elif path == "/trickle":
            # A byte every 100 ms, for a minute: never stalls, never ends soon.
            self.send_response(200)
            self.end_headers()
            try:
                for _ in range(600):
                    self.wfile.write(b"t")
                    self.wfile.flush()
                    time.sleep(0.1)
            except OSError:
                pass
        elif path == "/huge":
            # Larger than the body cap, sent without a length.
            self.send_response(200)
            self.end_headers()
            block = b"y" * 65536
            try:
                for _ in range(9 * 16 + 8):  # 9.5 MiB
                    self.wfile.write(block)
            except OSError:
                pass
        elif path == "/auth":
            auth = self.headers.get("Authorization")
            if auth is None:
                self.reply(b"who?", status=401,
                           headers=[("WWW-Authenticate", 'Basic realm="test"')])
            else:
                self.reply(f"authorization: {auth}".encode())
        else:
            self.reply(b"not found", status=404)


class Server(ThreadingHTTPServer):
    daemon_threads = True


def main():
    plain = Server(("127.0.0.1", 0), Handler)
    secure = Server(("127.0.0.1", 0), Handler)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(sys.argv[1], sys.argv[2])
    secure.socket = context.wrap_socket(secure.socket, server_side=True)
    for server in (plain, secure):
        threading.Thread(target=server.serve_forever, daemon=True).start()
    print(f"http://127.0.0.1:{plain.server_address[1]} https://127.0.0.1:{secure.server_address[1]}",
          flush=True)
    threading.Event().wait()


if __name__ == "__main__":
    main()
