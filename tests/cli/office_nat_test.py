#!/usr/bin/python3
"""kivphoto in a dealer's office behind a NAT router, built from network namespaces:

  office 10.200.0.2 --- 10.200.0.1 router 10.201.0.1 --- 10.201.0.2 dealer servers
                         (MASQUERADE, no FTP helper)

The servers see the router's address; a PORT or EPRT naming the office's
private address is refused, as on the internet, and nothing routes back into
the office. kivphoto uploads three photos from the office: all are stored, none
are left, and it says once that it switched to passive mode.

Everything stays inside the namespaces made here, which go when the test ends.
Without root, or where namespaces or NAT cannot be made, the test says why and
exits 77, which CTest reports as skipped.

Usage: office_nat_test.py --program KIVPHOTO [--wine WINE_RUN]
  --wine   KIVPHOTO is kivphoto.exe, run by this script under Wine; $WINEPREFIX
           names the prefix, whose wineserver is restarted inside the office
           (Wine makes a program's sockets in its wineserver)
"""
import argparse
import json
import os
import shutil
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SERVERS = os.path.join(ROOT, "testing", "dealer_servers.py")
PYTHON = "/usr/bin/python3"
SKIPPED = 77
OFFICE_ADDRESS = "10.200.0.2"
SERVER_ADDRESS = "10.201.0.2"
PHOTOS = 3
SWITCH_LINE = "kivphoto: the FTP server refused active mode; sending in passive mode"


class Skip(Exception):
    pass


def run(*command, check=True, **kwargs):
    return subprocess.run(command, check=check, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                          text=True, **kwargs)


class Network:
    """The three namespaces and their links; removed again by close()."""

    def __init__(self):
        tag = str(os.getpid())
        self.office, self.router, self.servers = ("kiv%s-%s" % (role, tag)
                                                  for role in ("office", "router", "servers"))
        self.made = []

    def make(self):
        if os.geteuid() != 0:
            raise Skip("network namespaces need root")
        for name in (self.office, self.router, self.servers):
            try:
                run("ip", "netns", "add", name)
            except (OSError, subprocess.CalledProcessError) as error:
                raise Skip("cannot make a network namespace: %s" % describe(error))
            self.made.append(name)
            self.inside(name, "ip", "link", "set", "lo", "up")
        try:
            self.inside(self.office, "ip", "link", "add", "lan0", "type", "veth", "peer", "name",
                        "office0", "netns", self.router)
            self.inside(self.servers, "ip", "link", "add", "wan0", "type", "veth", "peer", "name",
                        "internet0", "netns", self.router)
            for namespace, device, address in ((self.office, "lan0", OFFICE_ADDRESS + "/24"),
                                               (self.router, "office0", "10.200.0.1/24"),
                                               (self.router, "internet0", "10.201.0.1/24"),
                                               (self.servers, "wan0", SERVER_ADDRESS + "/24")):
                self.inside(namespace, "ip", "addr", "add", address, "dev", device)
                self.inside(namespace, "ip", "link", "set", device, "up")
            # The office knows the way out; the servers know no way into the office.
            self.inside(self.office, "ip", "route", "add", "default", "via", "10.200.0.1")
            self.inside(self.router, "sysctl", "-qw", "net.ipv4.ip_forward=1")
        except subprocess.CalledProcessError as error:
            raise Skip("cannot link the namespaces: %s" % describe(error))
        try:
            self.inside(self.router, "iptables", "-t", "nat", "-A", "POSTROUTING", "-o", "internet0",
                        "-j", "MASQUERADE")
        except (OSError, subprocess.CalledProcessError) as error:
            raise Skip("cannot set up NAT in the router (iptables): %s" % describe(error))

    def inside(self, namespace, *command, **kwargs):
        return run("ip", "netns", "exec", namespace, *command, **kwargs)

    def close(self):
        for name in self.made:
            run("ip", "netns", "delete", name, check=False)


def describe(error):
    """The last line the failed command printed, or the error itself."""
    lines = (getattr(error, "output", None) or "").strip().splitlines()
    return lines[-1] if lines else str(error)


class Servers:
    """The stand-in dealer servers, started inside the servers' namespace."""

    def __init__(self, network, work):
        self.network = network
        self.state = os.path.join(work, "servers.json")
        network.inside(network.servers, PYTHON, SERVERS, "start", "--host", SERVER_ADDRESS,
                       "--state", self.state)
        with open(self.state) as source:
            self.info = json.load(source)
        self.web = "http://%s:%d" % (SERVER_ADDRESS, self.info["http_port"])
        self.ftp = "%s:%d" % (SERVER_ADDRESS, self.info["ftp_port"])

    def get(self, path):
        fetch = ("import sys, urllib.request\n"
                 "opener = urllib.request.build_opener(urllib.request.ProxyHandler({}))\n"
                 "sys.stdout.write(opener.open(sys.argv[1], timeout=10).read().decode())\n")
        return self.network.inside(self.network.servers, PYTHON, "-c", fetch, self.web + path).stdout

    def stop(self):
        self.network.inside(self.network.servers, PYTHON, SERVERS, "stop", "--state", self.state,
                            check=False)


def wine_server(prefix_environment, *arguments):
    subprocess.run(["/usr/lib/wine/wineserver64", *arguments], env=prefix_environment, check=False,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def upload_from_office(args, network, servers, work):
    dock = os.path.join(work, "dock")
    os.mkdir(dock)
    for i in range(1, PHOTOS + 1):
        run("vips", "black", os.path.join(dock, "IMG_000%d.JPG" % i), "800", "600", "--bands", "3")
    environment = dict(os.environ, KIV_FTP_PASSWORD=servers.info["password"],
                       XDG_CONFIG_HOME=os.path.join(work, "config"))
    for name in ("http_proxy", "https_proxy", "all_proxy", "ftp_proxy"):
        environment.pop(name, None)
        environment.pop(name.upper(), None)
    folder = dock
    command = [args.program]
    if args.wine:
        folder = "Z:" + dock.replace("/", "\\")
        command = [args.wine, args.program]
        # A wineserver started outside would make the program's sockets outside.
        wine_server(environment, "-k")
        wine_server(environment, "-w")
    command += ["--folder", folder, "--vehicle", "5", "--company", "12", "--web", servers.web,
                "--ftp", servers.ftp, "--ftp-user", servers.info["user"], "--width", "320",
                "--height", "240", "upload-all"]
    try:
        finished = subprocess.run(["ip", "netns", "exec", network.office, *command], env=environment,
                                  stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                                  timeout=240)
    finally:
        if args.wine:
            wine_server(environment, "-k")
            wine_server(environment, "-w")
    return finished, dock


def check(finished, dock, servers):
    failures = []
    log = servers.get("/_test/requests").splitlines()
    ftp_log = [line for line in log if line.startswith("FTP ")]
    print("FTP commands the server received:")
    for line in ftp_log:
        print("  " + line)

    def expect(condition, what):
        if not condition:
            failures.append(what)

    expect(finished.returncode == 0, "exit status %d, expected 0" % finished.returncode)
    expect("Sent %d of %d photos; 0 are still in the folder." % (PHOTOS, PHOTOS) in finished.stdout,
           "no summary of every photo sent")
    switch_lines = [line for line in finished.stderr.splitlines() if "passive mode" in line]
    expect(switch_lines == [SWITCH_LINE], "the switch was said %r, expected once" % switch_lines)
    for output in (finished.stdout, finished.stderr):
        expect(servers.info["password"] not in output, "the password was printed")
        expect(OFFICE_ADDRESS not in output, "the office's address was printed")
    expect(os.listdir(dock) == [], "photos left in the office: %s" % os.listdir(dock))
    stored = sorted(os.listdir(os.path.join(servers.info["ftp_root"], "12"))) \
        if os.path.isdir(os.path.join(servers.info["ftp_root"], "12")) else []
    expect(len(stored) == PHOTOS, "the server holds %s" % stored)

    def count(prefix):
        return sum(1 for line in ftp_log if line.startswith("FTP " + prefix))

    active = [line for line in ftp_log if line.startswith(("FTP EPRT", "FTP PORT"))]
    expect(active and all(OFFICE_ADDRESS.replace(".", ",") in line or OFFICE_ADDRESS in line
                          for line in active),
           "active mode was not tried with the office's own address: %s" % active)
    expect(len(active) <= 2, "active mode was tried more than once: %s" % active)
    expect(count("EPSV") + count("PASV") == PHOTOS, "not one passive data connection per photo")
    expect(count("STOR") == PHOTOS, "%d STORs for %d photos" % (count("STOR"), PHOTOS))
    return failures


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--program", required=True)
    parser.add_argument("--wine")
    args = parser.parse_args()

    network = Network()
    work = tempfile.mkdtemp(prefix="kiv-office-")
    servers = None
    try:
        network.make()
        servers = Servers(network, work)
        finished, dock = upload_from_office(args, network, servers, work)
        failures = check(finished, dock, servers)
    except Skip as reason:
        print("skipped: %s" % reason)
        return SKIPPED
    finally:
        if servers:
            servers.stop()
        network.close()
        shutil.rmtree(work, ignore_errors=True)
    if failures:
        print("--- stdout\n%s--- stderr\n%s" % (finished.stdout, finished.stderr))
        for failure in failures:
            print("FAIL: " + failure)
        return 1
    print("%d photos sent from behind the NAT router, in passive mode after one refused try"
          % PHOTOS)
    return 0


if __name__ == "__main__":
    sys.exit(main())
