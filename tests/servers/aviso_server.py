#!/usr/bin/python3
"""Monitoring endpoint for the tests, on 127.0.0.1: appends "<path> <body>" to the file named by
its argument for every POST and answers 200. Prints "LISTENING <port> <pid>" once ready."""

import http.server
import os
import sys


class Monitor(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        corpo = self.rfile.read(int(self.headers.get("Content-Length", 0))).decode()
        with open(sys.argv[1], "a", encoding="utf-8") as f:
            f.write("%s %s\n" % (self.path, corpo))
        self.send_response(200)
        self.end_headers()

    def log_message(self, *_):
        pass


servidor = http.server.HTTPServer(("127.0.0.1", 0), Monitor)
print("LISTENING %d %d" % (servidor.server_port, os.getpid()), flush=True)
servidor.serve_forever()
