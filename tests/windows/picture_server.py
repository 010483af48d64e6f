#!/usr/bin/env python3
"""Serves made-up pictures on 127.0.0.1 for the Windows tests under Wine.

GET /<any path>/<name>.<ext>?size=N answers N bytes (default 30000) that depend only on the path,
with the Content-Type of the extension and a Last-Modified header, so that WinInet caches them.
Prints the root address ("http://127.0.0.1:PORT") as its first line once it listens.
"""
import hashlib
import http.server
import mimetypes
import sys
import urllib.parse

LAST_MODIFIED = "Mon, 07 Dec 2026 01:05:03 GMT"


def body_for(path, size):
    out = bytearray()
    counter = 0
    while len(out) < size:
        out += hashlib.sha256(f"{path}#{counter}".encode()).digest()
        counter += 1
    return bytes(out[:size])


class Handler(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        parts = urllib.parse.urlsplit(self.path)
        query = urllib.parse.parse_qs(parts.query)
        try:
            size = int(query.get("size", ["30000"])[0])
        except ValueError:
            self.send_error(400)
            return
        body = body_for(parts.path, size)
        kind = mimetypes.guess_type(parts.path)[0] or "application/octet-stream"
        self.send_response(200)
        self.send_header("Content-Type", kind)
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Last-Modified", LAST_MODIFIED)
        self.send_header("Cache-Control", "max-age=3600")
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


def main():
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    print(f"http://127.0.0.1:{server.server_address[1]}", flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    sys.exit(main())
