#!/usr/bin/env python3
"""HTTP server for the transfer tests.

Listens on 127.0.0.1 on a port chosen by the system and prints "PORT <n>" as
its first line on standard output. It ends when its standard input reaches
end of file (the test process closed the pipe or died) or on SIGTERM.

Every connection carries one request and is closed after the response.
With --log FILE every request is also written to FILE as /__requests lists it.

With --tls DIR it also serves HTTPS on two more ports, from certificates it
makes in DIR with openssl: one signed by a test authority (DIR/ca.pem), one
self-signed that nothing vouches for. A TLS connection is closed without
the close notice, as many servers do.

With --run COMMAND... it runs the command, with OVLU_TEST_HTTP,
OVLU_TEST_HTTPS, OVLU_TEST_HTTPS_UNTRUSTED (root URLs) and OVLU_TEST_CA in
its environment, and exits with its status.

With --start FILE it goes to the background, writes those variables (and
OVLU_TEST_ROOT, OVLU_TEST_LOG) to FILE as NAME=VALUE lines, and returns; it
serves until "--stop FILE" or for an hour at most. CTest starts it so once
for all the tests (the fixture in tests/CMakeLists.txt).

Routes (query parameters may be combined where it makes sense):

  /                          200 with a short text body
  /                          the same as a redirect to itself when the Host is
                             "localhost" (a server whose root redirects)
  /file/NAME                 the file NAME of the served directory
      for=file               the other options for NAME only; the same URL
                             with ".sig" appended (for=file.sig) gives the
                             file NAME.sig plainly
      for=sig                NAME plainly; with ".sig" appended (for=sig.sig)
                             NAME.sig with the other options
  /gen/N                     N bytes of the test pattern: byte i is
                             (7 * i + 13 * (i >> 10)) mod 256
      status=N               answer with status N (the file, or a text, as body)
      rate=B                 send the body at about B bytes per second
      delay=S                wait S seconds before sending the headers
      cut=N                  close the connection after N body bytes
      extra=N                send N bytes more than the Content-Length says
      chunked=1              chunked transfer coding, no Content-Length
      nolength=1             no Content-Length, the body ends with the close
      length=TEXT            TEXT as the Content-Length, whatever the body
      reset=N                reset the connection after N body bytes
      keepopen=1             keep the connection open after the body
      headers=N              about N bytes of extra header lines
      silentclose=1          no "Connection: close" in the answer; the
                             connection is closed after it all the same
      sendtimeout=S          drop (reset) a client that takes nothing for S
                             seconds, as nginx does after its send_timeout
      stall=headers          send the headers, then nothing
      stallafter=N           send N body bytes, then nothing
      stall=accept           read the request and never answer
  /agent                     the request's User-Agent as the body
  /redirect?to=PATH&code=N   redirect (302 unless code is given) to PATH
  /loop                      302 to itself, for ever
  /__requests                "METHOD TARGET" of every earlier request, one a line
  /__open?mark=TEXT          how many connections whose target holds TEXT the
                             server still holds open, waiting for the client
  anything else              404 with a text body
"""

import argparse
import http.server
import os
import signal
import socket
import socketserver
import ssl
import struct
import subprocess
import sys
import threading
import time
import urllib.parse

log_lock = threading.Lock()
request_log = []
waiting = []  # targets of the requests whose connection the server holds open


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
        if "silentclose=1" not in self.path:
            self.send_header("Connection", "close")
        # The connection is closed after every answer, whatever it says.
        self.close_connection = True
        self.end_headers()
        self.wfile.write(body or b"")

    def wait_for_close(self):
        """Blocks until the client closes its side (or the time-out)."""
        with log_lock:
            waiting.append(self.path)
        try:
            while self.connection.recv(4096):
                pass
        except OSError:
            pass
        finally:
            with log_lock:
                waiting.remove(self.path)

    def do_GET(self):
        url = urllib.parse.urlsplit(self.path)
        # Bytes beyond ASCII in the query stand for themselves (a Location
        # written back from "to" keeps them).
        query = {k: v[0] for k, v in
                 urllib.parse.parse_qs(url.query, encoding="latin-1").items()}
        with log_lock:
            if url.path == "/__requests":
                listed = "".join(r + "\n" for r in request_log)
                return self.answer(200, body=listed.encode("latin-1"))
            if url.path == "/__open":
                held = sum(query.get("mark", "") in path for path in waiting)
                return self.answer(200, body=b"%d" % held)
            request_log.append("GET " + self.path)
            if self.server.log:
                print(request_log[-1], file=self.server.log, flush=True)
        host = (self.headers.get("Host") or "").split(":")[0]
        if url.path == "/" and host == "localhost":
            self.answer(302, [("Location", "/")], b"")
        elif url.path == "/":
            self.answer(200, body=b"ovlu test server\n")
        elif url.path == "/agent":
            agent = self.headers.get("User-Agent") or ""
            self.answer(200, body=agent.encode("latin-1"))
        elif url.path.startswith("/file/"):
            name = urllib.parse.unquote(url.path[len("/file/"):])
            # A signature's URL is its file's with ".sig" appended, which
            # lands in the query's last value.
            target = query.pop("for", None)
            if target in ("file.sig", "sig.sig"):
                name += ".sig"
            if target in ("file.sig", "sig"):
                query = {}
            self.serve_file(name, query)
        elif url.path.startswith("/gen/") and url.path[5:].isdigit():
            self.serve_body(200, pattern(int(url.path[5:])), query)
        elif url.path in ("/redirect", "/loop"):
            to = query.get("to", "/") if url.path == "/redirect" else "/loop"
            self.answer(int(query.get("code", "302")), [("Location", to)], b"")
        else:
            self.answer(404, body=b"not found\n")

    def serve_file(self, name, query):
        root = self.server.root
        path = os.path.normpath(os.path.join(root, name))
        if path.startswith(root + os.sep) and os.path.isfile(path):
            with open(path, "rb") as f:
                self.serve_body(200, f.read(), query)
        else:
            self.serve_body(404, ("no file %s\n" % name).encode(), query)

    def serve_body(self, status, body, query):
        time.sleep(float(query.get("delay", "0")))
        stall = query.get("stall")
        if stall == "accept":
            return self.wait_for_close()
        status = int(query.get("status", status)) if status == 200 else status
        chunked = query.get("chunked") == "1"
        headers = [("Content-Type", "application/octet-stream")]
        if chunked:
            headers.append(("Transfer-Encoding", "chunked"))
        elif "length" in query:
            headers.append(("Content-Length", query["length"]))
        elif query.get("nolength") != "1":
            headers.append(("Content-Length", len(body)))
        pad = int(query.get("headers", "0"))
        headers += [("X-Pad-%d" % i, "p" * 488) for i in range((pad + 499) // 500)]
        self.answer(status, headers)
        if stall == "headers":
            return self.wait_for_close()

        payload = body + bytes((i * 7 + 3) & 0xFF for i in range(int(query.get("extra", "0"))))
        ends = [int(query[k]) for k in ("cut", "stallafter", "reset") if k in query]
        payload = payload[:min(ends)] if ends else payload
        rate = int(query.get("rate", "0"))
        if "sendtimeout" in query:
            return self.send_or_drop(payload, float(query["sendtimeout"]))
        if chunked:
            for i in range(0, len(payload), 1000):
                piece = payload[i:i + 1000]
                paced_send(self.wfile, b"%x\r\n" % len(piece) + piece + b"\r\n", rate)
            if not ends:
                self.wfile.write(b"0\r\n\r\n")
        else:
            paced_send(self.wfile, payload, rate)
        if "stallafter" in query or query.get("keepopen") == "1":
            self.wait_for_close()
        elif "reset" in query:
            self.wfile.flush()
            # Long enough for the client to take what was sent (a reset drops
            # what it has not read yet), shorter than its quiet end.
            time.sleep(0.1)
            # A linger time of 0 makes the close send a reset.
            self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER,
                                       struct.pack("ii", 1, 0))
            self.connection.close()


    def send_or_drop(self, payload, seconds):
        """Sends in blocks; a block that waits longer than seconds ends the
        connection with a reset."""
        self.connection.settimeout(seconds)
        try:
            for i in range(0, len(payload), 65536):
                self.connection.sendall(payload[i:i + 65536])
        except OSError:
            self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER,
                                       struct.pack("ii", 1, 0))
            self.connection.close()


def pattern(n):
    # Block k of 1024 bytes is the first block with 13 * k added to each byte.
    first = bytes(7 * i & 0xFF for i in range(1024))
    shifts = [bytes((b + s) & 0xFF for b in range(256)) for s in range(256)]
    blocks = (first.translate(shifts[13 * k & 0xFF]) for k in range(n // 1024 + 1))
    return b"".join(blocks)[:n]


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


class TlsServer(Server):
    def get_request(self):
        sock, address = super().get_request()
        sock.settimeout(10)
        try:
            return self.context.wrap_socket(sock, server_side=True), address
        except (OSError, ssl.SSLError):
            sock.close()
            raise


def make_certificates(folder):
    """A test authority and a server certificate it signed, and one that
    signed itself; all for 127.0.0.1 and localhost."""
    def openssl(*args):
        subprocess.run(["openssl", *args], check=True, cwd=folder,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    # The address as a DNS name too: Wine matches a host against DNS names only.
    names = "subjectAltName=IP:127.0.0.1,DNS:127.0.0.1,DNS:localhost"
    key = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"]
    openssl("req", "-x509", *key, "-days", "2", "-subj", "/CN=OVLU test authority",
            "-keyout", "ca.key", "-out", "ca.pem")
    openssl("req", *key, "-subj", "/CN=127.0.0.1", "-keyout", "server.key", "-out", "server.csr")
    with open(os.path.join(folder, "names.ext"), "w") as f:
        f.write(names + "\n")
    openssl("x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key",
            "-CAcreateserial", "-days", "2", "-extfile", "names.ext", "-out", "server.pem")
    openssl("req", "-x509", *key, "-days", "2", "-subj", "/CN=127.0.0.1", "-addext", names,
            "-keyout", "self.key", "-out", "self.pem")


def serve(server_class, root, log, context=None):
    server = server_class(("127.0.0.1", 0), Handler)
    server.root = root
    server.log = log
    server.context = context
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server.server_address[1]


def start(state):
    """Detaches: the caller returns once the state file is written."""
    if os.path.exists(state):
        stop(state)
    if os.fork():
        for _ in range(500):
            if os.path.exists(state):
                os._exit(0)
            time.sleep(0.02)
        os._exit(1)
    os.setsid()
    devnull = os.open(os.devnull, os.O_RDWR)
    for fd in (0, 1, 2):
        os.dup2(devnull, fd)


def stop(state):
    try:
        with open(state) as f:
            values = dict(line.rstrip("\n").split("=", 1) for line in f)
        os.remove(state)
        os.kill(int(values["OVLU_TEST_PID"]), signal.SIGTERM)
    except (OSError, KeyError, ValueError):
        pass


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", default=".", help="directory of the served files")
    parser.add_argument("--log", help="file that gets each request as /__requests lists it")
    parser.add_argument("--tls", help="directory for the certificates of the HTTPS ports")
    parser.add_argument("--run", nargs=argparse.REMAINDER, help="command to run, then exit")
    parser.add_argument("--start", help="serve in the background, the URLs in this file")
    parser.add_argument("--stop", help="end the server that --start started with this file")
    args = parser.parse_args()
    if args.stop:
        return stop(args.stop)
    if args.start:
        start(args.start)
    signal.signal(signal.SIGTERM, lambda *_: os._exit(0))
    root = os.path.normpath(os.path.abspath(args.root))
    log = open(args.log, "w" if args.start else "a") if args.log else None
    urls = {"OVLU_TEST_HTTP": "http://127.0.0.1:%d" % serve(Server, root, log)}
    print("PORT %s" % urls["OVLU_TEST_HTTP"].rsplit(":", 1)[1], flush=True)
    if args.tls:
        folder = os.path.abspath(args.tls)
        os.makedirs(folder, exist_ok=True)
        make_certificates(folder)
        for name, cert in (("OVLU_TEST_HTTPS", "server"), ("OVLU_TEST_HTTPS_UNTRUSTED", "self")):
            context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            context.load_cert_chain(os.path.join(folder, cert + ".pem"),
                                    os.path.join(folder, cert + ".key"))
            urls[name] = "https://127.0.0.1:%d" % serve(TlsServer, root, log, context)
        urls["OVLU_TEST_CA"] = os.path.join(folder, "ca.pem")
    if args.run:
        sys.exit(subprocess.run(args.run, env=dict(os.environ, **urls)).returncode)
    if args.start:
        urls.update(OVLU_TEST_ROOT=root, OVLU_TEST_LOG=os.path.abspath(args.log or ""),
                    OVLU_TEST_PID=str(os.getpid()))
        with open(args.start + ".new", "w") as f:
            f.write("".join("%s=%s\n" % kv for kv in urls.items()))
        os.replace(args.start + ".new", args.start)
        time.sleep(3600)
        os._exit(0)
    threading.Thread(target=watch_stdin, daemon=True).start()
    while True:
        time.sleep(3600)


if __name__ == "__main__":
    main()
