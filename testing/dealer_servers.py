#!/usr/bin/python3
"""Stand-in dealer servers for tests, the demo and the benchmarks.

One process serves, on 127.0.0.1 (or the address given with --host, IPv4 or
IPv6) at free ports:
  - the dealer web server: the photo-number request and the set-primary
    notification, plus a control endpoint under /_test/;
  - the dealer FTP server (pyftpdlib) with one account over a root folder;
  - an HTTP proxy that answers every request, whatever its method and target,
    with "200 OK" and the body "OK" (after reading and discarding any body),
    like a careless proxy that claims success without forwarding anything.

Every request is recorded. Switches, set at run time through
GET /_test/configure?name=value&..., make the servers misbehave, so one running
instance serves a whole test suite:

  web_down=1            every dealer web request answers HTTP 500
  status=N              the photo-number request answers HTTP status N
  primary_status=N      the set-primary notification answers HTTP status N
  answer=MODE           photo-number body: normal, garbage, few (two fields),
                        nonnumeric, linebreak (CR LF inside name piece 1),
                        long (valid, over 1,024 bytes), huge (over 64 KiB)
  size=N                body size for answer=long / answer=huge
  body=TEXT             the photo-number request answers exactly TEXT
  delay=S               web answers wait S seconds before the first byte
  trickle=S             the photo-number answer sends its status line and
                        headers at once, then its body one byte every S seconds
  ftp_refuse_login=1    every login is refused (530)
  ftp_refuse_folders=1  CWD to anything but "/" and every MKD fail (550)
  ftp_fail_put=1        STOR answers 552 (quota exceeded)
  ftp_truncate_put=1    STOR keeps only half of the bytes, still answers 226
  ftp_discard_put=1     STOR keeps nothing at all, still answers 226
  ftp_drop_put=1        the connection is dropped once data of a STOR arrives,
                        none of it kept
  ftp_stall=S           STOR is answered only after S seconds
  ftp_idle_timeout=S    a login with no command for S seconds is ended with 421
  ftp_no_size=1         SIZE is not supported (502)
  ftp_size_reply=TEXT   SIZE is answered with exactly TEXT ("213", "213 12x")
  ftp_drop_after_size=1 the connection is dropped right after a SIZE reply
  ftp_drop_before_226=1 the connection is dropped when a STOR's data has all
                        arrived and is stored, before the 226 that says so
  ftp_refuse_rename=1   RNFR is refused (550), so nothing is renamed
  ftp_refuse_delete=1   DELE is refused (550)
  ftp_refuse_root_cwd=1 CWD to "/" is refused (550), as by a server whose
                        login folder is all an account may enter
  ftp_rate=N            the data connection of a STOR reads about N bytes a
                        second at most (0: no limit); a data connection keeps
                        the value it found when it opened
  ftp_no_greeting=1     a new FTP connection gets no 220 greeting and no answer
                        to anything; it stays open until the client closes it
                        or the servers are reset or stopped
  ftp_active_off=1      active mode is switched off, as on hosting where passive
                        mode is mandatory: PORT and EPRT answer 500
  ftp_no_connect_back=1 PORT and EPRT answer 200, but the server never opens
                        the data connection (a firewall in between eats it)
  ftp_no_epsv=1         EPSV answers 500, as on servers that know only PASV
  ftp_pasv_address=A    PASV replies name address A instead of the server's
                        own, like a server behind a NAT of its own
  ftp_log_replies=1     every FTP reply is logged too, as "FTP < <reply>"

Like real servers, the FTP server refuses a PORT or EPRT naming an address
other than the control connection's peer (501), so a client behind a NAT that
advertises its private address is refused as it would be on the internet.

A dealer's link, e.g. link_delay=0.05&link_rate=1250000 for 50 ms per exchange
and 10 Mbit/s upstream:

  link_delay=S          every answer of the dealer web server (not those under
                        /_test/) and every FTP reply, the greeting included,
                        reaches the client S seconds after it was sent; FTP
                        replies keep their order
  link_rate=N           the data connections of STOR share N bytes a second at
                        most (0: no limit); a data connection keeps the value it
                        found when it opened; with ftp_rate as well, the
                        slower of the two holds

`serve` and `start` take --configure QUERY (same form as /_test/configure) to
start with switches already set, so a benchmark can start the servers slowed.

GET /_test/reset clears the log, the photo counters and the FTP root, and sets
the switches back to those given with --configure (none by default).
GET /_test/requests returns the log, one line per request:
  WEB CONNECT           a new connection's first request follows
  WEB GET <path?query> cache-control=<v> pragma=<v> agent=<user agent>
  FTP CONNECT
  FTP <command line>          (the password of PASS is masked)
  PROXY <method> <target> authorization=<yes|no>
                              (a user:password@ in the target shows as ***@;
                              authorization tells whether an Authorization or
                              Proxy-Authorization header came, never its value)

Subcommands:
  serve --state FILE [--host ADDR] [--root DIR] [--configure QUERY]
                                    run in the foreground
  start --state FILE [--host ADDR] [--root DIR] [--configure QUERY]
                                    run serve detached, wait until ready
  stop --state FILE                 stop what start started
"""

import argparse
import collections
import http.server
import json
import logging
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse

from pyftpdlib.authorizers import AuthenticationFailed, DummyAuthorizer
from pyftpdlib.handlers import DTPHandler, FTPHandler
from pyftpdlib.servers import FTPServer

DEFAULT_HOST = "127.0.0.1"
DEFAULT_USER = "kivtest"
DEFAULT_PASSWORD = "kivtest-secret"
READY_TIMEOUT = 20.0
LINK_SLACK = 0.02

INT_SWITCHES = {"web_down", "status", "primary_status", "size", "ftp_refuse_login",
                "ftp_refuse_folders", "ftp_fail_put", "ftp_truncate_put",
                "ftp_drop_put", "ftp_no_size", "ftp_discard_put", "ftp_rate",
                "ftp_no_greeting", "link_rate", "ftp_active_off", "ftp_no_connect_back",
                "ftp_no_epsv", "ftp_log_replies", "redirect_loop", "ftp_idle_timeout",
                "ftp_drop_after_size", "ftp_drop_before_226", "ftp_refuse_root_cwd",
                "ftp_refuse_rename", "ftp_refuse_delete"}
FLOAT_SWITCHES = {"delay", "ftp_stall", "trickle", "link_delay"}
TEXT_SWITCHES = {"answer", "body", "ftp_pasv_address", "ftp_size_reply"}
ANSWER_MODES = {"normal", "garbage", "few", "nonnumeric", "linebreak", "long", "huge"}
# Up to the last "@" before the path, so a password with a stray "@" or "?" is hidden too.
USERINFO = re.compile(r"^((?:[A-Za-z][A-Za-z0-9+.-]*:)?//)?[^/]*@")


class State:
    """Switches, log and photo counters shared by the web and FTP threads."""

    def __init__(self, root, initial=()):
        self.root = root
        self.lock = threading.Lock()
        self.generation = 0
        self.initial = parse_switches(initial)
        # When the simulated link has carried every STOR byte handed to it so far.
        self.link_free = 0.0
        self.reset()

    def reset(self):
        with self.lock:
            self.generation += 1
            self.switches = dict(self.initial)
            self.log = []
            self.counters = {}
            for entry in os.listdir(self.root):
                path = os.path.join(self.root, entry)
                if os.path.isdir(path) and not os.path.islink(path):
                    shutil.rmtree(path, ignore_errors=True)
                else:
                    try:
                        os.remove(path)
                    except FileNotFoundError:
                        pass

    def configure(self, pairs):
        parsed = parse_switches(pairs)
        with self.lock:
            self.switches.update(parsed)

    def get(self, name, default=0):
        with self.lock:
            return self.switches.get(name, default)

    def record(self, line):
        with self.lock:
            self.log.append(line)

    def lines(self):
        with self.lock:
            return list(self.log)

    def next_photo_number(self, vid):
        with self.lock:
            number = self.counters.get(vid, 0) + 1
            self.counters[vid] = number
            return number

    def link_send(self, count, rate, resume_at, now):
        """Books `count` bytes on the shared link; returns when they are through.

        resume_at is when the same data connection's previous bytes were through:
        a reader woken a little late starts from there, so the lateness is made
        up, but an idle pause earns at most LINK_SLACK of credit."""
        with self.lock:
            start = max(self.link_free, now if resume_at is None
                        else max(resume_at, now - LINK_SLACK))
            self.link_free = start + count / rate
            return self.link_free


def parse_switches(pairs):
    parsed = {}
    for name, value in pairs:
        if name in INT_SWITCHES:
            parsed[name] = int(value)
        elif name in FLOAT_SWITCHES:
            parsed[name] = float(value)
        elif name in TEXT_SWITCHES:
            if name == "answer" and value not in ANSWER_MODES:
                raise ValueError("unknown answer mode %r" % value)
            parsed[name] = value
        else:
            raise ValueError("unknown switch %r" % name)
    for name in ("link_delay", "link_rate"):
        if parsed.get(name, 0) < 0:
            raise ValueError("%s must not be negative" % name)
    return parsed


def one_line(text):
    return text.replace("\r", "\\r").replace("\n", "\\n")


def without_userinfo(target):
    return USERINFO.sub(lambda match: (match.group(1) or "") + "***@", target, count=1)


def photo_number_body(state, vid):
    body = state.get("body", None)
    if body is not None:
        return body.encode("latin-1", "replace")
    mode = state.get("answer", "normal")
    if mode == "garbage":
        return b"<html><body>Service temporarily unavailable</body></html>"
    if mode == "huge":
        size = state.get("size", 0) or 1024 * 1024
        return (b"garbage " * (size // 8 + 1))[:size]
    number = state.next_photo_number(vid)
    piece1, piece2 = "V%s_" % vid, "P"
    if mode == "few":
        text = "%d|%s" % (number, piece1)
    elif mode == "nonnumeric":
        text = "4x%d|%s|%s" % (number, piece1, piece2)
    elif mode == "linebreak":
        text = "%d|%s\r\n|%s" % (number, piece1, piece2)
    else:
        text = "%d|%s|%s" % (number, piece1, piece2)
    if mode == "long":
        size = state.get("size", 0) or 3000
        text += "|" + "x" * max(0, size - len(text) - 1)
    return text.encode("latin-1")


def make_web_handler(state):
    class WebHandler(http.server.BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"
        server_version = "KivDealerWeb/1.0"

        def log_message(self, fmt, *args):
            pass

        def answer(self, status, body, content_type="text/plain", pause=0):
            """Sends the whole answer, or with pause > 0 its body a byte at a time."""
            try:
                # Headers and body are two writes; with Nagle's algorithm on,
                # the body would wait for the client's delayed acknowledgement
                # (40 ms a request on Linux). Production web servers (http.sys,
                # nginx on kept connections) switch it off too.
                self.connection.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
                self.send_response(status)
                self.send_header("Content-Type", content_type)
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                if pause <= 0:
                    self.wfile.write(body)
                for index in range(len(body) if pause > 0 else 0):
                    time.sleep(pause)
                    self.wfile.write(body[index:index + 1])
            except ConnectionError:
                self.close_connection = True

        def redirect(self, location):
            """A 302 back to the same place: a loop only a bound on redirects ends."""
            try:
                self.send_response(302)
                self.send_header("Location", location)
                self.send_header("Content-Length", "0")
                self.end_headers()
            except ConnectionError:
                self.close_connection = True

        def do_GET(self):
            url = urllib.parse.urlsplit(self.path)
            if url.path.startswith("/_test/"):
                return self.control(url)
            # One line per connection, so a client that keeps its connection
            # alive can be told from one that dials anew for every request.
            if not getattr(self, "announced", False):
                state.record("WEB CONNECT")
                self.announced = True
            state.record("WEB GET %s cache-control=%s pragma=%s agent=%s" % (
                one_line(self.path), self.headers.get("Cache-Control", ""),
                self.headers.get("Pragma", ""), one_line(self.headers.get("User-Agent", ""))))
            query = dict(urllib.parse.parse_qsl(url.query, keep_blank_values=True))
            delay = state.get("link_delay") + state.get("delay")
            if delay:
                time.sleep(delay)
            if state.get("web_down"):
                return self.answer(500, b"Internal Server Error")
            if url.path == "/capture/VBstorePhoto.asp" and state.get("redirect_loop"):
                return self.redirect(self.path)
            if url.path == "/capture/VBstorePhoto.asp":
                status = state.get("status") or 200
                if status != 200:
                    body = b"error"
                else:
                    body = photo_number_body(state, query.get("VID", ""))
                return self.answer(status, body, pause=state.get("trickle"))
            if url.path == "/RLQNew/Web/Photo/PhotoSetWebPrimary.aspx":
                status = state.get("primary_status") or 200
                return self.answer(status, b"OK" if status == 200 else b"error")
            return self.answer(404, b"Not Found")

        def control(self, url):
            if url.path == "/_test/reset":
                state.reset()
                return self.answer(200, b"reset\n")
            if url.path == "/_test/configure":
                try:
                    state.configure(urllib.parse.parse_qsl(url.query, keep_blank_values=True))
                except ValueError as error:
                    return self.answer(400, ("%s\n" % error).encode())
                return self.answer(200, b"configured\n")
            if url.path == "/_test/requests":
                text = "".join(line + "\n" for line in state.lines())
                return self.answer(200, text.encode("utf-8", "replace"))
            return self.answer(404, b"Not Found")

    return WebHandler


def make_proxy_handler(state):
    class ProxyHandler(http.server.BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"
        server_version = "KivProxy/1.0"

        def log_message(self, fmt, *args):
            pass

        def __getattr__(self, name):
            # BaseHTTPRequestHandler dispatches on do_<METHOD>; every method gets the same answer.
            if name.startswith("do_"):
                return self.claim_success
            raise AttributeError(name)

        def claim_success(self):
            authorization = any(name in self.headers
                                for name in ("Authorization", "Proxy-Authorization"))
            state.record("PROXY %s %s authorization=%s" % (
                one_line(self.command), one_line(without_userinfo(self.path)),
                "yes" if authorization else "no"))
            try:
                self.discard_body()
            except (ValueError, EOFError):
                self.close_connection = True
            if self.command == "CONNECT":
                # Whatever follows would be tunnel bytes, not requests.
                self.close_connection = True
            self.send_response(200)
            self.send_header("Content-Type", "text/plain")
            self.send_header("Content-Length", "2")
            if self.close_connection:
                self.send_header("Connection", "close")
            self.end_headers()
            if self.command != "HEAD":
                self.wfile.write(b"OK")

        def discard_body(self):
            if "chunked" in self.headers.get("Transfer-Encoding", "").lower():
                while True:
                    size = int(self.rfile.readline(65537).split(b";")[0].strip(), 16)
                    if size == 0:
                        break
                    self.skip(size)
                    self.rfile.readline(65537)
                while self.rfile.readline(65537) not in (b"\r\n", b"\n", b""):
                    pass
            else:
                self.skip(int(self.headers.get("Content-Length") or 0))

        def skip(self, count):
            while count > 0:
                data = self.rfile.read(min(count, 65536))
                if not data:
                    raise EOFError("request body cut short")
                count -= len(data)

    return ProxyHandler


class QuietHTTPServer(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def __init__(self, address, handler):
        if ":" in address[0]:
            self.address_family = socket.AF_INET6
        super().__init__(address, handler)

    def handle_error(self, request, client_address):
        # Clients that give up (time-out tests) reset their connections.
        if not isinstance(sys.exc_info()[1], ConnectionError):
            super().handle_error(request, client_address)


class SwitchableAuthorizer(DummyAuthorizer):
    def __init__(self, state):
        super().__init__()
        self.state = state

    def validate_authentication(self, username, password, handler):
        if self.state.get("ftp_refuse_login"):
            raise AuthenticationFailed("Login refused.")
        super().validate_authentication(username, password, handler)


class DroppingDTPHandler(DTPHandler):
    def handle_read(self):
        # Dropped before the first bytes are written, so however small the
        # photo, the server never holds it whole.
        if (self.receive and not self._closed
                and self.cmd_channel.state.get("ftp_drop_put")):
            self.cmd_channel.state.record("FTP DROPPED")
            control = self.cmd_channel
            self._resp = None
            self.close()
            control.close()
            return
        super().handle_read()

    # DTPHandler binds the event to its own handle_read.
    handle_read_event = handle_read


class RateLimitedDTPHandler(DroppingDTPHandler):
    def __init__(self, sock, cmd_channel):
        self._rate = cmd_channel.state.get("ftp_rate")
        self._rate_start = None
        self._rate_bytes = 0
        self._link_rate = cmd_channel.state.get("link_rate")
        self._link_through = None
        super().__init__(sock, cmd_channel)

    def recv(self, buffer_size):
        rates = [rate for rate in (self._rate, self._link_rate) if rate > 0]
        if not rates:
            return super().recv(buffer_size)
        now = time.monotonic()
        if self._rate_start is None:
            self._rate_start = now
        chunk = super().recv(min(buffer_size, max(1, min(rates) // 10)))
        if not chunk:
            return chunk
        wait = 0.0
        if self._rate > 0:
            self._rate_bytes += len(chunk)
            # Scheduled from the start, so a late wake-up is made up instead of lost.
            wait = self._rate_start + self._rate_bytes / self._rate - now
        if self._link_rate > 0:
            self._link_through = self.cmd_channel.state.link_send(
                len(chunk), self._link_rate, self._link_through, now)
            wait = max(wait, self._link_through - now)
        if wait > 0 and not self._closed:
            self.del_channel()
            self.call_later(wait, self._resume_reading)
        return chunk

    def _resume_reading(self):
        if not self._closed:
            self.add_channel(events=self.ioloop.READ)


def make_ftp_handler(state):
    class DealerFTPHandler(FTPHandler):
        dtp_handler = RateLimitedDTPHandler
        auth_failed_timeout = 0
        banner = "kiv stand-in dealer FTP"
        # What real servers do: a data connection goes only to the client itself.
        permit_foreign_addresses = False
        _mute = False
        _mute_watch = None
        _link_queue = None
        _link_timer = None

        def on_connect(self):
            self.state = state
            self._stall_timer = None
            state.record("FTP CONNECT")
            # vsftpd's idle_session_timeout: "421" and a close. pyftpdlib's own
            # idler never fires under this loop, so the login is watched here.
            self._last_command = time.monotonic()
            self._idle_watch = None
            if state.get("ftp_idle_timeout"):
                self._idle_watch = self.ioloop.call_every(0.2, self._end_if_idle, _errback=self.handle_error)

        def _end_if_idle(self):
            limit = state.get("ftp_idle_timeout")
            if limit and time.monotonic() - self._last_command > limit and not self._closed:
                self._idle_watch.cancel()
                self.respond("421 Timeout.")
                self.close_when_done()

        def push(self, s):
            delay = state.get("link_delay")
            if delay > 0 or self._link_queue:
                self._link_later(delay, s)
            else:
                super().push(s)

        def close_when_done(self):
            # A close asked for after a reply still on the link waits for it.
            if self._link_queue:
                self._link_later(0, None)
            else:
                super().close_when_done()

        def _link_later(self, delay, text):
            if self._closed:
                return
            if self._link_queue is None:
                self._link_queue = collections.deque()
            due = time.monotonic() + delay
            if self._link_queue:
                due = max(due, self._link_queue[-1][0])
            self._link_queue.append((due, text))
            if self._link_timer is None:
                self._link_timer = self.ioloop.call_later(
                    max(0.0, due - time.monotonic()), self._link_deliver,
                    _errback=self.handle_error)

        def _link_deliver(self):
            self._link_timer = None
            now = time.monotonic()
            while self._link_queue and self._link_queue[0][0] <= now and not self._closed:
                _, text = self._link_queue.popleft()
                if text is None:
                    self._link_queue.clear()
                    FTPHandler.close_when_done(self)
                    return
                FTPHandler.push(self, text)
            if self._link_queue and not self._closed:
                self._link_timer = self.ioloop.call_later(
                    max(0.0, self._link_queue[0][0] - now), self._link_deliver,
                    _errback=self.handle_error)

        def handle(self):
            if not state.get("ftp_no_greeting"):
                return super().handle()
            self.on_connect()
            self._mute = True
            if self._idler is not None and not self._idler.cancelled:
                self._idler.cancel()
            self._mute_watch = self.ioloop.call_every(
                0.2, self._close_after_reset, state.generation, _errback=self.handle_error)

        def _close_after_reset(self, generation):
            if state.generation != generation:
                self.close()

        def collect_incoming_data(self, data):
            if not self._mute:
                super().collect_incoming_data(data)

        def found_terminator(self):
            self._last_command = time.monotonic()
            if not self._mute:
                super().found_terminator()

        def respond(self, resp, logfun=logging.debug):
            if state.get("ftp_drop_before_226") and resp.startswith("226 Transfer"):
                # The file is whole on disk by now; only the word of it is lost.
                self.ioloop.call_later(0, self.close, _errback=self.handle_error)
                return None
            if state.get("ftp_log_replies"):
                state.record("FTP < " + one_line(resp))
            return super().respond(resp, logfun)

        def ftp_PORT(self, line):
            return self._active(super().ftp_PORT, line)

        def ftp_EPRT(self, line):
            return self._active(super().ftp_EPRT, line)

        def _active(self, command, line):
            if state.get("ftp_active_off"):
                self.respond("500 Active mode is switched off here; use passive mode.")
                return
            if state.get("ftp_no_connect_back"):
                # The address is checked as usual; the connection then never comes.
                saved = self.active_dtp
                self.active_dtp = lambda ip, port, handler: handler.respond(
                    "200 Active data connection established.")
                try:
                    return command(line)
                finally:
                    self.active_dtp = saved
            return command(line)

        def ftp_EPSV(self, line):
            if state.get("ftp_no_epsv"):
                self.respond("500 Command EPSV not understood.")
                return
            return super().ftp_EPSV(line)

        def ftp_PASV(self, line):
            self.masquerade_address = state.get("ftp_pasv_address", None)
            return super().ftp_PASV(line)

        def pre_process_command(self, line, cmd, arg):
            shown = "PASS ****" if cmd == "PASS" else line
            state.record("FTP " + one_line(shown))
            return super().pre_process_command(line, cmd, arg)

        def ftp_CWD(self, path):
            if state.get("ftp_refuse_root_cwd") and self.fs.fs2ftp(path) == "/":
                self.respond("550 No such directory.")
                return
            if state.get("ftp_refuse_folders") and self.fs.fs2ftp(path) != "/":
                self.respond("550 No such directory.")
                return
            return super().ftp_CWD(path)

        def ftp_RNFR(self, path):
            if state.get("ftp_refuse_rename"):
                self.respond("550 Permission denied.")
                return
            return super().ftp_RNFR(path)

        def ftp_DELE(self, path):
            if state.get("ftp_refuse_delete"):
                self.respond("550 Permission denied.")
                return
            return super().ftp_DELE(path)

        def ftp_MKD(self, path):
            if state.get("ftp_refuse_folders"):
                self.respond("550 Permission denied.")
                return
            return super().ftp_MKD(path)

        def ftp_STOR(self, file, mode="w"):
            if state.get("ftp_fail_put"):
                if self.data_channel is not None:
                    self.data_channel.close()
                self.respond("552 Quota exceeded.")
                return
            stall = state.get("ftp_stall")
            if stall:
                self._stall_timer = self.ioloop.call_later(
                    stall, self._resume_stor, file, mode, _errback=self.handle_error)
                return
            return super().ftp_STOR(file, mode)

        def _resume_stor(self, file, mode):
            self._stall_timer = None
            if not self._closed and self.connected:
                FTPHandler.ftp_STOR(self, file, mode)

        def ftp_SIZE(self, path):
            if state.get("ftp_no_size"):
                self.respond("502 Command not implemented.")
                return
            if state.get("ftp_size_reply", ""):
                self.respond(state.get("ftp_size_reply"))
            else:
                super().ftp_SIZE(path)
            if state.get("ftp_drop_after_size"):
                self.close_when_done()

        def on_file_received(self, file):
            if state.get("ftp_discard_put"):
                os.remove(file)
            if state.get("ftp_truncate_put"):
                size = os.path.getsize(file)
                with open(file, "r+b") as stored:
                    stored.truncate(size // 2)

        def close(self):
            for timer in (getattr(self, "_stall_timer", None), self._mute_watch,
                          self._link_timer, getattr(self, "_idle_watch", None)):
                if timer is not None and not timer.cancelled:
                    timer.cancel()
            self._stall_timer = None
            self._mute_watch = None
            self._link_timer = None
            self._link_queue = None
            super().close()

    return DealerFTPHandler


def write_atomically(path, text):
    folder = os.path.dirname(os.path.abspath(path))
    os.makedirs(folder, exist_ok=True)
    fd, temp = tempfile.mkstemp(dir=folder, prefix=".state-")
    with os.fdopen(fd, "w") as out:
        out.write(text)
    os.replace(temp, path)


def serve(args):
    logging.basicConfig(level=logging.WARNING, stream=sys.stderr)
    own_root = args.root is None
    root = tempfile.mkdtemp(prefix="kiv-ftp-") if own_root else os.path.abspath(args.root)
    os.makedirs(root, exist_ok=True)
    state = State(root, initial_switches(args))

    authorizer = SwitchableAuthorizer(state)
    authorizer.add_user(args.user, args.password, root, perm="elradfmwMT")
    handler = make_ftp_handler(state)
    handler.authorizer = authorizer
    host = args.host
    ftp = FTPServer((host, 0), handler)
    web = QuietHTTPServer((host, 0), make_web_handler(state))
    proxy = QuietHTTPServer((host, 0), make_proxy_handler(state))

    # No poll time-out: the loop then wakes when its next timer is due, which
    # the reply delays and rate limits rely on.
    ftp_thread = threading.Thread(target=ftp.serve_forever,
                                  kwargs={"timeout": None, "handle_exit": False}, daemon=True)
    web_thread = threading.Thread(target=web.serve_forever, kwargs={"poll_interval": 0.2},
                                  daemon=True)
    proxy_thread = threading.Thread(target=proxy.serve_forever, kwargs={"poll_interval": 0.2},
                                    daemon=True)
    ftp_thread.start()
    web_thread.start()
    proxy_thread.start()

    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stop.set())
    signal.signal(signal.SIGINT, lambda *_: stop.set())

    info = {"host": host, "http_port": web.server_address[1], "ftp_port": ftp.address[1],
            "proxy_port": proxy.server_address[1], "ftp_root": root, "pid": os.getpid(),
            "user": args.user, "password": args.password}
    write_atomically(args.state, json.dumps(info, indent=1) + "\n")
    print("dealer servers ready: %s" % describe(info), flush=True)

    while not stop.wait(0.5):
        pass
    web.shutdown()
    proxy.shutdown()
    try:
        with open(args.state) as current:
            if json.load(current).get("pid") == os.getpid():
                os.remove(args.state)
    except (OSError, ValueError):
        pass
    if own_root:
        shutil.rmtree(root, ignore_errors=True)
    return 0


def in_url(host):
    return "[%s]" % host if ":" in host else host


def describe(info):
    host = in_url(info.get("host", DEFAULT_HOST))
    return "web http://%s:%d ftp %s:%d proxy http://%s:%d" % (
        host, info["http_port"], host, info["ftp_port"], host, info["proxy_port"])


def read_state(path):
    try:
        with open(path) as source:
            return json.load(source)
    except (OSError, ValueError):
        return None


def is_our_server(pid):
    try:
        with open("/proc/%d/cmdline" % pid, "rb") as source:
            return b"dealer_servers.py" in source.read()
    except OSError:
        return False


def terminate(pid):
    if not is_our_server(pid):
        return
    os.kill(pid, signal.SIGTERM)
    deadline = time.monotonic() + 5
    while time.monotonic() < deadline:
        if not is_our_server(pid):
            return
        time.sleep(0.05)
    os.kill(pid, signal.SIGKILL)


def start(args):
    old = read_state(args.state)
    if old and isinstance(old.get("pid"), int):
        terminate(old["pid"])
    try:
        os.remove(args.state)
    except FileNotFoundError:
        pass
    folder = os.path.dirname(os.path.abspath(args.state))
    os.makedirs(folder, exist_ok=True)
    log_path = os.path.join(folder, "dealer-servers.log")
    command = [sys.executable, os.path.abspath(__file__), "serve", "--state", args.state,
               "--host", args.host, "--user", args.user, "--password", args.password]
    if args.root:
        command += ["--root", args.root]
    if args.configure:
        command += ["--configure", args.configure]
    with open(log_path, "ab") as log:
        child = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=log, stderr=log,
                                 start_new_session=True, close_fds=True)
    deadline = time.monotonic() + READY_TIMEOUT
    while time.monotonic() < deadline:
        info = read_state(args.state)
        if info and info.get("pid") == child.pid:
            print("dealer servers ready: %s (pid %d)" % (describe(info), child.pid))
            return 0
        if child.poll() is not None:
            print("dealer servers exited with status %d before they were ready; see %s"
                  % (child.returncode, log_path), file=sys.stderr)
            return 1
        time.sleep(0.05)
    child.kill()
    print("dealer servers not ready within %d s; see %s" % (READY_TIMEOUT, log_path),
          file=sys.stderr)
    return 1


def stop(args):
    info = read_state(args.state)
    if not info:
        print("no dealer servers recorded in %s" % args.state)
        return 0
    if isinstance(info.get("pid"), int):
        terminate(info["pid"])
    try:
        os.remove(args.state)
    except FileNotFoundError:
        pass
    print("dealer servers stopped")
    return 0


def initial_switches(args):
    return urllib.parse.parse_qsl(args.configure or "", keep_blank_values=True)


def main():
    parser = argparse.ArgumentParser(description="Stand-in dealer web and FTP servers.")
    commands = parser.add_subparsers(dest="command", required=True)
    for name in ("serve", "start", "stop"):
        sub = commands.add_parser(name)
        sub.add_argument("--state", required=True, help="JSON file describing the servers")
        if name != "stop":
            sub.add_argument("--root", help="FTP root folder (default: a new temporary one)")
            sub.add_argument("--host", default=DEFAULT_HOST,
                             help="address to serve on (default %s; ::1 for IPv6 loopback)"
                                  % DEFAULT_HOST)
            sub.add_argument("--user", default=DEFAULT_USER)
            sub.add_argument("--password", default=DEFAULT_PASSWORD)
            sub.add_argument("--configure", metavar="QUERY",
                             help="switches to start with and to go back to on reset, "
                                  "e.g. link_delay=0.05&link_rate=1250000")
    args = parser.parse_args()
    if args.command != "stop":
        try:
            parse_switches(initial_switches(args))
        except ValueError as error:
            parser.error("--configure: %s" % error)
    return {"serve": serve, "start": start, "stop": stop}[args.command](args)


if __name__ == "__main__":
    sys.exit(main())
