#!/usr/bin/python3
"""Loopback web peer for the service benchmarks: soak and start-up.

Usage: loopback_sites.py PORTFILE
/ok and /ok2 answer 200, /notfound answers 404, /silent reads the request and never answers
(the connection is held until the client closes it). Writes its port to PORTFILE.
"""
import socketserver
import sys
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"

    def do_GET(self):
        if self.path.startswith("/silent"):
            try:
                while self.rfile.read(1):
                    pass
            except OSError:
                pass
            return
        status = 200 if self.path.startswith("/ok") else 404
        body = b"<html><body>bench</body></html>"
        self.send_response(status)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    do_HEAD = do_GET

    def log_message(self, *args):
        pass


socketserver.TCPServer.request_queue_size = 256
server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
server.daemon_threads = True
with open(sys.argv[1] + ".tmp", "w") as f:
    f.write(str(server.server_address[1]))
import os
os.replace(sys.argv[1] + ".tmp", sys.argv[1])
server.serve_forever()
