#!/usr/bin/env python3
"""Serves the status page's files with a stand-in for the program's API, for
the page's own tests: the host list is the JSON file given, and every line
on standard input is sent to the event streams as a pass.

usage: stub_server.py WEB_DIRECTORY HOSTS_JSON   (prints its port first)
"""
import http.server
import json
import queue
import socketserver
import sys
import threading

web, hosts_file = sys.argv[1], sys.argv[2]
streams = []
lock = threading.Lock()
CSP = "default-src 'none'; script-src 'self'; style-src 'self'; connect-src 'self'; img-src 'self'"


class Handler(http.server.BaseHTTPRequestHandler):
    def log_message(self, *arguments):
        pass

    def send_text(self, status, kind, body):
        self.send_response(status)
        self.send_header("Content-Type", kind)
        self.send_header("Content-Security-Policy", CSP)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        files = {"/": ("index.html", "text/html; charset=utf-8"), "/status.js": ("status.js", "text/javascript"),
                 "/status.css": ("status.css", "text/css")}
        if self.path in files:
            name, kind = files[self.path]
            with open(web + "/" + name, "rb") as source:
                self.send_text(200, kind, source.read())
        elif self.path == "/api/v1/hosts":
            with open(hosts_file, "rb") as source:
                self.send_text(200, "application/json", source.read())
        elif self.path.startswith("/api/v1/hosts/") and self.path.endswith("/history"):
            body = json.dumps({"key": "x", "now": 1800003600, "chart": [], "outages": [],
                               "uptime": {"hour": 1.0, "day": None}}).encode()
            self.send_text(200, "application/json", body)
        elif self.path == "/api/v1/events":
            self.send_response(200)
            self.send_header("Content-Type", "text/event-stream")
            self.send_header("Cache-Control", "no-store")
            self.end_headers()
            mine = queue.Queue()
            with lock:
                streams.append(mine)
            try:
                self.wfile.write(b": open\n\n")
                self.wfile.flush()
                while True:
                    self.wfile.write(mine.get().encode())
                    self.wfile.flush()
            except OSError:
                pass
            finally:
                with lock:
                    streams.remove(mine)
        else:
            self.send_text(404, "text/plain", b"Not found\n")


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True


server = Server(("127.0.0.1", 0), Handler)
print(server.server_address[1], flush=True)
threading.Thread(target=server.serve_forever, daemon=True).start()
for line in sys.stdin:
    line = line.strip()
    if line == "count":
        with lock:
            print(len(streams), flush=True)
        continue
    with lock:
        for stream in streams:
            stream.put("event: pass\ndata: " + line + "\n\n")
