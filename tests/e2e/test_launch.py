"""End-to-end tests of the data-file open, the host launch and the auxiliary launches under
Wine, against stand-ins: msarn200.exe and Word/WordPad (recorder.exe copies that log how they
were started), the host application's main window (host_window.exe: logs activation,
maximising, keys and owned boxes) and the help engine (winhlp32.exe: logs every request)."""
import json
import shutil
import subprocess
import time
from pathlib import Path

import pytest

import conftest

PROGRAM_DIR = conftest.PROGRAM_DIR_WIN
LAUNCHER = PROGRAM_DIR + r"\msarn200.exe"
HOST_PARAMETERS = "tillwick.mdb /ini tillwick.ini"
APP_PATHS = r"HKLM\Software\Microsoft\Windows\CurrentVersion\App Paths"
STAND_INS = r"C:\TillwickTest\launch"

BACKUP_TEXT = ("You have tried to load a Tillwick Orvenda backup file.\n\nPlease read help in "
               "Tillwick Orvenda for more details on how to restore this file (Search for "
               "Restore).")
NUMBERED_BACKUP_TEXT = ("You have tried to load a Tillwick Orvenda backup file.\n\nTo restore "
                        "this file, please use the Restore from Backup feature in Tillwick "
                        "Orvenda.")
DEMO_OPEN_TEXT = ("The demo is currently open, please close the demo and then open Tillwick "
                  "Orvenda.")
HOST_OPEN_TEXT = ("Tillwick Orvenda is currently open, please close Tillwick Orvenda and then "
                  "open the Demo.")
WORD_TEXT = ("Could not load Word.  It is possible that Word is not installed, or is not "
             "installed correctly.\n\nTo fix it, please re-install Word.")
WORDPAD_TEXT = ("Could not load WordPad.  It is possible that WordPad is not installed, or is "
                "not installed correctly.\n\nTo fix it, please re-install WordPad.")

VK_CONTROL, VK_I = 0x11, 0x49


def read_json_lines(path):
    return conftest.Tillwick.ui_events(path)


def launches(tw):
    """What msarn200.exe recorded: one entry per start of the host application."""
    return [r for r in tw.records() if r["exe"].lower() == "msarn200.exe"]


def wait_launches(tw, count=1, timeout=10):
    deadline = time.monotonic() + timeout
    while len(launches(tw)) < count and time.monotonic() < deadline:
        time.sleep(0.05)
    return launches(tw)


def assert_error_box(box, text):
    assert box["caption"] == "Error"
    assert box["text"] == text
    assert box["icon"] == "information"
    assert box["buttons"] == [1]
    assert box["owner"] == 0


@pytest.fixture
def launcher(tw):
    """msarn200.exe in the program directory (whose name holds a blank)."""
    return tw.install_stand_in(LAUNCHER)


def copy_tool(tw, name, win_path):
    target = tw.unix_path(win_path)
    target.parent.mkdir(parents=True, exist_ok=True)
    shutil.copy2(conftest.BUILD / "tools" / name, target)
    tw.on_cleanup(lambda: target.exists() and target.unlink())
    return target


class Host:
    """A running host_window.exe with the given title; it writes its own "hWnd"."""

    def __init__(self, tw, title, minimized=True):
        self.tw = tw
        self.exe = STAND_INS + r"\host_window.exe"
        if not tw.unix_path(self.exe).exists():
            copy_tool(tw, "host_window.exe", self.exe)
        self.log = tw.testdir / ("host-%d.log" % time.monotonic_ns())
        env = dict(tw.env)
        env.update({"TW_HOST_LOG": tw.win_path(self.log), "TW_HOST_KEEP_BOXES": "1",
                    "TW_HOST_LIFETIME_MS": "40000"})
        if minimized:
            env["TW_HOST_SHOW"] = "minimized"
        self.proc = subprocess.Popen([conftest.WINE, self.exe, title], env=env,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                     start_new_session=True)
        tw.on_cleanup(self.stop)
        deadline = time.monotonic() + 20
        while not self.find("ready"):
            if self.proc.poll() is not None or time.monotonic() > deadline:
                pytest.fail("host window stand-in did not start")
            time.sleep(0.02)
        self.ready = self.find("ready")[0]
        self.hwnd = self.ready["hwnd"]
        assert tw.ini_get("Microsoft Access", "hWnd") == str(self.hwnd)

    def events(self):
        return read_json_lines(self.log)

    def find(self, event):
        return [e for e in self.events() if e["event"] == event]

    def wait_for(self, event, count=1, timeout=5):
        deadline = time.monotonic() + timeout
        while len(self.find(event)) < count and time.monotonic() < deadline:
            time.sleep(0.02)
        return self.find(event)

    def stop(self):
        conftest._kill_group(self.proc)


def assert_brought_to_front(host):
    """Maximised and made the foreground window by the run (it started minimised and not
    foreground)."""
    assert host.ready["minimized"] and not host.ready["foreground"]
    assert host.wait_for("maximized"), host.events()
    assert host.wait_for("foreground"), host.events()


# ---------------------------------------------------------------- backups

@pytest.mark.parametrize("path,text", [
    (r"C:\Data\Shop.bk3", BACKUP_TEXT),
    (r"C:\DATA\SHOP.BK1", BACKUP_TEXT),
    (r"C:\Old.bk\Shop.tw", BACKUP_TEXT),
    (r"C:\Data\Shop.001", NUMBERED_BACKUP_TEXT),
])
def test_backup_files_are_refused(tw, launcher, path, text):
    tw.make_file(path, b"backup")
    result = tw.run(path)
    assert result.rc == 0
    assert len(result.boxes) == 1, result
    assert_error_box(result.boxes[0], text)
    assert launches(tw) == []
    assert tw.ini_get("Microsoft Access", "FileSelected") is None
    assert tw.ini_get("Microsoft Access", "DPILogicalX") is None


def test_backup_and_numbered_backup_show_both_messages(tw, launcher):
    result = tw.run(r"C:\Old.bk\Shop.001")
    assert [b["text"] for b in result.boxes] == [BACKUP_TEXT, NUMBERED_BACKUP_TEXT]
    assert launches(tw) == []


# ---------------------------------------------------------------- QIF hand-off

QIF_PATH = r"C:\My Imports\Bank Statement.qif"
QIF_CONTENT = b"!Type:Bank\r\n"


def names_file(tw, path, content):
    """True when Windows finds a file under path (an 8.3 form, say) holding content."""
    shown = tw.wine(["cmd", "/c", "type", path]).stdout
    return shown == content


def assert_qif_keys(tw):
    short = tw.ini_get("Microsoft Access", "QIFFile")
    assert tw.ini_get("Microsoft Access", "QIFFileLong") == QIF_PATH
    # The 8.3 form: a different text without blanks naming the same file.
    assert short and short != QIF_PATH and " " not in short and "~" in short, short
    assert short.upper().endswith(".QIF")
    assert names_file(tw, short, QIF_CONTENT)
    return short


@pytest.mark.both_builds
def test_qif_file_goes_to_a_running_host_with_ctrl_i(tw, launcher):
    tw.make_file(QIF_PATH, QIF_CONTENT)
    host = Host(tw, "Tillwick Orvenda - Shop.tw")
    result = tw.run(QIF_PATH)
    assert result.rc == 0 and result.boxes == []
    short = assert_qif_keys(tw)
    assert_brought_to_front(host)
    keys = host.wait_for("key", count=4)
    downs = [k for k in keys if k["msg"] == "down"]
    ups = [k for k in keys if k["msg"] == "up"]
    assert [k["vk"] for k in downs] == [VK_CONTROL, VK_I], keys
    assert [k["vk"] for k in ups] == [VK_I, VK_CONTROL], keys
    assert downs[1]["ctrl"], "I was pressed with Ctrl held"
    # The keys arrived after both QIF keys had been written, and after the window had come
    # to the front (the utility waits a quarter of a second in between).
    for key in keys:
        assert key["QIFFile"] == short and key["QIFFileLong"] == QIF_PATH, key
    maximized = host.find("maximized")[0]["tick"]
    assert downs[0]["tick"] - maximized >= 200, (maximized, downs[0])
    assert launches(tw) == []
    assert tw.ini_get("Microsoft Access", "FileSelected") is None


def test_qif_file_without_a_host_is_written_before_a_plain_start(tw, launcher):
    tw.make_file(QIF_PATH, QIF_CONTENT)
    result = tw.run(QIF_PATH)
    assert result.rc == 0 and result.boxes == []
    assert_qif_keys(tw)
    (record,) = wait_launches(tw)
    assert record["tail"] == HOST_PARAMETERS
    assert record["cwd"].lower() == PROGRAM_DIR.lower()
    assert tw.ini_get("Microsoft Access", "FileSelected") is None


def test_qif_file_while_the_demo_is_open_shows_the_demo_message_and_no_keys(tw, launcher):
    tw.make_file(QIF_PATH, QIF_CONTENT)
    host = Host(tw, "Tillwick Orvenda - demo.dat")
    result = tw.run(QIF_PATH)
    assert [b["caption"] for b in result.boxes] == ["Demo is Open"]
    assert_qif_keys(tw)
    time.sleep(0.5)
    assert host.find("key") == []


# ---------------------------------------------------------------- a running host

@pytest.mark.parametrize("title", ["Tillwick Orvenda - Shop.tw", "TILLWICK ORVENDA - SHOP.TW",
                                   "tillwick orvenda"])
def test_data_file_with_a_running_host_only_brings_it_to_the_front(tw, launcher, title):
    tw.make_file(r"C:\Data\Other.tw", b"data")
    host = Host(tw, title)
    result = tw.run(r"C:\Data\Other.tw")
    assert result.rc == 0 and result.boxes == []
    assert_brought_to_front(host)
    assert launches(tw) == []
    assert tw.ini_get("Microsoft Access", "FileSelected") is None
    assert tw.ini_get("Microsoft Access", "DPILogicalX") is None
    assert host.find("key") == []


@pytest.mark.both_builds
def test_data_file_while_the_demo_is_open(tw, launcher):
    host = Host(tw, "Tillwick Orvenda - [DEMO.DAT]")
    result = tw.run(r"C:\Data\Other.tw")
    assert result.rc == 0
    assert len(result.boxes) == 1, result
    box = result.boxes[0]
    assert box["caption"] == "Demo is Open"
    assert box["text"] == DEMO_OPEN_TEXT
    assert box["icon"] == "information" and box["buttons"] == [1]
    assert box["owner"] == host.hwnd
    assert_brought_to_front(host)
    assert launches(tw) == []


@pytest.mark.parametrize("hwnd", ["123456", "", "not a number"])
def test_stale_host_window_starts_a_new_copy(tw, launcher, hwnd):
    tw.ini_set("Microsoft Access", "hWnd", hwnd)
    result = tw.run("")
    assert result.rc == 0 and result.boxes == []
    (record,) = wait_launches(tw)
    assert record["tail"] == HOST_PARAMETERS


def test_foreign_window_is_not_taken_for_the_host(tw, launcher):
    other = Host(tw, "Notepad - Shop.tw")
    result = tw.run(r"C:\Data\Other.tw")
    assert result.rc == 0 and result.boxes == []
    (record,) = wait_launches(tw)
    assert record["tail"] == HOST_PARAMETERS + r" /cmd C:\Data\Other.tw"
    time.sleep(0.3)
    assert other.find("maximized") == []


# ---------------------------------------------------------------- starting the host

def test_empty_command_line_starts_the_host_from_the_program_directory(tw, launcher):
    result = tw.run("")
    assert result.rc == 0 and result.boxes == []
    (record,) = wait_launches(tw)
    assert record["path"].lower() == LAUNCHER.lower()
    assert record["tail"] == HOST_PARAMETERS
    assert record["argv"][1:] == ["tillwick.mdb", "/ini", "tillwick.ini"]
    assert record["cwd"].lower() == PROGRAM_DIR.lower()
    assert record["show"] == 1
    assert int(tw.ini_get("Microsoft Access", "DPILogicalX")) > 0
    assert tw.ini_get("Microsoft Access", "FileSelected") is None


@pytest.mark.both_builds
def test_data_file_starts_the_host_on_its_short_path(tw, launcher):
    path = r"C:\My Accounts\Shop 2024.tw"
    tw.make_file(path, b"data")
    result = tw.run(path)
    assert result.rc == 0 and result.boxes == []
    short = tw.ini_get("Microsoft Access", "FileSelected")
    assert tw.ini_get("Microsoft Access", "FileSelectedLong") == path
    assert short != path and " " not in short and "~" in short
    assert names_file(tw, short, b"data")
    (record,) = wait_launches(tw)
    assert record["tail"] == HOST_PARAMETERS + " /cmd " + short
    assert record["argv"][1:] == ["tillwick.mdb", "/ini", "tillwick.ini", "/cmd", short]
    assert record["cwd"].lower() == PROGRAM_DIR.lower()


def test_missing_data_file_is_passed_unchanged(tw, launcher):
    path = r"C:\Gone Away\Shop.tw"
    result = tw.run(path)
    assert result.rc == 0 and result.boxes == []
    (record,) = wait_launches(tw)
    assert record["tail"] == HOST_PARAMETERS + " /cmd " + path
    assert tw.ini_get("Microsoft Access", "FileSelected") == path
    assert tw.ini_get("Microsoft Access", "FileSelectedLong") == path


def test_long_data_file_path_is_passed_whole(tw, launcher):
    # 255 characters, the longest command line the utility takes, of a file that does not
    # exist: the parameters run past 255 characters and are not cut.
    path = "C:\\Long\\" + "n" * (255 - 8 - 3) + ".tw"
    assert len(path) == 255
    result = tw.run(path)
    assert result.rc == 0 and result.boxes == []
    (record,) = wait_launches(tw)
    assert record["tail"] == HOST_PARAMETERS + " /cmd " + path


# ---------------------------------------------------------------- lock files

LOCK_FOLDER = r"C:\Accounts Data"
LOCK_FILES = ["Shop.ldb", "OTHER.LDB", "vdm1.tmp", "VDMabc.TMP"]
KEPT_FILES = ["Shop.tw", "Shop.ldbak", "notes.tmp", "vdm.txt", "avdm1.tmp", r"Sub\Deep.ldb"]


def make_lock_files(tw, folder=LOCK_FOLDER):
    for name in LOCK_FILES + KEPT_FILES:
        tw.make_file(folder + "\\" + name, b"x")
    tw.ini_set("Microsoft Access", "LastNonFloppyTillwick", folder + r"\Shop.tw")


def remaining(tw, folder=LOCK_FOLDER):
    base = tw.unix_path(folder)
    return sorted(str(p.relative_to(base)).replace("/", "\\") for p in base.rglob("*")
                  if p.is_file())


def test_starting_the_host_deletes_exactly_the_lock_files(tw, launcher):
    make_lock_files(tw)
    result = tw.run("")
    assert result.rc == 0 and result.boxes == []
    assert remaining(tw) == sorted(KEPT_FILES)
    assert len(wait_launches(tw)) == 1


def test_lock_files_in_a_drive_root_are_left_alone(tw, launcher):
    for name in ["TwRootTest.ldb", "vdmTwRoot.tmp"]:
        tw.make_file("C:\\" + name, b"x")
    tw.ini_set("Microsoft Access", "LastNonFloppyTillwick", r"C:\Shop.tw")
    result = tw.run("")
    assert result.rc == 0
    assert tw.unix_path(r"C:\TwRootTest.ldb").exists()
    assert tw.unix_path(r"C:\vdmTwRoot.tmp").exists()
    assert len(wait_launches(tw)) == 1


def test_lock_file_that_cannot_be_deleted_is_passed_over(tw, launcher):
    # A read-only lock file cannot be deleted; the search goes on and the others are.
    make_lock_files(tw)
    locked = tw.unix_path(LOCK_FOLDER + r"\Shop.ldb")
    # Wine shows a file without write permission as read-only (what "attrib +r" sets).
    locked.chmod(0o444)
    tw.on_cleanup(lambda: locked.chmod(0o644))
    result = tw.run("")
    assert result.rc == 0 and result.boxes == []
    assert locked.exists()
    assert remaining(tw) == sorted(KEPT_FILES + ["Shop.ldb"])


# ---------------------------------------------------------------- the demonstration

def test_demo_starts_the_host_on_the_demonstration_data(tw, launcher):
    make_lock_files(tw)
    result = tw.run("/Demo")
    assert result.rc == 0 and result.boxes == []
    (record,) = wait_launches(tw)
    assert record["tail"] == HOST_PARAMETERS + " /cmd Demo"
    assert record["cwd"].lower() == PROGRAM_DIR.lower()
    assert int(tw.ini_get("Microsoft Access", "DPILogicalX")) > 0
    # The demonstration cleans nothing and selects nothing.
    assert remaining(tw) == sorted(LOCK_FILES + KEPT_FILES)
    assert tw.ini_get("Microsoft Access", "FileSelected") is None


def test_demo_while_a_data_file_is_open(tw, launcher):
    host = Host(tw, "Tillwick Orvenda - Shop.TW")
    result = tw.run("/demo")
    assert result.rc == 0
    assert len(result.boxes) == 1, result
    box = result.boxes[0]
    assert box["caption"] == "Tillwick Orvenda is Open"
    assert box["text"] == HOST_OPEN_TEXT
    assert box["icon"] == "information" and box["buttons"] == [1]
    assert box["owner"] == host.hwnd
    assert_brought_to_front(host)
    assert launches(tw) == []


@pytest.mark.parametrize("title", ["Tillwick Orvenda", "Tillwick Orvenda - demo.dat"])
def test_demo_with_the_host_running_without_a_data_file(tw, launcher, title):
    host = Host(tw, title)
    result = tw.run("/demo")
    assert result.rc == 0 and result.boxes == []
    assert_brought_to_front(host)
    assert launches(tw) == []
    assert tw.ini_get("Microsoft Access", "DPILogicalX") is None


# ---------------------------------------------------------------- Word and WordPad

@pytest.fixture
def office(tw):
    """winword.exe and wordpad.exe stand-ins, registered under App Paths, which is where
    the shell looks for a program named without a path (before the search path: so Wine's
    own wordpad.exe is not the one found)."""
    for name in ["winword.exe", "wordpad.exe"]:
        path = STAND_INS + "\\" + name
        tw.install_stand_in(path)
        tw.reg_set(APP_PATHS + "\\" + name, None, path)


def started(tw, exe):
    deadline = time.monotonic() + 10
    while time.monotonic() < deadline:
        found = [r for r in tw.records() if r["exe"].lower() == exe]
        if found:
            return found
        time.sleep(0.05)
    return []


@pytest.mark.parametrize("switch,exe,argument,directory", [
    ("/word", "winword.exe", r"C:\My Letters\Dear Sir.doc", r"C:\My Letters"),
    ("/WORD", "winword.exe", r"C:\Letter.doc", "C:\\"),
    ("/wordpad", "wordpad.exe", r"C:\My Letters\Read me.rtf", r"C:\My Letters"),
    ("/wordpad", "wordpad.exe", r'"C:\My Letters\Quoted.rtf"', None),
])
def test_word_and_wordpad_start_in_the_documents_folder(tw, office, switch, exe, argument,
                                                       directory):
    tw.make_file(r"C:\My Letters\placeholder.txt", b"")
    result = tw.run(switch + " " + argument)
    assert result.rc == 0 and result.boxes == []
    (record,) = started(tw, exe)
    assert record["tail"] == argument
    if directory is not None:
        assert record["cwd"].lower() == directory.lower()
    assert record["show"] == 1
    assert len(tw.records()) == 1


@pytest.mark.parametrize("switch,exe", [("/word", "winword.exe"), ("/wordpad", "wordpad.exe")])
def test_word_without_a_document(tw, office, switch, exe):
    result = tw.run(switch)
    assert result.rc == 0 and result.boxes == []
    (record,) = started(tw, exe)
    assert record["tail"] == ""


@pytest.mark.parametrize("switch,text", [("/word", WORD_TEXT), ("/wordpad", WORDPAD_TEXT)])
def test_word_or_wordpad_missing(tw, switch, text):
    result = tw.run(switch + r" C:\Letters\a.doc")
    assert result.rc == 0
    assert len(result.boxes) == 1, result
    assert_error_box(result.boxes[0], text)


# ---------------------------------------------------------------- the file copy

def test_copyfile_copies_over_a_destination_with_blanks(tw):
    source = tw.make_file(r"C:\CopyTest\source.mdb", b"new contents")
    destination = tw.make_file(r"C:\CopyTest\My Backups\copy of it.mdb", b"old")
    result = tw.run(r"/copyfile C:\CopyTest\source.mdb C:\CopyTest\My Backups\copy of it.mdb")
    assert result.rc == 0 and result.boxes == []
    assert destination.read_bytes() == b"new contents"
    assert source.read_bytes() == b"new contents"


def test_copyfile_to_a_new_file(tw):
    tw.make_file(r"C:\CopyTest\source.mdb", b"abc")
    target = tw.unix_path(r"C:\CopyTest") / "fresh.mdb"
    tw.on_cleanup(lambda: target.exists() and target.unlink())
    result = tw.run(r"/copyfile C:\CopyTest\source.mdb C:\CopyTest\fresh.mdb")
    assert result.rc == 0 and result.boxes == []
    assert target.read_bytes() == b"abc"


@pytest.mark.parametrize("argument", [
    r"C:\CopyTest\source.mdb",
    r"C:\CopyTest\source.mdb ",
    r" C:\CopyTest\target.mdb",
])
def test_copyfile_without_two_paths_copies_nothing(tw, argument):
    tw.make_file(r"C:\CopyTest\source.mdb", b"abc")
    before = remaining(tw, r"C:\CopyTest")
    result = tw.run("/copyfile " + argument)
    assert result.rc == 0 and result.boxes == []
    assert remaining(tw, r"C:\CopyTest") == before


# ---------------------------------------------------------------- help

@pytest.fixture
def help_engine(tw):
    """The help-engine stand-in beside Tillwick.exe: WinHelpA starts "winhlp32.exe", which
    the application's own folder provides before the system's."""
    copy_tool(tw, "winhlp32.exe", PROGRAM_DIR + r"\winhlp32.exe")
    log = tw.testdir / "help.log"
    tw.env["TW_HELP_LOG"] = tw.win_path(log)
    tw.env["TW_HELP_LIFETIME_MS"] = "15000"

    def quit_engine():
        # Ends a stand-in still waiting for requests, so the next test starts its own.
        for proc in tw.processes():
            if proc.get("exe", "").lower() == "winhlp32.exe":
                tw.wine(["taskkill", "/f", "/pid", str(proc["pid"])])
    tw.on_cleanup(quit_engine)
    return log


def help_requests(log, count, timeout=10):
    deadline = time.monotonic() + timeout
    while True:
        requests = [e for e in read_json_lines(log) if e["event"] == "request"]
        if len(requests) >= count or time.monotonic() > deadline:
            return requests
        time.sleep(0.05)


@pytest.mark.parametrize("args,command,data", [
    ("/helpcontents", 1, 1),
    ("/HelpContents ignored", 1, 1),
    ("/helpcontext 25", 1, 25),
    ("/helpcontext", 1, 1),
    ("/helpcontext 0", 1, 1),
    ("/helpcontext abc", 1, 1),
    ("/helpcontext -7", 1, -7),
    ("/helpcontext  +12x", 1, 12),
])
def test_help_context_requests(tw, help_engine, args, command, data):
    result = tw.run(args)
    assert result.rc == 0 and result.boxes == []
    (request,) = help_requests(help_engine, 1)
    assert request["command"] == command
    assert request["data"] == data
    assert request["file"] == conftest.HELP_FILE_WIN


@pytest.mark.both_builds
@pytest.mark.parametrize("args", ["/helpindex", "/helpindex Payroll"])
def test_help_index_uses_an_empty_key(tw, help_engine, args):
    result = tw.run(args)
    assert result.rc == 0 and result.boxes == []
    (request,) = help_requests(help_engine, 1)
    assert request["command"] == 0x105
    assert request["hasKey"] and request["key"] == ""
    assert request["file"] == conftest.HELP_FILE_WIN


def test_help_quit_then_lock_file_clean_up(tw, help_engine):
    make_lock_files(tw)
    assert tw.run("/helpcontents").rc == 0
    assert len(help_requests(help_engine, 1)) == 1
    result = tw.run("/helpquitanddeleteldbfiles")
    assert result.rc == 0 and result.boxes == []
    requests = help_requests(help_engine, 2)
    assert [(r["command"], r["data"]) for r in requests] == [(1, 1), (2, 0)]
    assert remaining(tw) == sorted(KEPT_FILES)


def test_help_quit_without_help_open_still_cleans_up(tw, help_engine):
    # Wine's WinHelpA answers a quit by itself when no help window is open: nothing reaches
    # the engine, and the clean-up runs all the same.
    make_lock_files(tw)
    result = tw.run("/helpquitanddeleteldbfiles")
    assert result.rc == 0 and result.boxes == []
    assert remaining(tw) == sorted(KEPT_FILES)
