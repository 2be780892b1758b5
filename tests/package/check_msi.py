#!/usr/bin/python3
"""The Windows installer as a dealer's IT admin meets it, under Wine.

In a new Wine prefix: msiexec /i /qn; the files, the Start-menu shortcut and
the control's registration in both registry views; the registered control
created by name from the script host of each bitness (upload.vbs against the
stand-in dealer servers); the installed window started; msiexec /x /qn; then
nothing of the product left in Program Files, the Start menu or the registry.
One line per check; exit status 1 when any failed.

  check_msi.py --msi dist/kivPhotoUpload-V.msi --wine-run scripts/wine-run --prefix DIR
               --state SERVERS_STATE --photo-writer kiv_write_photo.exe --work DIR
"""
import argparse
import os
import shutil
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
CLSID = "{57C119E6-3EBF-4ACE-A8E0-0C30DC11F058}"
LIBID = "{12863A77-9556-410A-B88A-FBAF749D0EE2}"
IID = "{239AAE8D-F3A2-4303-9AC1-EE84CC2F7227}"
DIID = "{29A2DE10-2331-45AD-A75A-1D2BDCBAE088}"
PROGID = "KIVPhotoUpload.Upload"
# Every key the product could leave, looked at in both registry views.
PRODUCT_KEYS = ["HKLM\\Software\\Classes\\CLSID\\" + CLSID, "HKLM\\Software\\Classes\\" + PROGID,
                "HKLM\\Software\\Classes\\TypeLib\\" + LIBID, "HKLM\\Software\\Classes\\Interface\\" + IID,
                "HKLM\\Software\\Classes\\Interface\\" + DIID, "HKCU\\Software\\Classes\\CLSID\\" + CLSID,
                "HKCU\\Software\\Classes\\" + PROGID, "HKLM\\Software\\kivPhotoUpload",
                "HKCU\\Software\\kivPhotoUpload"]
# Texts that name the product anywhere in an exported hive.
PRODUCT_MARKS = ["kivphotoupload", CLSID.lower(), LIBID.lower()]

failures = []


def expect(condition, what):
    print(("ok   " if condition else "FAIL ") + what, flush=True)
    if not condition:
        failures.append(what)


def wine(args, *command, check=True):
    done = subprocess.run([args.wine_run] + list(command), capture_output=True, text=True, errors="replace",
                          timeout=300)
    if check and done.returncode != 0:
        print("%s: exit status %d\n%s%s" % (" ".join(command), done.returncode, done.stdout, done.stderr))
    return done


def settle():
    """Waits until every program of the prefix has ended (msiexec hands work to its service)."""
    subprocess.run([wineserver(), "-w"], timeout=300, check=False)


def wineserver():
    for path in ("/usr/lib/wine/wineserver64", "/usr/lib/wine/wineserver"):
        if os.path.exists(path):
            return path
    return shutil.which("wineserver")


def drive_c(args, *parts):
    return os.path.join(args.prefix, "drive_c", *parts)


def shortcuts(args):
    found = []
    for base in (drive_c(args, "ProgramData"), drive_c(args, "users")):
        for folder, _, files in os.walk(base):
            found += [os.path.join(folder, name) for name in files if name.lower() == "kivphotoupload.lnk"]
    return found


def key_exists(args, key, bits):
    return wine(args, "reg", "query", key, "/reg:%d" % bits, check=False).returncode == 0


def value(args, key, bits):
    done = wine(args, "reg", "query", key, "/ve", "/reg:%d" % bits, check=False)
    for line in done.stdout.splitlines():
        if "REG_SZ" in line:
            return line.split("REG_SZ", 1)[1].strip()
    return None


def product_marks(args):
    """Lines of the exported registry, both hives and both views, naming the product."""
    found = []
    for hive in ("HKLM\\Software", "HKCU\\Software"):
        for bits in (64, 32):
            path = os.path.join(args.work, "export.reg")
            wine(args, "reg", "export", hive, "Z:" + path.replace("/", "\\"), "/y", "/reg:%d" % bits)
            with open(path, "rb") as source:
                text = source.read().decode("utf-16", errors="replace").lower()
            found += ["%s (%d-bit view): %s" % (hive, bits, line.strip()) for line in text.splitlines()
                      if any(mark in line for mark in PRODUCT_MARKS)]
    return found


def main():
    parser = argparse.ArgumentParser()
    for option in ("--msi", "--wine-run", "--prefix", "--state", "--photo-writer", "--work"):
        parser.add_argument(option, required=True)
    args = parser.parse_args()
    os.environ["WINEPREFIX"] = args.prefix
    shutil.rmtree(args.prefix, ignore_errors=True)
    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)
    wine(args, "wineboot", "--init")
    settle()
    wow64 = os.path.exists("/usr/lib/wine/wine")
    msi = "Z:" + os.path.abspath(args.msi).replace("/", "\\")

    done = wine(args, "msiexec", "/i", msi, "/qn")
    settle()
    expect(done.returncode == 0, "msiexec /i /qn installs")
    folder64 = drive_c(args, "Program Files", "kivPhotoUpload")
    folder32 = drive_c(args, "Program Files (x86)", "kivPhotoUpload")
    for name in ("kivPhotoUpload.dll", "kivphoto.exe", "kivphoto-desktop.exe"):
        expect(os.path.isfile(os.path.join(folder64, name)), "Program Files\\kivPhotoUpload\\" + name)
    expect(os.listdir(folder32) == ["kivPhotoUpload.dll"] if os.path.isdir(folder32) else False,
           "Program Files (x86)\\kivPhotoUpload holds the 32-bit control alone")
    expect(len(shortcuts(args)) == 1, "one Start-menu shortcut: %s" % shortcuts(args))
    for bits, folder in ((64, "C:\\Program Files\\kivPhotoUpload"), (32, "C:\\Program Files (x86)\\kivPhotoUpload")):
        server = value(args, "HKLM\\Software\\Classes\\CLSID\\%s\\InprocServer32" % CLSID, bits)
        expect(server == folder + "\\kivPhotoUpload.dll", "the %d-bit view's class names %s" % (bits, server))
        library = value(args, "HKLM\\Software\\Classes\\TypeLib\\%s\\1.0\\0\\win%d" % (LIBID, bits), bits)
        expect(library == folder + "\\kivPhotoUpload.dll", "the type library's win%d names %s" % (bits, library))
        expect(value(args, "HKLM\\Software\\Classes\\%s\\CLSID" % PROGID, bits) == CLSID,
               "the %d-bit view's ProgID leads to the class" % bits)

    for bits, folder in ((64, folder64), (32, folder32)):
        if bits == 32 and not wow64:
            print("skipped: the 32-bit script host (Wine's 32-bit half, wine32:i386, is not installed)")
            continue
        done = subprocess.run(["/usr/bin/python3", os.path.join(ROOT, "tests/control/windows/com_script_test.py"),
                               "vbscript", "--registered", "--wine-run", args.wine_run,
                               "--dll", os.path.join(folder, "kivPhotoUpload.dll"),
                               "--script", os.path.join(ROOT, "tests/control/windows/upload.vbs"),
                               "--photo-writer", args.photo_writer, "--state", args.state,
                               "--work", os.path.join(args.work, "script%d" % bits)],
                              capture_output=True, text=True, errors="replace", timeout=600)
        expect(done.returncode == 0, "the %d-bit script host creates %s and sends a photo with it" % (bits, PROGID))
        if done.returncode != 0:
            print(done.stdout + done.stderr)

    # A Wine session binds to the X display of its first window: the window
    # gets a session of its own on the private display.
    subprocess.run([wineserver(), "-k"], check=False)
    done = subprocess.run([os.path.join(ROOT, "tests/win32/desktop_run.sh"), "express",
                           os.path.join(folder64, "kivphoto-desktop.exe"), args.state,
                           os.path.join(args.work, "installed_window.png")],
                          capture_output=True, text=True, errors="replace", timeout=600)
    expect(done.returncode == 0, "the installed window starts, sends and closes: " + done.stdout.strip())
    settle()

    done = wine(args, "msiexec", "/x", msi, "/qn")
    settle()
    expect(done.returncode == 0, "msiexec /x /qn removes")
    expect(not os.path.exists(folder64), "Program Files\\kivPhotoUpload is gone")
    expect(not os.path.exists(folder32), "Program Files (x86)\\kivPhotoUpload is gone")
    expect(not shortcuts(args), "the Start-menu shortcut is gone")
    left = [key + " (%d-bit view)" % bits for key in PRODUCT_KEYS for bits in (64, 32) if key_exists(args, key, bits)]
    expect(not left, "no product key is left among %d looked at: %s" % (len(PRODUCT_KEYS) * 2, left))
    marks = product_marks(args)
    expect(not marks, "nothing in HKLM\\Software or HKCU\\Software names the product: %s" % marks[:5])

    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
