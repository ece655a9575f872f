"""End-to-end tests of the foundation under Wine: the built program's imports and resources,
the shared-drive refusal, the font-scaling probe, "/open", and how the start-up code and the
dispatcher take the command line."""
import os
import re
import shutil
import subprocess
import time
import xml.etree.ElementTree as ET

import pytest

import conftest
import pe_resources

SHARED_DRIVE_TEXT = ("Cannot load a datafile from a shared drive.  Please map this as a network "
                     "drive and try again.")

# Windows' own DLLs; anything else in the import table would have to be shipped.
SYSTEM_DLLS = {
    "kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "shell32.dll", "shlwapi.dll",
    "ole32.dll", "oleaut32.dll", "comdlg32.dll", "comctl32.dll", "ws2_32.dll", "wsock32.dll",
    "msvcrt.dll", "secur32.dll", "crypt32.dll", "winhttp.dll", "version.dll", "winmm.dll",
    "dnsapi.dll",
}


BUILDS = [("x86_64", conftest.BUILD), ("i686", conftest.BUILD32)]


def _exe_or_skip(arch, build):
    exe = build / "Tillwick.exe" if build else None
    if exe is None or not exe.exists():
        pytest.skip("no %s build of Tillwick.exe (%s)" % (arch, exe))
    return exe


# ---------------------------------------------------------------- the built file

@pytest.mark.parametrize("arch,build", BUILDS, ids=[b[0] for b in BUILDS])
def test_imports_only_system_dlls(arch, build):
    exe = _exe_or_skip(arch, build)
    out = subprocess.run(["%s-w64-mingw32-objdump" % arch, "-p", str(exe)],
                         capture_output=True, text=True, timeout=60, check=True).stdout
    dlls = {m.lower() for m in re.findall(r"DLL Name:\s*(\S+)", out)}
    assert "kernel32.dll" in dlls, out[:2000]
    runtime = [d for d in dlls if re.match(r"lib(stdc\+\+|gcc|winpthread)", d)]
    assert runtime == [], "MinGW runtime DLLs imported: %s" % runtime
    assert dlls <= SYSTEM_DLLS, "not a system DLL: %s" % sorted(dlls - SYSTEM_DLLS)


WS_POPUP, WS_VISIBLE, WS_CAPTION, WS_SYSMENU = 0x80000000, 0x10000000, 0x00C00000, 0x00080000
WS_CHILD, WS_GROUP, WS_TABSTOP = 0x40000000, 0x00020000, 0x00010000
DS_MODALFRAME, DS_SETFONT, DS_CENTER = 0x80, 0x40, 0x800


@pytest.mark.parametrize("arch,build", BUILDS, ids=[b[0] for b in BUILDS])
def test_sending_window_template(arch, build):
    exe = _exe_or_skip(arch, build)
    data = pe_resources.resource(str(exe), pe_resources.RT_DIALOG, 101)
    assert data is not None, "dialog 101 missing"
    d = pe_resources.parse_dialog(data)
    assert d["caption"] == "Sending Email"
    assert (d["x"], d["y"], d["cx"], d["cy"]) == (0, 0, 233, 49)
    assert d["style"] == (WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME |
                          DS_SETFONT), hex(d["style"])
    assert not d["style"] & DS_CENTER
    assert (d["font_size"], d["font_name"]) == (10, "MS Sans Serif")
    assert d["menu"] is None and d["class"] is None
    items = {item["id"]: item for item in d["items"]}
    assert sorted(items) == [1000, 1012]

    cancel = items[1000]
    assert cancel["class"] == 0x80 and cancel["text"] == "&Cancel"
    assert (cancel["x"], cancel["y"], cancel["cx"], cancel["cy"]) == (176, 28, 50, 14)
    assert cancel["style"] & 0xF == 0, "not a plain push button"
    assert cancel["style"] & (WS_CHILD | WS_VISIBLE | WS_TABSTOP) == \
        WS_CHILD | WS_VISIBLE | WS_TABSTOP

    status = items[1012]
    assert status["class"] == 0x82 and (status["text"] or "") == ""
    assert (status["x"], status["y"], status["cx"], status["cy"]) == (7, 5, 219, 15)
    assert status["style"] & 0x1F == 0, "not a left-aligned static"
    assert status["style"] & (WS_CHILD | WS_VISIBLE | WS_GROUP) == WS_CHILD | WS_VISIBLE | WS_GROUP
    assert not status["style"] & WS_TABSTOP
    # The Cancel button is the only tab stop, so it takes the focus.
    assert [i["id"] for i in d["items"] if i["style"] & WS_TABSTOP] == [1000]


RT_ICON, RT_GROUP_ICON, RT_VERSION = 3, 14, 16
# What Windows' installer detection takes for an installer when it finds it in the name, the
# version resource or the manifest of a 32-bit program that asks for no execution level.
INSTALLER_WORDS = ("instal", "setup", "update", "upgrad", "patch")


BUTTON, EDIT, STATIC, COMBOBOX = 0x80, 0x81, 0x82, 0x85
BS_DEFPUSHBUTTON, BS_AUTORADIOBUTTON, ES_PASSWORD, CBS_DROPDOWNLIST = 0x1, 0x9, 0x20, 0x3
WS_DISABLED = 0x08000000


@pytest.mark.parametrize("arch,build", BUILDS, ids=[b[0] for b in BUILDS])
def test_email_setup_template(arch, build):
    exe = _exe_or_skip(arch, build)
    data = pe_resources.resource(str(exe), pe_resources.RT_DIALOG, 104)
    assert data is not None, "dialog 104 missing"
    d = pe_resources.parse_dialog(data)
    assert d["caption"] == "Email Setup"
    assert d["style"] & (WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME) == \
        WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME
    # In the dialog's order, each field right after its label; (class, text, id, low style).
    # A class named in the script, not by its ordinal, counts as the ordinal.
    names = {"BUTTON": BUTTON, "EDIT": EDIT, "STATIC": STATIC, "COMBOBOX": COMBOBOX}
    items = [(names.get(str(i["class"]).upper(), i["class"]), i["text"] or "", i["id"],
              i["style"] & 0xF, i["style"]) for i in d["items"]]
    assert [i[:3] for i in items] == [
        (STATIC, "E-mail address", 1100), (EDIT, "", 1101),
        (BUTTON, "Find settings", 1102), (STATIC, "", 1103),
        (BUTTON, "Microsoft 365 or Outlook.com", 1104), (BUTTON, "Google", 1105),
        (BUTTON, "Another mail server", 1106),
        (STATIC, "Server", 1107), (EDIT, "", 1108), (STATIC, "Port", 1109), (EDIT, "", 1110),
        (STATIC, "Security", 1111), (COMBOBOX, "", 1112), (STATIC, "User name", 1113),
        (EDIT, "", 1114), (STATIC, "Password", 1115), (EDIT, "", 1116), (STATIC, "", 1117),
        (BUTTON, "Sign in", 1118), (BUTTON, "Test", 1119), (BUTTON, "Save", 1),
        (BUTTON, "Cancel", 2)]
    by_id = {i[2]: i for i in items}
    assert [by_id[i][3] for i in (1104, 1105, 1106)] == [BS_AUTORADIOBUTTON] * 3
    assert by_id[1104][4] & WS_GROUP and not by_id[1105][4] & WS_GROUP
    assert by_id[1107][4] & WS_GROUP  # the radio buttons' group ends there
    assert by_id[1112][4] & 0x3 == CBS_DROPDOWNLIST
    assert [i for i in by_id if by_id[i][0] == EDIT and by_id[i][4] & ES_PASSWORD] == [1116]
    assert [i for i in by_id if by_id[i][0] == BUTTON and by_id[i][3] == BS_DEFPUSHBUTTON] == [1]
    assert not any(i[4] & WS_DISABLED for i in items)


@pytest.mark.parametrize("arch,build", BUILDS, ids=[b[0] for b in BUILDS])
def test_manifest_asks_no_execution_level_and_nothing_looks_like_an_installer(arch, build):
    """No execution level, so that Windows virtualizes the program as it does the host; the
    Common Controls 6 dependency stays, DPI awareness stays out."""
    exe = _exe_or_skip(arch, build)
    data = pe_resources.resource(str(exe), pe_resources.RT_MANIFEST, 1)
    assert data is not None, "no process manifest (RT_MANIFEST 1)"
    root = ET.fromstring(data)
    tags = [e.tag.split("}")[-1] for e in root.iter()]
    assert "trustInfo" not in tags and "requestedExecutionLevel" not in tags, data
    names = [e.get("name") for e in root.iter() if e.tag.endswith("assemblyIdentity")]
    assert "Microsoft.Windows.Common-Controls" in names, data
    dpi = [e.tag for e in root.iter() if "dpiaware" in e.tag.lower()]
    assert dpi == [] and b"dpiAware" not in data

    # No string table or RC data, which the detection reads too; the version resource's
    # strings (UTF-16, aligned) and the manifest hold none of its words, nor does the name.
    types = {rtype for rtype, _ in pe_resources.read_resources(str(exe))}
    assert types <= {RT_ICON, RT_GROUP_ICON, pe_resources.RT_DIALOG, RT_VERSION,
                     pe_resources.RT_MANIFEST}, types
    version = pe_resources.resource(str(exe), RT_VERSION, 1)
    texts = {"version": version.decode("utf-16-le", "replace").lower(),
             "manifest": data.decode("utf-8").lower(), "name": exe.name.lower()}
    assert "tillwick orvenda helper" in texts["version"]
    for where, text in texts.items():
        found = [w for w in INSTALLER_WORDS if w in text]
        assert found == [], "%s holds %s" % (where, found)


# ---------------------------------------------------------------- shared-drive refusal

@pytest.mark.parametrize("args", [
    r"\\server\share\a.tw",
    r'"\\server\share\a.tw"',
    r"\\server\share\My Data\a.tw",
    r"\\server",
    r"\single.tw",
    r"/checklargefonts \\server\share",   # not refused: a switch, its argument unused
], ids=["unc", "unc-quoted", "unc-blank", "unc-short", "one-backslash", "switch-with-unc"])
def test_shared_drive_refusal(tw, args):
    before = tw.ini_dict()
    result = tw.run(args)
    assert result.rc == 0
    if args.startswith("/"):
        assert result.boxes == []
        assert tw.ini_get("Microsoft Access", "DPILogicalX") == "96"
        return
    assert len(result.boxes) == 1, result
    box = result.boxes[0]
    assert box["text"] == SHARED_DRIVE_TEXT
    assert box["caption"] == "Error"
    assert box["owner"] == 0
    assert box["buttons"] == [1]
    assert box["icon"] == "information"
    assert tw.ini_dict() == before, "the refusal must not touch the host settings"


# ---------------------------------------------------------------- font-scaling probe

@pytest.mark.both_builds
def test_checklargefonts_writes_96_and_nothing_else(tw):
    before = tw.ini_dict()
    result = tw.run("/checklargefonts")
    assert (result.rc, result.boxes, result.dialogs) == (0, [], [])
    after = tw.ini_dict()
    assert after.get("microsoft access") == {"dpilogicalx": "96"}
    del after["microsoft access"]
    assert after == before
    assert re.search(r"^DPILogicalX=96\r?$", tw.ini_raw(), re.M), tw.ini_raw()


@pytest.mark.both_builds
def test_checklargefonts_reports_120_when_logpixels_is_120(tw):
    tw.reg_set(r"HKCU\Control Panel\Desktop", "LogPixels", "120", "REG_DWORD")
    before = tw.ini_dict()
    result = tw.run("/checklargefonts")
    assert result.rc == 0 and result.boxes == []
    after = tw.ini_dict()
    assert after.pop("microsoft access") == {"dpilogicalx": "120"}
    assert after == before


def test_checklargefonts_overwrites_and_keeps_other_keys(tw):
    tw.ini_set("Microsoft Access", "DPILogicalX", "144")
    tw.ini_set("Microsoft Access", "hWnd", "123abc")
    tw.ini_set("Email Setup", "SMTPServer", "mail.example.test")
    before = tw.ini_dict()
    result = tw.run("/CheckLargeFonts ignored words")
    assert result.rc == 0 and result.boxes == []
    after = tw.ini_dict()
    assert after["microsoft access"].pop("dpilogicalx") == "96"
    before["microsoft access"].pop("dpilogicalx")
    assert after == before


def test_checklargefonts_that_cannot_write_its_answer_says_so(tw):
    """The real profile call's failure, with a folder where the settings file should be
    (Wine's read-only attribute does not stop root): one box with the key, the file and the
    system's reason, exit code 1."""
    tw.ini_delete()
    folder = tw.windows_dir / "Tillwick.ini"
    folder.mkdir()
    tw.on_cleanup(lambda: shutil.rmtree(folder, ignore_errors=True))
    result = tw.run("/checklargefonts")
    assert result.rc == 1
    assert len(result.boxes) == 1, result.boxes
    box = result.boxes[0]
    assert (box["caption"], box["icon"], box["owner"]) == ("Error", "information", 0)
    assert re.fullmatch(r"Could not write DPILogicalX to Tillwick\.ini: (.+) \(error 5\)",
                        box["text"]), box["text"]
    assert "no reason" not in box["text"]


def test_settings_file_is_created_under_its_capitalised_name(tw):
    tw.ini_delete()
    result = tw.run("/checklargefonts")
    assert result.rc == 0
    names = [n for n in os.listdir(tw.windows_dir) if n.lower() == "tillwick.ini"]
    assert names == ["Tillwick.ini"]
    assert tw.ini_raw().replace("\r\n", "\n").strip() == "[Microsoft Access]\nDPILogicalX=96"


def test_settings_file_in_other_case_is_the_same_file(tw):
    tw.ini_write_raw("[run-time options]\r\nHelpFile=%s\r\n[MICROSOFT ACCESS]\r\n"
                     "dpilogicalx=7\r\n" % conftest.HELP_FILE_WIN, name="TILLWICK.INI")
    result = tw.run("/checklargefonts")
    assert result.rc == 0
    names = [n for n in os.listdir(tw.windows_dir) if n.lower() == "tillwick.ini"]
    assert names == ["TILLWICK.INI"]
    raw = tw.ini_raw()
    assert len(re.findall(r"^\[microsoft access\]", raw, re.M | re.I)) == 1, raw
    assert len(re.findall(r"^dpilogicalx=", raw, re.M | re.I)) == 1, raw
    assert tw.ini_get("Microsoft Access", "DPILogicalX") == "96"


# ---------------------------------------------------------------- "/open"

BROWSER_DIR = r"C:\Program Files\Browser Test"
HTML_COMMAND_KEY = r"HKLM\SOFTWARE\Classes\htmlfile\shell\open\command"
HANDLER = r"C:\Program Files\Doc Handler\dochandler.exe"


@pytest.fixture
def browser(tw):
    """recorder.exe registered as the HTML browser, the way the design's example reads."""
    tw.install_stand_in(BROWSER_DIR + r"\browse.exe")
    tw.reg_set(HTML_COMMAND_KEY, None, '"%s\\browse.exe" -nohome' % BROWSER_DIR)
    # This prefix has no HTML engine, so nothing ties the extensions to the type: do it.
    tw.reg_set(r"HKCR\.htm", None, "htmlfile")
    tw.reg_set(r"HKCR\.html", None, "htmlfile")
    return tw


@pytest.fixture
def doc_handler(tw):
    """recorder.exe registered as the program for ".twdoc" documents."""
    tw.install_stand_in(HANDLER)
    tw.reg_set(r"HKCR\.twdoc", None, "twdocfile")
    tw.reg_set(r"HKCR\twdocfile\shell\open\command", None, '"%s" "%%1"' % HANDLER)
    return tw


@pytest.mark.parametrize("command,target", [
    ('"%s\\browse.exe" -nohome', r"C:\Reports\r.htm"),
    ('"%s\\browse.exe" -nohome', r"C:\My Reports\annual report.htm"),
    ('"%s\\browse.exe" %%1', r"C:\My Reports\annual report.htm"),   # as Windows 10 and 11 have it
], ids=["nohome", "nohome-blanks", "modern"])
def test_open_htm_starts_registered_browser(browser, command, target):
    tw = browser
    tw.reg_set(HTML_COMMAND_KEY, None, command % BROWSER_DIR)
    tw.make_file(target, b"<html></html>")
    result = tw.run("/open " + target)
    assert result.rc == 0 and result.boxes == []
    records = tw.wait_records(1)
    assert len(records) == 1, records
    rec = records[0]
    assert rec["exe"].lower() == "browse.exe"
    assert rec["path"].lower() == (BROWSER_DIR + r"\browse.exe").lower()
    assert rec["tail"] == target, "the target must be the parameters, unchanged"
    assert rec["cwd"].rstrip("\\").lower() == BROWSER_DIR.lower()
    # Wine hands the shell's show state to the started program (maximised).
    assert rec["flags"] & 1 and rec["show"] == 3, rec


@pytest.mark.parametrize("target", [r"C:\Reports\r.HTM", r"C:\Reports\r.html"])
def test_open_other_html_endings_go_through_the_association(browser, target):
    """Only a lower-case ".htm" ending picks the browser directly; an upper-case ending or
    ".html" goes through the file type's association, which runs the registered command
    itself: the browser then sees "-nohome" on its command line."""
    tw = browser
    tw.make_file(target, b"<html></html>")
    result = tw.run("/open " + target)
    assert result.rc == 0 and result.boxes == []
    records = tw.wait_records(1)
    assert len(records) == 1, records
    assert records[0]["tail"] != target
    assert "-nohome" in records[0]["tail"]


@pytest.mark.both_builds
def test_open_document_uses_its_association(doc_handler):
    tw = doc_handler
    target = r"C:\My Docs\letter one.twdoc"
    tw.make_file(target, b"letter")
    result = tw.run("/open " + target)
    assert result.rc == 0 and result.boxes == []
    records = tw.wait_records(1)
    assert len(records) == 1, records
    rec = records[0]
    assert rec["exe"].lower() == "dochandler.exe"
    assert rec["argv"][1:] == [target]
    assert rec["flags"] & 1 and rec["show"] == 3, rec


@pytest.mark.parametrize("args", ["/open", "/open ", "/OPEN"], ids=["bare", "one-blank", "caps"])
def test_open_with_nothing_does_nothing(browser, doc_handler, args):
    tw = browser
    before = tw.ini_dict()
    result = tw.run(args)
    assert result.rc == 0 and result.boxes == [] and result.dialogs == []
    time.sleep(1.0)  # a started program would have written by now (it takes ~0.1 s)
    assert tw.records() == []
    assert tw.ini_dict() == before


# ---------------------------------------------------------------- the command line

def test_over_long_command_line_does_nothing(tw):
    fits = "/checklargefonts " + "x" * (255 - len("/checklargefonts "))
    assert len(fits) == 255
    result = tw.run(fits + "x")
    assert result.rc == 0 and result.boxes == []
    assert tw.ini_get("Microsoft Access", "DPILogicalX") is None
    # The longest line that fits still runs.
    result = tw.run(fits)
    assert result.rc == 0
    assert tw.ini_get("Microsoft Access", "DPILogicalX") == "96"


def test_over_long_shared_drive_line_shows_nothing(tw):
    result = tw.run("\\\\server\\share\\" + "a" * 300 + ".tw")
    assert result.rc == 0 and result.boxes == []


QUOTED_EXE = '"%s"' % (conftest.PROGRAM_DIR_WIN + r"\Tillwick.exe")


@pytest.mark.parametrize("cmdline,runs", [
    (QUOTED_EXE + "\t \t/checklargefonts", True),
    (QUOTED_EXE + "/checklargefonts", True),
    (QUOTED_EXE + " \x1f\x01/checklargefonts", True),
    (QUOTED_EXE + "  /checklargefonts  \t", True),
    (QUOTED_EXE + " /checklargefonts\t", False),       # a tab does not end the switch
    (QUOTED_EXE + ' "/checklargefonts"', False),
    (QUOTED_EXE + " /checklargefont", False),
    (QUOTED_EXE + " /nosuchswitch", False),
], ids=["tabs-blanks", "no-separator", "control-chars", "trailing-blanks", "trailing-tab",
        "quoted-switch", "prefix", "unknown"])
def test_start_up_rule(tw, cmdline, runs):
    result = tw.run_raw(cmdline)
    assert result.rc == 0 and result.boxes == []
    assert tw.ini_get("Microsoft Access", "DPILogicalX") == ("96" if runs else None)


def test_start_up_rule_unquoted_program_path(tw):
    # A program path without blanks, unquoted: the name ends at the first blank or control
    # character.
    folder = tw.unix_path(conftest.TOOLS_DIR_WIN).parent / "plain"
    folder.mkdir(exist_ok=True)
    shutil.copy2(tw.progdir_unix / "Tillwick.exe", folder / "Tillwick.exe")
    tw.on_cleanup(lambda: shutil.rmtree(folder, ignore_errors=True))
    exe = tw.win_path(folder / "Tillwick.exe")
    assert " " not in exe
    result = tw.run_raw(exe + "\t/checklargefonts")
    assert result.rc == 0 and result.boxes == []
    assert tw.ini_get("Microsoft Access", "DPILogicalX") == "96"


# ---------------------------------------------------------------- reading the settings file
# The program directory is the folder of "HelpFile"; the host launch of an empty command
# line (msarn200.exe in that folder) shows which folder the program took.

LAUNCHER = conftest.PROGRAM_DIR_WIN + r"\msarn200.exe"
HELP = conftest.HELP_FILE_WIN


@pytest.mark.parametrize("ini_text", [
    "[Run-Time Options]\r\nHelpFile=%s\r\n" % HELP,
    '[Run-Time Options]\r\nHelpFile="%s"\r\n' % HELP,
    "[Run-Time Options]\r\n  HelpFile   =   %s   \r\n" % HELP,
    '[Run-Time Options]\r\nHelpFile = "%s" \r\n' % HELP,
    "[RUN-TIME OPTIONS]\r\nhelpfile=%s\r\n" % HELP,
    "[Microsoft Access]\r\nHelpFile=C:\\Elsewhere\\x.hlp\r\n[Run-Time Options]\r\n"
    "HelpFile=%s\r\n" % HELP,
    # A value longer than 254 characters arrives cut: here the cut falls inside a folder
    # name that does not exist, and what is left names the program directory.
    "[Run-Time Options]\r\nHelpFile=%s\\%s\\Tillwick.hlp\r\n" %
    (conftest.PROGRAM_DIR_WIN, "a" * 230),
], ids=["plain", "quoted", "blanks-around", "quoted-and-blanks", "other-case",
        "key-in-other-section", "cut-at-254"])
def test_program_directory_follows_the_reading_rules(tw, ini_text):
    tw.install_stand_in(LAUNCHER)
    tw.ini_write_raw(ini_text)
    result = tw.run("")
    assert result.rc == 0 and result.boxes == []
    records = tw.wait_records(1)
    assert [r["path"].lower() for r in records] == [LAUNCHER.lower()]
    assert records[0]["cwd"].rstrip("\\").lower() == conftest.PROGRAM_DIR_WIN.lower()


def test_program_directory_from_a_help_file_elsewhere(tw):
    """The control for the rows above: the launch follows "HelpFile" to another folder."""
    other = r"C:\Other Place"
    tw.install_stand_in(LAUNCHER)
    tw.install_stand_in(other + r"\msarn200.exe")
    tw.ini_write_raw("[Run-Time Options]\r\nHelpFile=%s\\Tillwick.hlp\r\n" % other)
    result = tw.run("")
    assert result.rc == 0
    records = tw.wait_records(1)
    assert [r["path"].lower() for r in records] == [(other + r"\msarn200.exe").lower()]
