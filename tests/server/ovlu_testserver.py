#!/usr/bin/env python3
"""HTTP server for the transfer tests.

Listens on 127.0.0.1 on a port chosen by the system and prints "PORT <n>" as
its first line on standard output. It ends when its standard input reaches
end of file (the test process closed the pipe or died) or on SIGTERM.

Every connection carries one request and is closed after the response.
With --log FILE every request is also written to FILE as /__requests lists it.

Routes (query parameters may be combined where it makes sense):

  /                          200 with a short text body
  /file/NAME                 the file NAME of the served directory
      status=N               answer with status N (the file, or a text, as body)
      rate=B                 send the body at about B bytes per second
      cut=N                  close the connection after N body bytes
      extra=N                send N bytes more than the Content-Length says
      chunked=1              chunked transfer coding, no Content-Length
      nolength=1             no Content-Length, the body ends with the close
      stall=headers          send the headers, then nothing
      stallafter=N           send N body bytes, then nothing
      stall=accept           read the request and never answer
  /redirect?to=PATH&code=N   redirect (302 unless code is given) to PATH
  /loop                      302 to itself, for ever
  /__requests                "METHOD TARGET" of every earlier request, one a line
  anything else              404 with a text body
"""

import argparse
import http.server
import os
import signal
import socketserver
import threading
import time
import urllib.parse

log_lock = threading.Lock()
request_log = []


def paced_send(out, data, rate):
    """Writes data at about rate bytes a second (at once when rate is 0)."""
    step = max(1, rate // 100) if rate > 0 else max(1, len(data))
    start = time.monotonic()
    for sent in range(0, len(data), step):
        out.write(data[sent:sent + step])
        if rate > 0:
            time.sleep(max(0, start + (sent + step) / rate - time.monotonic()))


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    timeout = 120

    def log_message(self, *args):
        pass

    def answer(self, status, headers=(), body=None):
        """Sends the head, and body with its length when one is given."""
        self.send_response_only(status)
        if body is not None:
            headers = list(headers) + [("Content-Length", len(body))]
        for kv in headers:
            self.send_header(*kv)
        self.send_header("Connection", "close")
        self.end_headers()
        self.wfile.write(body or b"")

    def wait_for_close(self):
        """Blocks until the client closes its side (or the time-out)."""
        try:
            while self.connection.recv(4096):
                pass
        except OSError:
            pass

    def do_GET(self):
        url = urllib.parse.urlsplit(self.path)
        query = {k: v[0] for k, v in urllib.parse.parse_qs(url.query).items()}
        with log_lock:
            if url.path == "/__requests":
                listed = "".join(r + "\n" for r in request_log)
                return self.answer(200, body=listed.encode("latin-1"))
            request_log.append("GET " + self.path)
            if self.server.log:
                print(request_log[-1], file=self.server.log, flush=True)
        if url.path == "/":
            self.answer(200, body=b"ovlu test server\n")
        elif url.path.startswith("/file/"):
            self.serve_file(urllib.parse.unquote(url.path[len("/file/"):]), query)
        elif url.path in ("/redirect", "/loop"):
            to = query.get("to", "/") if url.path == "/redirect" else "/loop"
            self.answer(int(query.get("code", "302")), [("Location", to)], b"")
        else:
            self.answer(404, body=b"not found\n")

    def serve_file(self, name, query):
        stall = query.get("stall")
        if stall == "accept":
            return self.wait_for_close()
        root = self.server.root
        path = os.path.normpath(os.path.join(root, name))
        status = int(query.get("status", "200"))
        if path.startswith(root + os.sep) and os.path.isfile(path):
            with open(path, "rb") as f:
                body = f.read()
        else:
            body = ("no file %s\n" % name).encode()
            status = 404 if status == 200 else status
        chunked = query.get("chunked") == "1"
        headers = [("Content-Type", "application/octet-stream")]
        if chunked:
            headers.append(("Transfer-Encoding", "chunked"))
        elif query.get("nolength") != "1":
            headers.append(("Content-Length", len(body)))
        self.answer(status, headers)
        if stall == "headers":
            return self.wait_for_close()

        payload = body + bytes((i * 7 + 3) & 0xFF for i in range(int(query.get("extra", "0"))))
        ends = [int(query[k]) for k in ("cut", "stallafter") if k in query]
        payload = payload[:min(ends)] if ends else payload
        rate = int(query.get("rate", "0"))
        if chunked:
            for i in range(0, len(payload), 1000):
                piece = payload[i:i + 1000]
                paced_send(self.wfile, b"%x\r\n" % len(piece) + piece + b"\r\n", rate)
            if not ends:
                self.wfile.write(b"0\r\n\r\n")
        else:
            paced_send(self.wfile, payload, rate)
        if "stallafter" in query:
            self.wait_for_close()


class Server(socketserver.ThreadingTCPServer):
    allow_reuse_address = True
    daemon_threads = True
    request_queue_size = 64

    def handle_error(self, request, client_address):
        pass  # a client that went away early


def watch_stdin():
    # The test process holds the other end of our standard input: when it
    # closes it, on purpose or by dying, the server goes too.
    try:
        while os.read(0, 4096):
            pass
    except OSError:
        pass
    os._exit(0)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True, help="directory of the served files")
    parser.add_argument("--log", help="file that gets each request as /__requests lists it")
    args = parser.parse_args()
    signal.signal(signal.SIGTERM, lambda *_: os._exit(0))
    server = Server(("127.0.0.1", 0), Handler)
    server.root = os.path.normpath(os.path.abspath(args.root))
    server.log = open(args.log, "a") if args.log else None
    print("PORT %d" % server.server_address[1], flush=True)
    threading.Thread(target=watch_stdin, daemon=True).start()
    server.serve_forever()


if __name__ == "__main__":
    main()
