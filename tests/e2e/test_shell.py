"""End-to-end tests of "/register" and "/unregister" under Wine, against its real registry and
shell link object: every key, value, type and byte under both roots (read back with
regdump.exe, which shows a value's stored bytes), the shortcut files parsed here (MS-SHLLINK),
the desktop copies, repetition, removal with nothing registered, odd program directories, and
foreign files in the program group.

Under Wine the all-users Start menu is C:\\ProgramData\\Microsoft\\Windows\\Start Menu and the
all-users desktop C:\\users\\Public\\Desktop (long names; the short ones are hashed)."""
import json
import os
import re
import shutil
import struct
import subprocess

import pytest

import conftest

START_MENU = r"C:\ProgramData\Microsoft\Windows\Start Menu"
GROUP = START_MENU + r"\Programs\Tillwick Orvenda"
DESKTOP = r"C:\users\Public\Desktop"
UNINSTALL = r"SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Tillwick Orvenda"
REGDUMP = conftest.TOOLS_DIR_WIN + r"\regdump.exe"

REG_SZ, REG_BINARY = 1, 3

FILE_TYPES = [
    (".tw", "twfile", "Tillwick Orvenda"),
    (".001", "001file", "Tillwick Orvenda Backup"),
    (".qif", "qiffile", "Tillwick Orvenda"),
    (".bk1", "bk1file", "Tillwick Orvenda Backup File"),
    (".bk2", "bk2file", "Tillwick Orvenda Backup File"),
    (".bk3", "bk3file", "Tillwick Orvenda Backup File"),
]
ROOTS = [("HKCR", ""), ("HKLM", "SOFTWARE\\CLASSES\\")]

# link file, target, arguments, icon file; the program directory for {d}
SHORTCUTS = [
    ("Tillwick Orvenda.lnk", r"{d}\Tillwick.exe", "", r"{d}\Tillwick.ico"),
    ("Tillwick Demo.lnk", r"{d}\Tillwick.exe", "/Demo", r"{d}\Demo.ico"),
    ("Help.lnk", r"{d}\Tillwick.hlp", "", r"{d}\Tillwick.hlp"),
    ("Make Installation Disks.lnk", r"{d}\Disk1\Setup.exe", "/M", r"{d}\Disk.ico"),
    ("UnInstall.lnk", r"{d}\UnInstal.exe", "", r"{d}\UnInstal.ico"),
    ("Email Setup.lnk", r"{d}\Tillwick.exe", "/emailsetup", r"{d}\Tillwick.ico"),
]
DESKTOP_COPIES = ["Tillwick Orvenda.lnk", "Tillwick Demo.lnk"]


def long_directory():
    """A program directory of exactly 200 characters with blanks in it."""
    head = "C:\\Tillwick Orvenda Accounts With A Long Name\\"
    tail = ("Sub Folder " * 20)[:200 - len(head) - 1]
    return head + tail + "x"


# ---------------------------------------------------------------- shell link files

LINK_CLSID = bytes.fromhex("0114020000000000c000000000000046")
HAS_ID_LIST, HAS_LINK_INFO, HAS_NAME, HAS_RELATIVE_PATH = 0x1, 0x2, 0x4, 0x8
HAS_WORKING_DIR, HAS_ARGUMENTS, HAS_ICON_LOCATION, IS_UNICODE = 0x10, 0x20, 0x40, 0x80
# What SetPath, SetArguments and SetIconLocation may set, and the encoding flag.
ALLOWED_FLAGS = HAS_ID_LIST | HAS_LINK_INFO | HAS_ARGUMENTS | HAS_ICON_LOCATION | IS_UNICODE


def _string(data, pos, unicode):
    count, = struct.unpack_from("<H", data, pos)
    pos += 2
    if unicode:
        text, pos = data[pos:pos + 2 * count].decode("utf-16-le"), pos + 2 * count
    else:
        text, pos = data[pos:pos + count].decode("cp1252"), pos + count
    # Wine counts a terminating zero into each string; the format has none.
    return (text[:-1] if text.endswith("\0") else text), pos


def parse_lnk(data):
    """The fields of a shell link file (MS-SHLLINK) the tests compare."""
    assert len(data) >= 0x4C and struct.unpack_from("<I", data, 0)[0] == 0x4C
    assert data[4:20] == LINK_CLSID, data[4:20].hex()
    flags, = struct.unpack_from("<I", data, 0x14)
    icon_index, show_command, hot_key = struct.unpack_from("<iIH", data, 0x38)
    link = {"flags": flags, "icon_index": icon_index, "show_command": show_command,
            "hot_key": hot_key, "reserved": data[0x42:0x4C], "local_path": None}
    pos = 0x4C
    if flags & HAS_ID_LIST:
        pos += 2 + struct.unpack_from("<H", data, pos)[0]
    if flags & HAS_LINK_INFO:
        size, _header, info_flags, _volume, base, _network, suffix = \
            struct.unpack_from("<7I", data, pos)
        if info_flags & 1:
            def cstr(at):
                return data[at:data.index(b"\0", at)].decode("cp1252")
            link["local_path"] = cstr(pos + base) + cstr(pos + suffix)
        pos += size
    for bit, key in ((HAS_NAME, "name"), (HAS_RELATIVE_PATH, "relative_path"),
                     (HAS_WORKING_DIR, "working_dir"), (HAS_ARGUMENTS, "arguments"),
                     (HAS_ICON_LOCATION, "icon_location")):
        link[key] = None
        if flags & bit:
            link[key], pos = _string(data, pos, bool(flags & IS_UNICODE))
    blocks = []
    while pos + 4 <= len(data):
        size, = struct.unpack_from("<I", data, pos)
        if size < 4:
            break
        blocks.append(hex(struct.unpack_from("<I", data, pos + 4)[0]))
        pos += size
    link["extra_blocks"] = blocks
    return link


def lnkinfo_fields(path):
    """Target, arguments and icon location as Debian's lnkinfo reads them (a second reader)."""
    out = subprocess.run(["lnkinfo", str(path)], capture_output=True, timeout=30).stdout
    fields = {}
    for line in out.decode("utf-8", "replace").splitlines():
        m = re.match(r"^\s+(Local path|Command line arguments|Icon location)\s+: (.*)$", line)
        if m:
            fields[m.group(1)] = m.group(2)
    return fields


def check_shortcut(path, target, arguments, icon):
    data = path.read_bytes()
    link = parse_lnk(data)
    where = str(path)
    assert link["flags"] & ~ALLOWED_FLAGS == 0, (where, hex(link["flags"]))
    assert link["flags"] & HAS_ICON_LOCATION, where
    if target.startswith("\\"):
        # A drive-relative target: the link object resolves it on the current drive.
        assert re.fullmatch(r"[A-Za-z]:" + re.escape(target), link["local_path"] or ""), \
            (where, link["local_path"])
    else:
        assert link["local_path"] == target, where
    assert (link["arguments"] or "") == arguments, where
    assert link["icon_location"] == icon, where
    assert link["icon_index"] == 0, where
    # Nothing else: no description, relative path, working directory, show command, hot key.
    assert link["name"] is None and link["relative_path"] is None, where
    assert link["working_dir"] is None, where
    assert link["show_command"] == 1, where  # the default, SW_SHOWNORMAL
    assert link["hot_key"] == 0, where
    assert link["reserved"] == bytes(10), where
    assert link["extra_blocks"] == [], where
    # A second, independent reader agrees.
    other = lnkinfo_fields(path)
    assert other.get("Command line arguments", "") == arguments, (where, other)
    assert other.get("Icon location") == icon, (where, other)
    if not target.startswith("\\"):
        assert other.get("Local path") == target, (where, other)


# ---------------------------------------------------------------- registry

def regdump(tw, root, path):
    """{relative key path: {value name lower-case: (type, bytes)}} for a key and its subkeys;
    {} when the key is missing."""
    out = tw.wine([REGDUMP, root, path], check=True).stdout.decode("utf-8")
    keys = {}
    for line in out.splitlines():
        entry = json.loads(line)
        if entry.get("missing"):
            continue
        rel = entry["key"][len(path):].lstrip("\\").lower()
        keys[rel] = {v["name"].lower(): (v["type"], bytes.fromhex(v["hex"]))
                     for v in entry["values"]}
    return keys


def sz(text):
    """A REG_SZ as stored: UTF-16 with its terminating zero (the program writes ANSI)."""
    return (REG_SZ, (text + "\0").encode("utf-16-le"))


def expected_file_type(progid, description, icon, command):
    """The ProgID key and its subkeys as registration leaves them in a clean registry."""
    return {
        "": {"": sz(description), "alwaysshowext": sz(""), "editflags": (REG_BINARY, b"\0")},
        "defaulticon": {"": sz(icon)},
        "shell": {"": sz("")},
        "shell\\open": {},
        "shell\\open\\command": {"": sz(command)},
    }


def composed(directory):
    quoted = '"%s\\Tillwick.exe"' % directory if " " in directory else directory + "\\Tillwick.exe"
    uninstall = directory + "\\Uninstal.exe"
    if " " in directory:
        uninstall = '"%s"' % uninstall
    return directory + "\\Tillwick.ico,0", quoted + " %1", uninstall


def uninstall_key(tw):
    """The uninstall entry as the 64-bit regdump.exe finds it: what the i686 build writes below
    HKLM\\SOFTWARE goes to the registry's 32-bit view (WOW6432Node), as on 64-bit Windows,
    where the list of installed programs reads both views. The classes are shared."""
    if tw.arch == "i686":
        return UNINSTALL.replace("SOFTWARE\\", "SOFTWARE\\WOW6432Node\\", 1)
    return UNINSTALL


def check_registered(tw, directory):
    icon, command, uninstall = composed(directory)
    for root, prefix in ROOTS:
        for ext, progid, description in FILE_TYPES:
            assert regdump(tw, root, prefix + ext) == {"": {"": sz(progid)}}, (root, ext)
            assert regdump(tw, root, prefix + progid) == \
                expected_file_type(progid, description, icon, command), (root, progid)
        assert regdump(tw, root, prefix + ".bk4") == {}
        assert regdump(tw, root, prefix + "bk4file") == {}
    assert regdump(tw, "HKLM", uninstall_key(tw)) == {
        "": {"displayname": sz("Tillwick Orvenda"), "uninstallstring": sz(uninstall)}}


def check_unregistered(tw):
    for root, prefix in ROOTS:
        for ext, progid, _ in FILE_TYPES:
            assert regdump(tw, root, prefix + ext) == {}, (root, ext)
            assert regdump(tw, root, prefix + progid) == {}, (root, progid)
    assert regdump(tw, "HKLM", uninstall_key(tw)) == {}


# ---------------------------------------------------------------- files

def check_shortcuts(tw, directory):
    group = tw.unix_path(GROUP)
    names = sorted(p.name for p in group.iterdir())
    assert names == sorted(row[0] for row in SHORTCUTS)
    for name, target, arguments, icon in SHORTCUTS:
        check_shortcut(group / name, target.format(d=directory), arguments,
                       icon.format(d=directory))
    for name in DESKTOP_COPIES:
        assert tw.unix_path(DESKTOP + "\\" + name).read_bytes() == (group / name).read_bytes()


def check_no_shortcuts(tw):
    assert not tw.unix_path(GROUP).exists()
    for name in DESKTOP_COPIES:
        assert not tw.unix_path(DESKTOP + "\\" + name).exists()


def run_quietly(tw, switch):
    result = tw.run(switch)
    assert result.rc == 0, result
    assert result.boxes == [] and result.dialogs == [], result
    return result


def link_files(tw):
    found = {}
    for folder in (GROUP, DESKTOP):
        unix = tw.unix_path(folder)
        if unix.exists():
            for p in unix.iterdir():
                if p.suffix.lower() == ".lnk":
                    found[folder + "\\" + p.name] = p.read_bytes()
    return found


@pytest.fixture
def shell(tw):
    """regdump.exe in the prefix, our keys and shortcuts absent before the test and removed
    after it (also when the test failed half-way)."""
    shutil.copy2(conftest.BUILD / "tools" / "regdump.exe", tw.unix_path(REGDUMP))
    check_unregistered(tw)
    check_no_shortcuts(tw)

    def remove():
        tw.reset_ini()
        tw.run("/unregister")
        shutil.rmtree(tw.unix_path(GROUP), ignore_errors=True)
    tw.on_cleanup(remove)
    return tw


# ---------------------------------------------------------------- tests

@pytest.mark.parametrize("directory", [
    conftest.PROGRAM_DIR_WIN,  # holds a blank: the program's path is quoted
    r"C:\Tillwick",
    long_directory(),
    "",  # no host settings file at all
], ids=["blank", "plain", "200 characters", "empty"])
def test_register_then_unregister(shell, directory):
    tw = shell
    if directory:
        tw.ini_set("Run-Time Options", "HelpFile", directory + "\\Tillwick.hlp")
    else:
        tw.ini_delete()
    if directory == long_directory():
        assert len(directory) == 200 and " " in directory

    run_quietly(tw, "/register")
    check_registered(tw, directory)
    check_shortcuts(tw, directory)

    # Removal does not need the host settings file.
    tw.ini_delete()
    run_quietly(tw, "/unregister")
    check_unregistered(tw)
    check_no_shortcuts(tw)
    # The folders the group and the copies lay in are still there.
    assert tw.unix_path(START_MENU + r"\Programs").is_dir()
    assert tw.unix_path(DESKTOP).is_dir()


@pytest.mark.both_builds
def test_register_twice_equals_once_and_replaces_every_file(shell):
    tw = shell
    directory = conftest.PROGRAM_DIR_WIN
    # A link's ID list holds the access time of each folder on the way, which the first
    # listing after a change in the folder (an earlier test's) moves on: settle them first.
    for folder in (r"C:\Program Files", directory):
        os.listdir(tw.unix_path(folder))
    run_quietly(tw, "/register")
    registry = {(root, key): regdump(tw, root, prefix + key)
                for root, prefix in ROOTS for ext, progid, _ in FILE_TYPES for key in (ext, progid)}
    links = link_files(tw)
    assert len(links) == 8
    # Spoil every file: a second registration must write each one anew.
    for win in links:
        tw.unix_path(win).write_bytes(b"spoilt")

    run_quietly(tw, "/register")
    assert {(root, key): regdump(tw, root, prefix + key)
            for root, prefix in ROOTS for ext, progid, _ in FILE_TYPES
            for key in (ext, progid)} == registry
    check_registered(tw, directory)
    assert link_files(tw) == links
    check_shortcuts(tw, directory)


def test_register_deletes_the_old_desktop_names_and_removal_leaves_them(shell):
    tw = shell
    for name in ("Tillwick.lnk", "TW_Demo.lnk"):
        tw.make_file(DESKTOP + "\\" + name, b"an earlier installation's shortcut")
    keep = tw.make_file(DESKTOP + r"\Someone Else.lnk", b"not ours")
    run_quietly(tw, "/register")
    assert not tw.unix_path(DESKTOP + r"\Tillwick.lnk").exists()
    assert not tw.unix_path(DESKTOP + r"\TW_Demo.lnk").exists()

    old = [tw.make_file(DESKTOP + "\\" + name, b"put back")
           for name in ("Tillwick.lnk", "TW_Demo.lnk")]
    run_quietly(tw, "/unregister")
    assert all(p.read_bytes() == b"put back" for p in old)
    assert keep.read_bytes() == b"not ours"
    check_no_shortcuts(tw)


def test_unregister_twice_and_with_nothing_registered(shell):
    tw = shell
    before = regdump(tw, "HKCR", "")  # the whole merged class root
    keep = tw.make_file(DESKTOP + r"\Someone Else.lnk", b"not ours")
    run_quietly(tw, "/unregister")
    assert regdump(tw, "HKCR", "") == before
    check_no_shortcuts(tw)

    run_quietly(tw, "/register")
    run_quietly(tw, "/unregister")
    run_quietly(tw, "/unregister")
    check_unregistered(tw)
    check_no_shortcuts(tw)
    assert regdump(tw, "HKCR", "") == before
    assert keep.read_bytes() == b"not ours"


@pytest.mark.both_builds
def test_removal_deletes_every_shortcut_of_the_group_and_keeps_other_files(shell):
    tw = shell
    run_quietly(tw, "/register")
    group = tw.unix_path(GROUP)
    foreign_link = group / "Someone Else.LNK"
    foreign_link.write_bytes((group / "Help.lnk").read_bytes())
    readme = group / "Readme.txt"
    readme.write_bytes(b"keep me")
    # Its short name ends in .LNK, so the search for *.lnk reports it too; it is no shortcut.
    notes = group / "notes.lnkx"
    notes.write_bytes(b"keep me too")

    run_quietly(tw, "/unregister")
    assert not foreign_link.exists()
    assert sorted(p.name for p in group.iterdir()) == ["Readme.txt", "notes.lnkx"]
    assert readme.read_bytes() == b"keep me" and notes.read_bytes() == b"keep me too"
    for name in DESKTOP_COPIES:
        assert not tw.unix_path(DESKTOP + "\\" + name).exists()
    check_unregistered(tw)

    # With the foreign files gone the group folder goes too.
    readme.unlink()
    notes.unlink()
    run_quietly(tw, "/unregister")
    check_no_shortcuts(tw)


def test_foreign_values_and_subkeys_are_left_alone(shell):
    tw = shell
    tw.reg_set(r"HKCR\twfile\Shell\print\command", None, "printer.exe %1")
    tw.reg_set(r"HKCR\twfile", "Foreign", "theirs")
    run_quietly(tw, "/register")
    assert tw.reg_query(r"HKCR\twfile", "Foreign") == ("REG_SZ", "theirs")
    run_quietly(tw, "/unregister")
    # The ProgID key and its "Shell" still hold someone else's subkey: they stay, with
    # whatever values they had; everything else of ours is gone.
    assert tw.reg_query(r"HKCR\twfile\Shell\print\command", None) == ("REG_SZ", "printer.exe %1")
    assert set(regdump(tw, "HKCR", "twfile")) == {"", "shell", "shell\\print",
                                                  "shell\\print\\command"}
    assert regdump(tw, "HKCR", ".tw") == {}
    assert regdump(tw, "HKLM", uninstall_key(tw)) == {}
