#!/usr/bin/env python3
"""Serves saved copies of a web application's pages on the loopback
interface, at the addresses the application itself used: "/printers/"
is printers/index.html, "/printers/?QUERY=blue" is the file saved under
that very name when there is one, and a form posted to a page gets the
page back. Prints "… port N" once it listens, as http.server does."""

import http.server
import mimetypes
import os
import sys
import urllib.parse

root = os.path.realpath(sys.argv[1])


class Saved(http.server.BaseHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def candidates(self):
        url = urllib.parse.urlsplit(self.path)
        path = urllib.parse.unquote(url.path).lstrip("/")
        base = os.path.join(root, path)
        names = []
        if url.query:
            names.append((base.rstrip("/") + "/index.html" if path.endswith("/") or not path else base)
                         + "?" + url.query)
        names += [base, os.path.join(base, "index.html")]
        return names

    def reply(self):
        for name in self.candidates():
            name = os.path.realpath(name)
            if not name.startswith(root + os.sep) or not os.path.isfile(name):
                continue
            kind = mimetypes.guess_type(name.split("?")[0])[0]
            if kind is None or name.endswith(".html") or "." not in os.path.basename(name.split("?")[0]):
                kind = "text/html; charset=utf-8"
            with open(name, "rb") as f:
                body = f.read()
            self.send_response(200)
            self.send_header("Content-Type", kind)
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)
            return
        self.send_error(404)

    def do_GET(self):
        self.reply()

    def do_POST(self):
        length = int(self.headers.get("Content-Length") or 0)
        self.rfile.read(length)
        self.reply()


server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Saved)
print("Serving saved pages on 127.0.0.1 port", server.server_address[1], flush=True)
server.serve_forever()
