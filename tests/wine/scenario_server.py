#!/usr/bin/python3
"""The update server as the Wine tests need it.

127.0.0.1:8081 is what the programs under test talk to. 127.0.0.1:8082 takes control requests
that choose what 8081 does, so that one Windows test process can go through many scenarios:

  /mode?name=down                nothing listens on 8081
  /mode?name=nginx&root=DIR      Debian's nginx serves DIR
  /mode?name=faults[&root=DIR]   this script answers: per-path rules first, then files of DIR,
                                 then 404 with a small HTML page
  /mode?name=cache&root=DIR&state=SDIR
                                 squid, a caching reverse proxy, with nginx serving DIR behind
                                 it on a free port; their files go to SDIR (squid_cache.py)
  /mode?name=store&origin=URL&state=SDIR
                                 Varnish with deploy/varnish/merovast.vcl in front of the
                                 bucket at URL (an object store: tests/wine/store_servers.sh);
                                 its files go to SDIR (deploy/varnish/serve.sh)
  /rule?path=P&...               how the faults mode answers a GET of P (see Rule)
  /rule?path=P&ranges=HOW        how it answers a GET of P with a Range header, from the file
                                 of P below the root: whole (200 and the whole file), 416,
                                 shift (a Content-Range one byte on), short (half the body);
                                 without such a rule a single range of a file is a 206;
                                 with &once=1 only the next ranged GET of P meets it
  /requests                      requests 8081 saw since the last /mode, one per line:
                                 request line, status, User-Agent, tab-separated, and the
                                 Range header when there was one (in cache mode: the requests
                                 that reached nginx behind the cache; in store mode: Varnish's
                                 log, with its handling and the Range header or "-")
  /fetch?path=P                  the body of a GET of P from 8081 by a client that sends no
                                 cache directives
  /mount?dir=DIR&size=64k        a small tmpfs on DIR, unmounted when the server stops
  /immutable?path=FILE           chattr +i: not even root may write it (Wine's read-only
                                 attribute does not stop root); undone when the server stops
  /ping (answers "ok PID"), /quit

Control values are percent-encoded bytes. The server stops by itself after --lifetime seconds.
Port 8082 doubles as a machine-wide lock on 8081: a second server (another test run on this
machine) waits up to --wait seconds for it.
"""

import argparse
import errno
import os
import signal
import socket
import struct
import subprocess
import sys
import threading
import time
import urllib.parse
import urllib.request

from squid_cache import SquidCache

UPDATE_PORT = 8081
CONTROL_PORT = 8082
HOST = "127.0.0.1"
NOT_FOUND_PAGE = b"<html><head><title>404 Not Found</title></head><body>404 Not Found</body></html>\r\n"
REASONS = {200: "OK", 206: "Partial Content", 301: "Moved Permanently", 302: "Found",
           304: "Not Modified", 400: "Bad Request", 403: "Forbidden", 404: "Not Found",
           500: "Internal Server Error", 502: "Bad Gateway", 503: "Service Unavailable"}


class Rule:
    """One scripted answer: wait `delay` s, send the status line and headers (unless headers=0)
    with Content-Length `length` (default: the body's length; 'none' leaves it out), send the
    first `send` bytes of `body` (or of the bytes of the Linux file `file`), at `rate` bytes a
    second if given, wait `stall` s, then end with a close or a reset (RST)."""

    def __init__(self, values):
        self.status = int(values.get("status", "200"))
        if "file" in values:
            with open(as_path(values["file"]), "rb") as f:
                self.body = f.read()
        else:
            self.body = values.get("body", "").encode("latin-1")
        length = values.get("length", "")
        self.length = None if length == "none" else int(length) if length else len(self.body)
        self.send = int(values["send"]) if "send" in values else len(self.body)
        self.end = values.get("end", "close")
        if self.end not in ("close", "reset"):
            raise ValueError("end must be close or reset")
        self.delay = float(values.get("delay", "0"))
        self.stall = float(values.get("stall", "0"))
        self.headers = values.get("headers", "1") != "0"
        self.rate = float(values.get("rate", "0"))
        self.content_range = values.get("range")


def parse_query(query):
    """Query values as latin-1 text, so that each character is one byte of the original."""
    return dict(urllib.parse.parse_qsl(query, keep_blank_values=True, encoding="latin-1"))


def as_path(value):
    return os.fsdecode(value.encode("latin-1"))


def read_head(conn):
    data = b""
    while b"\r\n\r\n" not in data:
        chunk = conn.recv(65536)
        if not chunk:
            return None
        data += chunk
        if len(data) > 1 << 20:
            return None
    return data.split(b"\r\n\r\n", 1)[0].decode("latin-1")


def send_paced(conn, data, rate):
    """Sends data at `rate` bytes a second (all at once when 0), in twentieths of a second."""
    if rate <= 0:
        conn.sendall(data)
        return
    step = max(1, int(rate / 20))
    start = time.monotonic()
    for offset in range(0, len(data), step):
        time.sleep(max(0.0, start + offset / rate - time.monotonic()))
        conn.sendall(data[offset:offset + step])


def respond(conn, status, body, content_type="text/plain"):
    head = (f"HTTP/1.0 {status} {REASONS.get(status, 'Status')}\r\nContent-Type: {content_type}\r\n"
            f"Content-Length: {len(body)}\r\nConnection: close\r\n\r\n")
    conn.sendall(head.encode("latin-1") + body)


class Controller:
    def __init__(self, state, nginx_script, varnish_script):
        self.state = state
        self.nginx_script = nginx_script
        self.varnish_script = varnish_script
        self.varnish_state = None
        self.nginx_state = os.path.join(state, "nginx")
        self.faults_log = os.path.join(state, "faults.log")
        self.lock = threading.Lock()
        self.mode = "down"
        self.cache = None
        self.root = None
        self.rules = {}
        self.range_rules = {}
        self.range_once = set()
        self.listener = None
        self.mounts = []
        self.immutable = []
        self.done = threading.Event()
        open(self.faults_log, "wb").close()

    # --- what 8081 does ---

    def set_mode(self, name, root, state=None, origin=None):
        if root is not None and not os.path.isdir(root):
            raise ValueError(f"no folder {root} to serve")
        with self.lock:
            self._stop_update_port()
            self.rules = {}
            self.range_rules = {}
            self.range_once = set()
            self.root = root
            open(self.faults_log, "wb").close()
            if name == "faults":
                self.listener = listen(UPDATE_PORT)
                threading.Thread(target=self._accept_updates, args=(self.listener,), daemon=True).start()
            elif name == "nginx":
                if not root:
                    raise ValueError("nginx needs a root")
                started = subprocess.run([self.nginx_script, "start", root, self.nginx_state, str(UPDATE_PORT)],
                                         capture_output=True, text=True, timeout=20)
                if started.returncode != 0:
                    raise RuntimeError(f"nginx did not start: {started.stderr.strip()}")
            elif name == "cache":
                if not root or not state:
                    raise ValueError("cache needs a root and a state folder")
                self.cache = SquidCache(state, self.nginx_script)
                self.mode = "down"  # until both run; a failed start is stopped with the port
                self.cache.start(root, HOST, UPDATE_PORT)
            elif name == "store":
                if not origin or not state:
                    raise ValueError("store needs an origin and a state folder")
                self.varnish_state = state
                self.mode = "down"  # until it runs; a failed start is stopped with the port
                started = subprocess.run([self.varnish_script, "start", origin, state, f"{HOST}:{UPDATE_PORT}"],
                                         capture_output=True, text=True, timeout=60)
                if started.returncode != 0:
                    raise RuntimeError(f"varnish did not start: {started.stderr.strip()}")
            elif name != "down":
                raise ValueError(f"unknown mode {name}")
            self.mode = name

    def _stop_update_port(self):
        if self.listener is not None:
            # shutdown wakes the thread blocked in accept(); close alone leaves it listening.
            self.listener.shutdown(socket.SHUT_RDWR)
            self.listener.close()
            self.listener = None
        if self.mode == "nginx":
            subprocess.run([self.nginx_script, "stop", self.nginx_state], check=False, timeout=20)
        if self.cache is not None:
            self.cache.stop()
            self.cache = None
        if self.varnish_state is not None:
            subprocess.run([self.varnish_script, "stop", self.varnish_state], check=False, timeout=20)
            self.varnish_state = None

    def requests(self):
        if self.mode in ("nginx", "cache"):
            # nginx logs a request just after its last byte went out; give it that moment.
            time.sleep(0.05)
        elif self.mode == "store":
            # varnishncsa reads Varnish's shared-memory log a moment after each request ends.
            time.sleep(0.3)
        if self.mode == "nginx":
            path = os.path.join(self.nginx_state, "access.log")
        elif self.mode == "cache":
            path = self.cache.origin_log
        elif self.mode == "store":
            path = os.path.join(self.varnish_state, "access.log")
        else:
            path = self.faults_log
        try:
            with open(path, "rb") as f:
                return f.read()
        except FileNotFoundError:
            return b""

    def _accept_updates(self, listener):
        while True:
            try:
                conn, _ = listener.accept()
            except OSError:
                return
            threading.Thread(target=self._serve_update, args=(conn,), daemon=True).start()

    def _serve_update(self, conn):
        try:
            conn.settimeout(30)
            head = read_head(conn)
            if head is None:
                return
            lines = head.split("\r\n")
            request_line = lines[0]
            agent = ""
            byte_range = None
            for line in lines[1:]:
                key, _, value = line.partition(":")
                if key.strip().lower() == "user-agent":
                    agent = value.strip()
                if key.strip().lower() == "range":
                    byte_range = value.strip()
            parts = request_line.split(" ")
            target = parts[1] if len(parts) > 1 else "/"
            path = target.split("?", 1)[0]
            with self.lock:
                rule = self.rules.get(path)
                range_rule = self.range_rules.get(path) if byte_range is not None else None
                if range_rule is not None and path in self.range_once:
                    del self.range_rules[path]
                    self.range_once.discard(path)
                root = self.root
            # A rule for ranges comes first, so that the whole download after it may meet another rule.
            if range_rule is not None or rule is None:
                rule = self._file_rule(root, path, byte_range, range_rule)
            self._log(request_line, rule.status if rule.headers else "-", agent, byte_range)
            self._answer(conn, rule)
        except OSError:
            pass
        finally:
            conn.close()

    def _file_rule(self, root, path, byte_range=None, range_rule=None):
        if root:
            relative = urllib.parse.unquote_to_bytes(path).lstrip(b"/")
            base = os.path.realpath(os.fsencode(root))
            full = os.path.realpath(os.path.join(base, relative))
            if (full == base or full.startswith(base + b"/")) and os.path.isfile(full):
                with open(full, "rb") as f:
                    body = f.read().decode("latin-1")
                if byte_range is not None:
                    return self._range_rule(body, byte_range, range_rule)
                return Rule({"body": body})
        return Rule({"status": "404", "body": NOT_FOUND_PAGE.decode("latin-1")})

    @staticmethod
    def _range_rule(body, byte_range, how):
        """A single range "bytes=A-B" of body as a 206, or as `how` says it goes wrong."""
        first, _, last = byte_range.partition("=")[2].partition("-")
        if how == "whole" or not first.isdigit() or not last.isdigit() or "," in byte_range:
            return Rule({"body": body})
        first, last = int(first), min(int(last), len(body) - 1)
        if how == "416" or first > last:
            return Rule({"status": "416", "body": "", "range": f"bytes */{len(body)}"})
        part = body[first:last + 1]
        if how == "shift":
            return Rule({"status": "206", "body": part, "range": f"bytes {first + 1}-{last + 1}/{len(body)}"})
        rule = Rule({"status": "206", "body": part, "range": f"bytes {first}-{last}/{len(body)}"})
        if how == "short":
            rule.send = len(part) // 2
        return rule

    def _answer(self, conn, rule):
        time.sleep(rule.delay)
        if rule.headers:
            head = f"HTTP/1.1 {rule.status} {REASONS.get(rule.status, 'Status')}\r\n"
            if rule.length is not None:
                head += f"Content-Length: {rule.length}\r\n"
            if rule.content_range is not None:
                head += f"Content-Range: {rule.content_range}\r\n"
            head += "Content-Type: application/octet-stream\r\nConnection: close\r\n\r\n"
            conn.sendall(head.encode("latin-1"))
        send_paced(conn, rule.body[:rule.send], rule.rate)
        time.sleep(rule.stall)
        if rule.end == "reset":
            conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        else:
            conn.shutdown(socket.SHUT_WR)

    def _log(self, request_line, status, agent, byte_range=None):
        extra = "" if byte_range is None else f"\t{byte_range}"
        with self.lock, open(self.faults_log, "ab") as f:
            f.write(f"{request_line}\t{status}\t{agent}{extra}\n".encode("latin-1"))

    # --- control port ---

    def serve_control(self, listener):
        while not self.done.is_set():
            try:
                conn, _ = listener.accept()
            except OSError:
                return
            try:
                conn.settimeout(30)
                self._control(conn)
            except Exception as error:  # a bad request must not stop the server
                try:
                    respond(conn, 400, f"{type(error).__name__}: {error}\n".encode())
                except OSError:
                    pass
            finally:
                conn.close()

    def _control(self, conn):
        head = read_head(conn)
        if head is None:
            return
        target = head.split("\r\n")[0].split(" ")[1]
        command, _, query = target.partition("?")
        values = parse_query(query)
        if command == "/ping":
            respond(conn, 200, f"ok {os.getpid()}\n".encode())
        elif command == "/mode":
            self.set_mode(values.get("name", ""), as_path(values["root"]) if values.get("root") else None,
                          as_path(values["state"]) if values.get("state") else None, values.get("origin"))
            respond(conn, 200, b"ok\n")
        elif command == "/fetch":
            # No proxy from the environment, and no cache directives of our own.
            opener = urllib.request.build_opener(urllib.request.ProxyHandler({}))
            with opener.open(f"http://{HOST}:{UPDATE_PORT}{values['path']}", timeout=20) as answer:
                respond(conn, 200, answer.read())
        elif command == "/rule" and "ranges" in values:
            if values["ranges"] not in ("whole", "416", "shift", "short"):
                raise ValueError("ranges must be whole, 416, shift or short")
            with self.lock:
                self.range_rules[values["path"]] = values["ranges"]
                if values.get("once") == "1":
                    self.range_once.add(values["path"])
                else:
                    self.range_once.discard(values["path"])
            respond(conn, 200, b"ok\n")
        elif command == "/rule":
            rule = Rule(values)
            with self.lock:
                self.rules[values["path"]] = rule
            respond(conn, 200, b"ok\n")
        elif command == "/requests":
            respond(conn, 200, self.requests())
        elif command == "/mount":
            directory = as_path(values["dir"])
            os.makedirs(directory, exist_ok=True)
            subprocess.run(["mount", "-t", "tmpfs", "-o", f"size={values.get('size', '64k')}",
                            "tmpfs", directory], check=True, capture_output=True, timeout=20)
            self.mounts.append(directory)
            respond(conn, 200, b"ok\n")
        elif command == "/immutable":
            path = as_path(values["path"])
            subprocess.run(["chattr", "+i", path], check=True, capture_output=True, timeout=20)
            self.immutable.append(path)
            respond(conn, 200, b"ok\n")
        elif command == "/quit":
            respond(conn, 200, b"ok\n")
            self.done.set()
        else:
            respond(conn, 404, b"unknown command\n")

    def shutdown(self):
        with self.lock:
            self._stop_update_port()
            self.mode = "down"
        for path in self.immutable:
            subprocess.run(["chattr", "-i", path], check=False, capture_output=True, timeout=20)
        for directory in reversed(self.mounts):
            subprocess.run(["umount", "-l", directory], check=False, timeout=20)


def listen(port):
    sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    sock.bind((HOST, port))
    sock.listen(64)
    return sock


def serve(args):
    os.makedirs(args.state, exist_ok=True)
    controller = Controller(args.state, args.nginx_script, args.varnish_script)
    deadline = time.monotonic() + args.wait
    while True:
        try:
            control = listen(CONTROL_PORT)
            break
        except OSError as error:
            if error.errno != errno.EADDRINUSE or time.monotonic() >= deadline:
                raise
            time.sleep(0.2)
    threading.Thread(target=controller.serve_control, args=(control,), daemon=True).start()
    signal.signal(signal.SIGTERM, lambda *_: controller.done.set())
    finished = controller.done.wait(args.lifetime)
    if not finished:
        print(f"scenario server: lifetime of {args.lifetime}s is over, stopping", file=sys.stderr)
    control.shutdown(socket.SHUT_RDWR)
    control.close()
    controller.shutdown()


def ctl(args):
    values = []
    for item in args.values:
        key, _, value = item.partition("=")
        values.append(f"{key}={urllib.parse.quote_from_bytes(os.fsencode(value), safe='')}")
    target = "/" + args.command + ("?" + "&".join(values) if values else "")
    with socket.create_connection((HOST, CONTROL_PORT), timeout=30) as conn:
        conn.sendall(f"GET {target} HTTP/1.0\r\n\r\n".encode("latin-1"))
        data = b""
        while chunk := conn.recv(65536):
            data += chunk
    head, _, body = data.partition(b"\r\n\r\n")
    sys.stdout.buffer.write(body)
    return 0 if head.split(b" ")[1:2] == [b"200"] else 1


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = parser.add_subparsers(dest="action", required=True)
    run = sub.add_parser("serve", help="run the server")
    run.add_argument("--state", required=True, help="folder for logs and nginx's files")
    run.add_argument("--nginx-script", required=True)
    run.add_argument("--varnish-script", required=True)
    run.add_argument("--lifetime", type=float, default=600)
    run.add_argument("--wait", type=float, default=45, help="how long to wait for the ports")
    control = sub.add_parser("ctl", help="send one control request")
    control.add_argument("command")
    control.add_argument("values", nargs="*", metavar="KEY=VALUE")
    args = parser.parse_args()
    if args.action == "serve":
        serve(args)
        return 0
    return ctl(args)


if __name__ == "__main__":
    sys.exit(main())
