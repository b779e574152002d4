#!/usr/bin/env python3
"""Looks a business up through Delvan.dll from Python on Windows.

Delvan.dll is a 32-bit library, so this needs a 32-bit Python for Windows.
The export is stdcall, which ctypes calls through WinDLL:

    python lookup_win.py [--dll PATH] AFM_CALLED_BY AFM_CALLED_FOR USERNAME

The password is asked for without echo (or read from the environment
variable DELVAN_PASSWORD). The answer is printed one item per line; a failed
lookup prints the failure's message and exits with status 1.

    python lookup_win.py --parse FILE

splits a result text saved in FILE (bytes in the system ANSI code page) the
same way, on any system: the part of this script that needs no Windows.
"""
import argparse
import ctypes
import getpass
import os
import sys

# The failure text starts with this sentence: code page 1253, CR LF.
FAILURE_SENTENCE = bytes.fromhex(
    "D0E1F1EFF5F3E9DCF3F4E7EAE520F3F6DCEBECE120EAE1F4E120F4E7ED20E1EDDCEAF4E7"
    "F3E720F3F4EFE9F7E5DFF9ED20E1F0EF20F4EF2054415849530D0A")


def split_items(text):
    """Splits a result text into (name, value) pairs: items are separated by
    ";" and an item that holds a quote, a semicolon, a space or a control
    character is written between double quotes, inner quotes doubled."""
    items, i, n = [], 0, len(text)
    while i < n:
        if text[i] == '"':
            i += 1
            item = []
            while i < n:
                if text[i] == '"':
                    if i + 1 < n and text[i + 1] == '"':
                        item.append('"')
                        i += 2
                        continue
                    i += 1
                    break
                item.append(text[i])
                i += 1
            item = "".join(item)
        else:
            end = text.find(";", i)
            end = n if end < 0 else end
            item, i = text[i:end], end
        if i < n and text[i] == ";":
            i += 1
        name, _, value = item.partition("=")
        items.append((name, value))
    return items


def ansi_code_page():
    """The codec of the system ANSI code page ("mbcs" on Windows)."""
    return "mbcs" if sys.platform == "win32" else "cp1253"


def show(raw, out=sys.stdout):
    """Prints a returned text; returns the exit status."""
    if raw.startswith(FAILURE_SENTENCE):
        message = raw[len(FAILURE_SENTENCE):].decode(ansi_code_page(), "replace")
        print(FAILURE_SENTENCE.decode("cp1253").rstrip(), file=out)
        print(message, file=out)
        return 1
    for name, value in split_items(raw.decode(ansi_code_page(), "replace")):
        print("%s=%s" % (name, value), file=out)
    return 0


def check_python():
    if not hasattr(ctypes, "WinDLL"):
        sys.exit("lookup_win.py: calling Delvan.dll needs Python for Windows")
    if ctypes.sizeof(ctypes.c_void_p) != 4:
        sys.exit("lookup_win.py: Delvan.dll is 32-bit; run a 32-bit Python")


def lookup(dll_path, afm_called_by, afm_called_for, username, password):
    # The library never initialises COM itself: the calling thread must.
    ctypes.windll.ole32.CoInitializeEx(None, 2)  # COINIT_APARTMENTTHREADED
    delvan = ctypes.WinDLL(dll_path)  # stdcall: the library pops its 16 bytes
    run = delvan.RunWSOrvDLL
    run.argtypes = [ctypes.c_char_p] * 4
    run.restype = ctypes.c_char_p  # owned by the library; copied at once
    code = ansi_code_page()
    # Tax registration numbers in the ANSI code page, credentials as UTF-8.
    return run(afm_called_by.encode(code), afm_called_for.encode(code),
               username.encode("utf-8"), password.encode("utf-8"))


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--dll", default="Delvan.dll")
    parser.add_argument("--parse", metavar="FILE")
    parser.add_argument("args", nargs="*")
    options = parser.parse_args(argv)
    if options.parse:
        with open(options.parse, "rb") as f:
            return show(f.read())
    if len(options.args) != 3:
        parser.error("give AFM_CALLED_BY AFM_CALLED_FOR USERNAME")
    check_python()
    password = os.environ.get("DELVAN_PASSWORD")
    if password is None:
        password = getpass.getpass("password: ")
    return show(lookup(options.dll, *options.args, password))


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
