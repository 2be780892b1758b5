#!/usr/bin/python3
"""The registered control from outside, under Wine, as an administrator meets it.

registration: regsvr32 enters the class for the machine and /u removes it;
              regsvr32 /n /i:user enters it for the user alone and /u /n /i:user
              removes that. Nothing of the class is left in either hive.
vbscript:     regsvr32, then the script host runs upload.vbs against the stand-in
              dealer servers; its output and the servers' request log are checked.
              With --registered the DLL is taken as registered already (by the
              installer) and left so.

Each runs the regsvr32 and the script host of the DLL's own bitness: system32's
for a 64-bit DLL, syswow64's for a 32-bit one, as on 64-bit Windows.
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
    """The key and everything under it, in the registry view of the DLL's bitness."""
    done = wine(args, ["reg", "query", key, "/s", "/reg:%d" % bits(args.dll)], check=False)
    return done.returncode == 0, done.stdout


def leftovers(args):
    rest = []
    for hive in (USER_CLASSES, MACHINE_CLASSES):
        for tree in TREES:
            found, text = query(args, hive + "\\" + tree)
            if found:
                rest.append(hive + "\\" + tree)
    return rest


def bits(dll):
    """32 or 64, from the PE header's machine field."""
    with open(dll, "rb") as source:
        data = source.read(4096)
    at = struct.unpack("<I", data[0x3C:0x40])[0]
    return 64 if struct.unpack("<H", data[at + 4:at + 6])[0] == 0x8664 else 32


def system_tool(args, name):
    """A system program of the DLL's own bitness, as 64-bit Windows keeps them."""
    return "C:\\windows\\%s\\%s" % ("system32" if bits(args.dll) == 64 else "syswow64", name)


def expect_registered(args, classes, dll, where):
    found, text = query(args, classes + "\\CLSID\\" + CLSID)
    expect(found, "the class key exists " + where)
    expect(dll.lower() in text.lower(), "InprocServer32 names the DLL " + where)
    expect("Apartment" in text, "ThreadingModel is Apartment " + where)
    expect(PROGID in text and LIBID in text, "ProgID and TypeLib are recorded " + where)
    expect("\\Control" in text and "\\Insertable" in text, "Control and Insertable markers exist " + where)
    found, text = query(args, classes + "\\" + PROGID)
    expect(found and CLSID in text, "the ProgID leads to the class " + where)
    found, text = query(args, classes + "\\TypeLib\\" + LIBID)
    platform = "win%d" % bits(args.dll)
    expect(found and platform in text and dll.lower() in text.lower(), "the type library is registered " + where)


def registration(args):
    dll = windows_path(args.dll)
    regsvr32 = system_tool(args, "regsvr32.exe")
    wine(args, [regsvr32, "/s", dll])
    expect_registered(args, MACHINE_CLASSES, dll, "for the machine")
    found, _ = query(args, USER_CLASSES + "\\CLSID\\" + CLSID)
    expect(not found, "nothing is written for the user")
    wine(args, [regsvr32, "/u", "/s", dll])
    rest = leftovers(args)
    expect(not rest, "nothing of the class is left: %s" % rest)

    wine(args, [regsvr32, "/s", "/n", "/i:user", dll])
    expect_registered(args, USER_CLASSES, dll, "for the user")
    found, _ = query(args, MACHINE_CLASSES + "\\CLSID\\" + CLSID)
    expect(not found, "nothing is written for the machine")
    wine(args, [regsvr32, "/u", "/s", "/n", "/i:user", dll])
    rest = leftovers(args)
    expect(not rest, "nothing of the per-user class is left: %s" % rest)


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
    regsvr32 = system_tool(args, "regsvr32.exe")
    if not args.registered:
        wine(args, [regsvr32, "/s", dll])
    try:
        done = wine(args, [system_tool(args, "cscript.exe"), "//nologo", windows_path(args.script), web,
                           "127.0.0.1:%d" % state["ftp_port"], state["user"], state["password"],
                           windows_path(photo)], check=False)
    finally:
        if not args.registered:
            wine(args, [regsvr32, "/u", "/s", dll])
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
    if not args.registered:
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
    parser.add_argument("--registered", action="store_true")
    args = parser.parse_args()
    registration(args) if args.mode == "registration" else vbscript(args)
    if failures:
        print("%d check(s) failed" % len(failures))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
