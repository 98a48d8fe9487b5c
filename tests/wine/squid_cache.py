"""A caching reverse proxy in front of the update server, as a publisher might put one there:
Debian's squid on the update port, with nginx (deploy/nginx/merovast.conf) on a free port behind
it. Everything they write goes to one state folder: squid.conf, cache/, cache.log, access.log,
squid.pid, and nginx/ (nginx/access.log: the requests that reached the origin).

Debian's rule decides how long a file stays fresh: a fifth of the time since it was modified, at
most three days (nginx sends Last-Modified and no expiry). Files up to 64 MB are kept (Debian's
limit is 4 MB).
"""

import os
import pwd
import signal
import socket
import subprocess
import time

SQUID = "/usr/sbin/squid"
# The service name keeps squid's shared-memory names apart from a system squid.
SERVICE = "merovasttest"

CONFIG = """\
http_port {host}:{port} accel defaultsite={host}:{port} no-vhost
cache_peer 127.0.0.1 parent {origin} 0 no-query no-digest originserver name=origin
cache_peer_access origin allow all
never_direct allow all
http_access allow all
refresh_pattern . 0 20% 4320
maximum_object_size 64 MB
cache_dir ufs {state}/cache 64 4 16
cache_mem 8 MB
logformat requests %rm %rp HTTP/%rv\t%>Hs\t%{{User-Agent}}>h\t%Ss\t%{{Pragma}}>h\t%{{Cache-Control}}>h
access_log stdio:{state}/access.log requests
cache_log {state}/cache.log
cache_store_log none
pid_filename {state}/squid.pid
coredump_dir {state}
netdb_filename none
pinger_enable off
visible_hostname merovast-cache
shutdown_lifetime 0 seconds
cache_effective_user proxy
"""


def free_port(host):
    with socket.socket() as probe:
        probe.bind((host, 0))
        return probe.getsockname()[1]


class SquidCache:
    def __init__(self, state, nginx_script):
        self.state = os.path.realpath(state)
        self.nginx_script = nginx_script
        self.nginx_state = os.path.join(self.state, "nginx")
        self.origin_log = os.path.join(self.nginx_state, "access.log")
        self.config = os.path.join(self.state, "squid.conf")
        self.squid = None

    def start(self, root, host, port):
        os.makedirs(self.state, exist_ok=True)
        origin = free_port("127.0.0.1")
        started = subprocess.run([self.nginx_script, "start", root, self.nginx_state, str(origin)],
                                 capture_output=True, text=True, timeout=20)
        if started.returncode != 0:
            raise RuntimeError(f"nginx did not start: {started.stderr.strip()}")
        with open(self.config, "w") as f:
            f.write(CONFIG.format(host=host, port=port, origin=origin, state=self.state))
        if os.getuid() == 0:
            # squid refuses to run as root and works as the proxy user in its folder.
            proxy = pwd.getpwnam("proxy")
            os.chown(self.state, proxy.pw_uid, proxy.pw_gid)
        command = [SQUID, "-N", "-n", SERVICE, "-f", self.config]
        subprocess.run(command + ["-z"], check=True, capture_output=True, timeout=60)
        self.squid = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                      stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 20
        while time.monotonic() < deadline and self.squid.poll() is None:
            try:
                socket.create_connection((host, port), timeout=1).close()
                return
            except OSError:
                time.sleep(0.05)
        raise RuntimeError(f"squid did not start: {self.log_tail()}")

    def log_tail(self):
        try:
            with open(os.path.join(self.state, "cache.log"), errors="replace") as f:
                return "".join(f.readlines()[-5:]).strip()
        except FileNotFoundError:
            return "no cache.log"

    def stop(self):
        if self.squid is not None:
            if self.squid.poll() is None:
                self.squid.send_signal(signal.SIGINT)
                try:
                    self.squid.wait(15)
                except subprocess.TimeoutExpired:
                    self.squid.kill()
                    self.squid.wait(5)
            self.squid = None
        subprocess.run([self.nginx_script, "stop", self.nginx_state], check=False, timeout=20)
