#!/usr/bin/env python3
"""HTTP server for the fetcher tests, on 127.0.0.1 and a free port.

Prints the port on the first line of standard output and serves until
standard input closes (the test process ended) or it is terminated.

  /bytes/N          N bytes (byte i is i % 251) with Content-Length
  /status/CODE      that status, a short body
  /nolength/N       N bytes, no Content-Length, connection closed at the end
  /chunked/N        N bytes in chunks of 1000
  /cut/N            Content-Length N, half the body, then the connection closes
  /stall/N          Content-Length N, 100 bytes, then nothing for 60 s
  /silent           nothing at all for 60 s
  /trickle/N/MS     Content-Length N, then one byte every MS milliseconds
  /endless          no Content-Length and a body without end
  /redirect/PATH    302 to /PATH
  /echo             the request line and headers as the body
  /files/NAME       the file NAME from the folder given with --root
  http://...        (a proxy request) "proxied " and the requested URL
"""
import argparse
import os
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer


def pattern(n):
    return bytes(i % 251 for i in range(n))


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    root = "."

    def log_message(self, *args):
        pass

    def send_body(self, body, status=200, content_type="application/octet-stream"):
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        path = self.path
        if path.startswith("http://"):
            return self.send_body(b"proxied " + path.encode(), content_type="text/plain")
        parts = path.split("/", 2)
        kind = parts[1] if len(parts) > 1 else ""
        arg = parts[2] if len(parts) > 2 else ""
        if kind == "bytes":
            self.send_body(pattern(int(arg)))
        elif kind == "status":
            self.send_body(b"status " + arg.encode(), status=int(arg), content_type="text/plain")
        elif kind == "nolength":
            self.send_response(200)
            self.send_header("Connection", "close")
            self.end_headers()
            self.wfile.write(pattern(int(arg)))
            self.close_connection = True
        elif kind == "chunked":
            body = pattern(int(arg))
            self.send_response(200)
            self.send_header("Transfer-Encoding", "chunked")
            self.end_headers()
            for i in range(0, len(body), 1000):
                piece = body[i:i + 1000]
                self.wfile.write(b"%x\r\n%s\r\n" % (len(piece), piece))
            self.wfile.write(b"0\r\n\r\n")
        elif kind == "cut":
            n = int(arg)
            self.send_response(200)
            self.send_header("Content-Length", str(n))
            self.end_headers()
            self.wfile.write(pattern(n // 2))
            self.wfile.flush()
            self.close_connection = True
        elif kind == "stall":
            self.send_response(200)
            self.send_header("Content-Length", arg)
            self.end_headers()
            self.wfile.write(pattern(100))
            self.wfile.flush()
            time.sleep(60)
            self.close_connection = True
        elif kind == "trickle":
            n, ms = (int(x) for x in arg.split("/"))
            self.send_response(200)
            self.send_header("Content-Length", str(n))
            self.end_headers()
            self.wfile.flush()
            for byte in pattern(n):
                time.sleep(ms / 1000)
                self.wfile.write(bytes([byte]))
                self.wfile.flush()
        elif kind == "endless":
            self.send_response(200)
            self.send_header("Connection", "close")
            self.end_headers()
            piece = b"<p>" + b"x" * 65533
            while True:
                self.wfile.write(piece)
        elif kind == "silent":
            time.sleep(60)
            self.close_connection = True
        elif kind == "redirect":
            self.send_response(302)
            self.send_header("Location", "/" + arg)
            self.send_header("Content-Length", "0")
            self.end_headers()
        elif kind == "echo":
            self.send_body((self.requestline + "\r\n" + str(self.headers)).encode(), content_type="text/plain")
        elif kind == "files":
            name = os.path.join(self.root, os.path.basename(arg))
            try:
                with open(name, "rb") as f:
                    body = f.read()
            except OSError:
                return self.send_body(b"not found", status=404, content_type="text/plain")
            self.send_body(body)
        else:
            self.send_body(b"not found", status=404, content_type="text/plain")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", default=".")
    options = parser.parse_args()
    Handler.root = options.root
    server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    # Clients that hang up early (cancelled downloads, time-outs) are expected.
    server.handle_error = lambda request, client_address: None
    print(server.server_address[1], flush=True)

    def end_with_parent():
        sys.stdin.read()
        os._exit(0)

    threading.Thread(target=end_with_parent, daemon=True).start()
    server.serve_forever()


if __name__ == "__main__":
    main()
