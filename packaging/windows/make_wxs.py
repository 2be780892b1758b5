#!/usr/bin/python3
"""Writes the WiX source of the Windows installer.

The control's registration keys come from the control itself: its
DllRegisterServer runs under Wine (regsvr32 in the given prefix), and the keys
it added to HKEY_LOCAL_MACHINE\\Software\\Classes become rows of the installer's
Registry table, as WiX's heat harvests a self-registering DLL. So the
installer registers per machine without running any code of ours, writes each
bitness into its own registry view, and its uninstall removes exactly those
keys. The 32-bit control's rows are the 64-bit ones with its own file and the
type library's win32 key.

  make_wxs.py --version 2.2.1 --dll64 ... --dll32 ... --kivphoto ... --desktop ...
              --wine-run scripts/wine-run --output kivPhotoUpload.wxs
($WINEPREFIX names the prefix to register in; it is left as it was found.)
"""
import argparse
import os
import re
import subprocess
import sys
import tempfile
from xml.sax.saxutils import quoteattr

CLASSES = "HKEY_LOCAL_MACHINE\\Software\\Classes"
# Fixed for the life of the product: Windows Installer tells versions of the
# product and its components apart by these.
UPGRADE_CODE = "1912A079-C6F4-40F9-A2D2-3A6821AF8B4F"
COMPONENT_GUIDS = {
    "Control64": "65B02906-1D93-4895-8F77-F24F7C05DC1F",
    "Control32": "F56BE62C-7C1E-42EE-8B86-F3CA0D9CB475",
    "Terminal": "A4AB588A-DA6D-4524-A4B8-7EC025E65053",
    "Window": "B34EE107-BFB5-4619-A0CA-4C241272736A",
}


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def wine(args, *command):
    done = subprocess.run([args.wine_run] + list(command), capture_output=True, text=True, errors="replace",
                          timeout=300)
    if done.returncode != 0:
        sys.exit("make_wxs: %s failed (%d): %s%s" % (" ".join(command), done.returncode, done.stdout, done.stderr))


def read_reg(path):
    """{key: {value name ('' for the default): raw data}} of a regedit export."""
    with open(path, "rb") as source:
        text = source.read().decode("utf-16")
    keys, key, pending = {}, None, ""
    for line in text.splitlines():
        line = pending + line
        if line.endswith("\\"):
            pending = line[:-1]
            continue
        pending = ""
        if line.startswith("[") and line.endswith("]"):
            key = line[1:-1]
            keys[key] = {}
        elif key is not None and line:
            match = re.match(r'^(@|"(?:[^"\\]|\\.)*")=(.*)$', line)
            if match:
                name = "" if match.group(1) == "@" else unescape(match.group(1)[1:-1])
                keys[key][name] = match.group(2)
    return keys


def unescape(text):
    return re.sub(r"\\(.)", r"\1", text)


def harvest(args):
    """The keys and values registration adds under the machine's classes."""
    with tempfile.TemporaryDirectory() as work:
        before, after = os.path.join(work, "before.reg"), os.path.join(work, "after.reg")
        # A registration an interrupted test left behind would hide in "before".
        wine(args, "C:\\windows\\system32\\regsvr32.exe", "/u", "/s", windows_path(args.dll64))
        wine(args, "reg", "export", CLASSES, windows_path(before), "/y", "/reg:64")
        wine(args, "C:\\windows\\system32\\regsvr32.exe", "/s", windows_path(args.dll64))
        try:
            wine(args, "reg", "export", CLASSES, windows_path(after), "/y", "/reg:64")
        finally:
            wine(args, "C:\\windows\\system32\\regsvr32.exe", "/u", "/s", windows_path(args.dll64))
        old, new = read_reg(before), read_reg(after)
    added = {}
    for key, values in new.items():
        # The 64-bit export also shows the 32-bit view, under Wow6432Node.
        if "\\wow6432node\\" in key.lower() + "\\":
            continue
        fresh = {name: data for name, data in values.items() if old.get(key, {}).get(name) != data}
        if key not in old or fresh:
            added[key] = fresh
    if not added:
        sys.exit("make_wxs: registering %s added no key" % args.dll64)
    return added


def registry_rows(added, dll, file_id, folder_id, platform):
    """Registry elements for one bitness: every harvested value, every key that
    holds none, and for each tree registration started (a key whose parent was
    there before) a row that removes the whole tree on uninstall."""
    module = windows_path(dll)
    folder = module[:module.rfind("\\")]
    rows = []
    for key in sorted(added):
        relative = key[len(CLASSES) + 1:]
        relative = re.sub(r"\\0\\win64$", "\\\\0\\\\" + platform, relative)
        path = "Software\\Classes\\" + relative
        parent = key[:key.rfind("\\")]
        if parent not in added:
            rows.append((path, "*", None))
        if not added[key] and not any(k.startswith(key + "\\") for k in added):
            rows.append((path, "+", None))
        for name, data in sorted(added[key].items()):
            if not (data.startswith('"') and data.endswith('"')):
                sys.exit("make_wxs: %s\\%s is not a text value: %s" % (key, name, data))
            value = unescape(data[1:-1])
            # The build's paths become the installed ones.
            if value.lower() == module.lower():
                value = "[#%s]" % file_id
            elif value.lower() == folder.lower():
                value = "[%s]" % folder_id
            elif "[" in value or "]" in value or value.startswith("#"):
                sys.exit("make_wxs: %s holds text Windows Installer would read as a formula: %s" % (key, value))
            rows.append((path, name, value))
    lines = []
    for path, name, value in rows:
        attributes = 'Root="HKLM" Key=%s' % quoteattr(path)
        if name:
            attributes += " Name=%s" % quoteattr(name)
        attributes += ' Type="string" Value=%s' % quoteattr(value or "")
        lines.append("        <RegistryValue %s/>" % attributes)
    return "\n".join(lines)


def main():
    parser = argparse.ArgumentParser()
    for option in ("--version", "--dll64", "--dll32", "--kivphoto", "--desktop", "--wine-run", "--output"):
        parser.add_argument(option, required=True)
    args = parser.parse_args()
    added = harvest(args)
    with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "kivPhotoUpload.wxs.in")) as source:
        text = source.read()
    substitutions = {
        "VERSION": args.version,
        "UPGRADE_CODE": UPGRADE_CODE,
        # wixl takes sources relative to the folder it runs in.
        "DLL64": args.dll64,
        "DLL32": args.dll32,
        "KIVPHOTO": args.kivphoto,
        "DESKTOP": args.desktop,
        "REGISTRY64": registry_rows(added, args.dll64, "Dll64", "INSTALLDIR64", "win64"),
        "REGISTRY32": registry_rows(added, args.dll64, "Dll32", "INSTALLDIR32", "win32"),
    }
    substitutions.update({"GUID_" + name.upper(): guid for name, guid in COMPONENT_GUIDS.items()})
    text = re.sub(r"@(\w+)@", lambda match: substitutions[match.group(1)], text)
    with open(args.output, "w") as out:
        out.write(text)


if __name__ == "__main__":
    main()
