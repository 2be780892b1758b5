#!/usr/bin/python3
"""The registered control from outside, under Wine.

registration: regsvr32 enters the class for the user and /u removes it, leaving
              nothing of it in the user's classes.
vbscript:     regsvr32, then Wine's cscript runs upload.vbs against the stand-in
              dealer servers; its output and the servers' request log are checked.

Wine 8 looks classes up in HKEY_LOCAL_MACHINE\\Software\\Classes only, where
Windows merges in the user's HKEY_CURRENT_USER\\Software\\Classes. The script
test copies the user's keys there for the run, as Windows' merged view would
show them, and removes the copies afterwards.
"""
import argparse
import json
import os
import struct
import subprocess
import sys
import urllib.request

CLSID = "{57C119E6-3EBF-4ACE-A8E0-0C30DC11F058}"
LIBID = "{12863A77-9556-410A-B88A-FBAF749D0EE2}"
IID = "{239AAE8D-F3A2-4303-9AC1-EE84CC2F7227}"
DIID = "{29A2DE10-2331-45AD-A75A-1D2BDCBAE088}"
PROGID = "KIVPhotoUpload.Upload"
TREES = ["CLSID\\" + CLSID, PROGID, "TypeLib\\" + LIBID, "Interface\\" + IID, "Interface\\" + DIID]
USER_CLASSES = "HKCU\\Software\\Classes"
MACHINE_CLASSES = "HKLM\\Software\\Classes"

failures = []


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def wine(args, wine_args, check=True):
    done = subprocess.run([args.wine_run] + wine_args, capture_output=True, text=True,
                          errors="replace", timeout=240)
    if check and done.returncode != 0:
        raise SystemExit("%s failed (%d): %s%s" % (" ".join(wine_args), done.returncode,
                                                  done.stdout, done.stderr))
    return done


def expect(condition, what):
    print(("ok   " if condition else "FAIL ") + what)
    if not condition:
        failures.append(what)


def query(args, key):
    done = wine(args, ["reg", "query", key, "/s"], check=False)
    return done.returncode == 0, done.stdout


def leftovers(args):
    found, text = query(args, USER_CLASSES)
    names = [CLSID, LIBID, IID, DIID, PROGID]
    return [line.strip() for line in text.splitlines() if any(n.lower() in line.lower() for n in names)]


def registration(args):
    dll = windows_path(args.dll)
    wine(args, ["regsvr32", "/s", dll])
    found, text = query(args, USER_CLASSES + "\\CLSID\\" + CLSID)
    expect(found, "the class key exists")
    expect(dll.lower() in text.lower(), "InprocServer32 names the DLL")
    expect("Apartment" in text, "ThreadingModel is Apartment")
    expect(PROGID in text and LIBID in text, "ProgID and TypeLib are recorded")
    expect("\\Control" in text and "\\Insertable" in text, "Control and Insertable markers exist")
    found, text = query(args, USER_CLASSES + "\\" + PROGID)
    expect(found and CLSID in text, "the ProgID leads to the class")
    found, text = query(args, USER_CLASSES + "\\TypeLib\\" + LIBID)
    expect(found and "win64" in text and dll.lower() in text.lower(), "the type library is registered")
    wine(args, ["regsvr32", "/u", "/s", dll])
    rest = leftovers(args)
    expect(not rest, "nothing of the class is left: %s" % rest)


def jpeg_size(path):
    with open(path, "rb") as source:
        data = source.read()
    at = 2
    while at < len(data):
        marker, length = data[at + 1], struct.unpack(">H", data[at + 2:at + 4])[0]
        if marker in (0xC0, 0xC1, 0xC2):
            height, width = struct.unpack(">HH", data[at + 5:at + 9])
            return width, height
        at += 2 + length
    return None


def vbscript(args):
    with open(args.state) as source:
        state = json.load(source)
    web = "http://127.0.0.1:%d" % state["http_port"]
    urllib.request.urlopen(web + "/_test/reset", timeout=10).read()
    os.makedirs(args.work, exist_ok=True)
    photo = os.path.join(args.work, "car.jpg")
    wine(args, [args.photo_writer, windows_path(photo), "1600", "1200"])

    dll = windows_path(args.dll)
    wine(args, ["regsvr32", "/s", dll])
    try:
        for tree in TREES:
            wine(args, ["reg", "copy", USER_CLASSES + "\\" + tree, MACHINE_CLASSES + "\\" + tree, "/s", "/f"])
        done = wine(args, ["cscript", "//nologo", windows_path(args.script), web,
                           "127.0.0.1:%d" % state["ftp_port"], state["user"], state["password"],
                           windows_path(photo)], check=False)
    finally:
        for tree in TREES:
            wine(args, ["reg", "delete", MACHINE_CLASSES + "\\" + tree, "/f"], check=False)
        wine(args, ["regsvr32", "/u", "/s", dll])
    output = done.stdout.replace("\r\n", "\n")
    print("---- cscript output ----\n" + output + done.stderr + "------------------------")
    # Wine's TypeName names the default interface; Windows' strips its underscore.
    lines = [line.replace("created: _Upload", "created: Upload") for line in output.splitlines()]
    expected = [
        "created: Upload",
        "VehicleID=5 CompanyID=9 IMAGEWIDTH=320 IMAGEHEIGHT=240",
        "kivResizeImages: True",
        "kivFTPUpload: True",
        "IMAGEWIDTH = 40000: error 6: IMAGEWIDTH: Overflow: 40000 is out of range",
        "IMAGEWIDTH=320",
        "oFs is Nothing: False",
        "done",
    ]
    expect(done.returncode == 0, "cscript succeeded")
    expect(lines == expected, "the script printed what was expected")
    size = jpeg_size(photo) if os.path.exists(photo) else None
    expect(size is not None and size[0] <= 320 and size[1] <= 240, "the photo was reduced: %s" % (size,))
    log = urllib.request.urlopen(web + "/_test/requests", timeout=10).read().decode()
    print("---- server requests ----\n" + log + "-------------------------")
    expect(any(line.startswith("WEB GET") and "VID=5" in line for line in log.splitlines()),
           "the photo number was asked for")
    expect(any(line.startswith("FTP STOR") for line in log.splitlines()), "the photo was stored by FTP")
    stored = os.path.join(state["ftp_root"], "9")
    expect(os.path.isdir(stored) and any(name.endswith(".jpg") for name in os.listdir(stored)),
           "the dealer's folder holds the photo")
    expect(not leftovers(args), "nothing of the class is left")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("mode", choices=["registration", "vbscript"])
    parser.add_argument("--wine-run", required=True)
    parser.add_argument("--dll", required=True)
    parser.add_argument("--script")
    parser.add_argument("--photo-writer")
    parser.add_argument("--state")
    parser.add_argument("--work")
    args = parser.parse_args()
    registration(args) if args.mode == "registration" else vbscript(args)
    if failures:
        print("%d check(s) failed" % len(failures))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
