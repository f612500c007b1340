#!/usr/bin/env python3
"""HTTP server for the transfer tests.

Listens on 127.0.0.1 on a port chosen by the system and prints "PORT <n>" as
its first line on standard output. It ends when its standard input reaches
end of file (the test process closed the pipe or died) or on SIGTERM.

Every connection carries one request and is closed after the response.

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
import os
import select
import signal
import socket
import sys
import threading
import time
import urllib.parse

REASONS = {
    200: "OK",
    204: "No Content",
    301: "Moved Permanently",
    302: "Found",
    303: "See Other",
    304: "Not Modified",
    307: "Temporary Redirect",
    400: "Bad Request",
    403: "Forbidden",
    404: "Not Found",
    500: "Internal Server Error",
    503: "Service Unavailable",
}

log_lock = threading.Lock()
request_log = []


def read_request(conn):
    data = b""
    while b"\r\n\r\n" not in data:
        piece = conn.recv(4096)
        if not piece:
            return None
        data += piece
        if len(data) > 65536:
            return None
    head = data.split(b"\r\n\r\n", 1)[0].decode("latin-1")
    parts = head.split("\r\n")[0].split(" ")
    if len(parts) < 2:
        return None
    return parts[0], parts[1]


def wait_for_close(conn):
    """Blocks until the client closes its side (or the process ends)."""
    try:
        while conn.recv(4096):
            pass
    except OSError:
        pass


def send_head(conn, status, headers):
    lines = ["HTTP/1.1 %d %s" % (status, REASONS.get(status, "Status"))]
    lines += ["%s: %s" % kv for kv in headers]
    lines.append("Connection: close")
    conn.sendall(("\r\n".join(lines) + "\r\n\r\n").encode("latin-1"))


def paced_send(conn, data, rate):
    if rate <= 0:
        conn.sendall(data)
        return
    step = max(1, rate // 100)
    start = time.monotonic()
    sent = 0
    while sent < len(data):
        piece = data[sent:sent + step]
        conn.sendall(piece)
        sent += len(piece)
        due = start + sent / rate
        delay = due - time.monotonic()
        if delay > 0:
            time.sleep(delay)


def extra_bytes(n):
    return bytes((i * 7 + 3) & 0xFF for i in range(n))


def serve_file(conn, method, name, query, root):
    def q(key, default=None):
        values = query.get(key)
        return values[0] if values else default

    stall = q("stall")
    if stall == "accept":
        wait_for_close(conn)
        return

    path = os.path.normpath(os.path.join(root, name))
    status = int(q("status", "200"))
    if not path.startswith(os.path.normpath(root) + os.sep) or not os.path.isfile(path):
        body = ("no file %s\n" % name).encode()
        if status == 200:
            status = 404
    else:
        with open(path, "rb") as f:
            body = f.read()
    rate = int(q("rate", "0"))
    cut = q("cut")
    extra = int(q("extra", "0"))
    chunked = q("chunked") == "1"
    nolength = q("nolength") == "1"

    headers = [("Content-Type", "application/octet-stream")]
    if chunked:
        headers.append(("Transfer-Encoding", "chunked"))
    elif not nolength:
        headers.append(("Content-Length", str(len(body))))
    send_head(conn, status, headers)
    if method == "HEAD":
        return
    if stall == "headers":
        wait_for_close(conn)
        return

    payload = body + extra_bytes(extra)
    if cut is not None:
        payload = payload[:int(cut)]
    stall_after = q("stallafter")
    if stall_after is not None:
        payload = payload[:int(stall_after)]
    if chunked:
        step = 1000
        for i in range(0, len(payload), step):
            piece = payload[i:i + step]
            paced_send(conn, b"%x\r\n" % len(piece) + piece + b"\r\n", rate)
        if cut is None and stall_after is None:
            conn.sendall(b"0\r\n\r\n")
    else:
        paced_send(conn, payload, rate)
    if stall_after is not None:
        wait_for_close(conn)


def handle(conn, root):
    try:
        conn.settimeout(120)
        req = read_request(conn)
        if req is None:
            return
        method, target = req
        url = urllib.parse.urlsplit(target)
        query = urllib.parse.parse_qs(url.query)
        if url.path != "/__requests":
            with log_lock:
                request_log.append("%s %s" % (method, target))

        if url.path == "/":
            body = b"ovlu test server\n"
            send_head(conn, 200, [("Content-Length", str(len(body)))])
            if method != "HEAD":
                conn.sendall(body)
        elif url.path == "/__requests":
            with log_lock:
                body = "".join(line + "\n" for line in request_log).encode("latin-1")
            send_head(conn, 200, [("Content-Length", str(len(body)))])
            conn.sendall(body)
        elif url.path.startswith("/file/"):
            name = urllib.parse.unquote(url.path[len("/file/"):])
            serve_file(conn, method, name, query, root)
        elif url.path == "/redirect":
            to = query.get("to", ["/"])[0]
            code = int(query.get("code", ["302"])[0])
            send_head(conn, code, [("Location", to), ("Content-Length", "0")])
        elif url.path == "/loop":
            send_head(conn, 302, [("Location", "/loop"), ("Content-Length", "0")])
        else:
            body = b"not found\n"
            send_head(conn, 404, [("Content-Length", str(len(body)))])
            conn.sendall(body)
    except OSError:
        pass
    finally:
        try:
            conn.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        conn.close()


def watch_stdin():
    # The test process holds the other end of our standard input: when it
    # closes it, on purpose or by dying, the server goes too.
    while True:
        try:
            r, _, _ = select.select([sys.stdin], [], [])
            if r and not os.read(sys.stdin.fileno(), 4096):
                break
        except (OSError, ValueError):
            break
    os._exit(0)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True, help="directory of the served files")
    args = parser.parse_args()
    root = os.path.abspath(args.root)

    signal.signal(signal.SIGTERM, lambda *_: os._exit(0))
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(64)
    print("PORT %d" % listener.getsockname()[1], flush=True)

    threading.Thread(target=watch_stdin, daemon=True).start()
    while True:
        conn, _ = listener.accept()
        threading.Thread(target=handle, args=(conn, root), daemon=True).start()


if __name__ == "__main__":
    main()
