"""The open-file dialog and the folder browser under Wine, driven through their windows.

Each test starts Tillwick.exe with "/opendialog" or "/selectfolderdialog", lets the UI
driver's "filedialog"/"folderdialog" subcommands find the real dialog, read what it shows
(title, owner, filters, the files listed, the instruction, the tree) and choose or cancel,
then reads the answer keys back from the host settings file. Message boxes are recorded and
answered by the harness's watch driver; the host application's window is the host_window.exe
stand-in, which records the boxes it owns.
"""
import json
import re
import shutil
import subprocess
import time
from pathlib import Path

import pytest

from conftest import BUILD, TOOLS_DIR_WIN, WINE, _kill_group

DATA_DIR = r"C:\twdata"
DEFAULT_FILTERS = ["Tillwick Files (*.tw)", "Old Tillwick Files (*.mdb)"]
ACCESS = "Microsoft Access"
DRIVER_SECONDS = 30


def answer(tw, key):
    return tw.ini_get(ACCESS, key), tw.ini_get(ACCESS, key + "Long")


def drive(tw, subcommand, caption, *action):
    """Runs the UI driver's dialog subcommand; returns its JSON report and exit code."""
    result = tw.uidriver(subcommand, caption, str(DRIVER_SECONDS), *action,
                         timeout=DRIVER_SECONDS + 15)
    out = result.stdout.decode("utf-8", "replace").strip().splitlines()
    report = json.loads(out[-1]) if out else {}
    return report, result.returncode


def run_with_driver(tw, switch, subcommand, caption, *action):
    """Starts the program, drives its dialog, waits for its end. Returns the driver's
    report, its exit code (0: the dialog was found, acted on and closed) and the run."""
    running = tw.start(switch, timeout=DRIVER_SECONDS + 30)
    report, code = drive(tw, subcommand, caption, *action)
    result = running.wait()
    assert result.rc == 0, (report, result)
    assert code == 0, (code, report, result)
    return report, code, result


def short_form_names(tw, short_path, content):
    """True when the short path names the file with that content (read through cmd)."""
    out = tw.wine(["cmd", "/c", "type", short_path]).stdout
    return out == content


def looks_short(path):
    """Every element after the drive is an 8.3 name without blanks."""
    parts = path.split("\\")[1:]
    return all(re.fullmatch(r"[^ .]{1,8}(\.[^ .]{1,3})?", p) for p in parts if p)


@pytest.fixture
def data_dir(tw):
    """An empty folder C:\\twdata (no long names in its path), removed afterwards."""
    folder = tw.unix_path(DATA_DIR)
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    tw.on_cleanup(lambda: shutil.rmtree(folder, ignore_errors=True))
    return folder


def start_host_window(tw):
    """Starts the host application's stand-in window, which writes its handle under "hWnd".
    Returns (process, hwnd, log path). It leaves the boxes it owns to the watch driver."""
    tools = tw.unix_path(TOOLS_DIR_WIN)
    exe = tools / "host_window.exe"
    if not exe.exists():
        shutil.copy2(BUILD / "tools" / "host_window.exe", exe)
    log = tw.testdir / ("host-%d.log" % time.monotonic_ns())
    env = dict(tw.env)
    env.update({"TW_HOST_LOG": tw.win_path(log), "TW_HOST_KEEP_BOXES": "1",
                "TW_HOST_LIFETIME_MS": "60000"})
    # Separate words: Wine joins them with blanks, so the title has no quotes.
    proc = subprocess.Popen([WINE, TOOLS_DIR_WIN + r"\host_window.exe", "Tillwick", "Orvenda",
                             "-", "Shop.tw"], env=env, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL, start_new_session=True)
    tw.on_cleanup(lambda: _kill_group(proc))
    deadline = time.monotonic() + 15
    while True:
        ready = [e for e in tw.ui_events(log) if e.get("event") == "ready"]
        if ready:
            break
        if proc.poll() is not None or time.monotonic() > deadline:
            pytest.fail("host window stand-in did not start")
        time.sleep(0.05)
    hwnd = ready[0]["hwnd"]
    assert tw.ini_get(ACCESS, "hWnd") == str(hwnd)
    return proc, hwnd, log


@pytest.fixture
def host_window(tw):
    """(hwnd, log path) of a running host window stand-in."""
    _, hwnd, log = start_host_window(tw)
    return hwnd, log


# ---------------------------------------------------------------- the open-file dialog

def test_defaults_offer_the_two_filters_and_start_in_the_program_directory(tw):
    tw.make_file(tw.progdir_win + r"\Shop.tw", b"data")
    tw.make_file(tw.progdir_win + r"\Old books.mdb", b"data")
    tw.make_file(tw.progdir_win + r"\notes.txt", b"text")
    report, _, result = run_with_driver(tw, "/opendialog", "filedialog", "", "cancel")
    assert report["filters"] == DEFAULT_FILTERS
    assert report["filter_index"] == 0
    # The first filter's pattern shows only the .tw file of the program directory.
    assert report["items"] == ["Shop.tw"]
    # No "DlgTitle": an empty title is passed, not the dialog's default caption.
    assert report["title"] == ""
    assert report["owner"] == 0
    assert report["readonly_box_visible"] is False
    assert answer(tw, "FileSelected") == ("CANCELLED", "CANCELLED")
    assert result.boxes == []


@pytest.mark.both_builds
def test_given_title_folder_and_filters_and_a_chosen_file(tw, data_dir):
    (data_dir / "a.txt").write_bytes(b"a")
    (data_dir / "b.tw").write_bytes(b"b")
    (data_dir / "c.log").write_bytes(b"c")
    tw.ini_set(ACCESS, "DlgTitle", "Open a statement")
    tw.ini_set(ACCESS, "InitialDir", DATA_DIR)
    # The last pattern lacks its closing bar: the list is closed all the same.
    tw.ini_set(ACCESS, "FileSpec", "Text files (*.txt)|*.txt|Logs (*.log)|*.log")
    report, _, _ = run_with_driver(tw, "/opendialog", "filedialog", "Open a statement",
                                      "choose", DATA_DIR + r"\a.txt")
    assert report["title"] == "Open a statement"
    assert report["filters"] == ["Text files (*.txt)", "Logs (*.log)"]
    assert report["items"] == ["a.txt"]
    assert report["cancelled_after_choice"] is False
    # No long names on the way: the same text under both keys.
    assert answer(tw, "FileSelected") == (DATA_DIR + r"\a.txt", DATA_DIR + r"\a.txt")


def test_present_but_empty_initial_folder_is_not_the_program_directory(tw, data_dir):
    tw.make_file(tw.progdir_win + r"\Shop.tw", b"data")
    tw.ini_set(ACCESS, "InitialDir", "")
    tw.ini_set(ACCESS, "DlgTitle", "Empty folder key")
    report, _, _ = run_with_driver(tw, "/opendialog", "filedialog", "Empty folder key",
                                      "cancel")
    # An empty folder leaves the dialog in the process's current folder, not the program's.
    assert "Shop.tw" not in report["items"]


def test_a_long_file_name_gives_a_different_short_form(tw, data_dir):
    content = b"quarterly accounts\r\n"
    (data_dir / "Quarterly accounts 2024.tw").write_bytes(content)
    tw.ini_set(ACCESS, "InitialDir", DATA_DIR)
    chosen = DATA_DIR + r"\Quarterly accounts 2024.tw"
    report, _, _ = run_with_driver(tw, "/opendialog", "filedialog", "", "choose", chosen)
    assert report["items"] == ["Quarterly accounts 2024.tw"]
    short, long_ = answer(tw, "FileSelected")
    assert long_ == chosen
    assert short != chosen and looks_short(short) and short.upper().endswith(".TW")
    assert short_form_names(tw, short, content)


def test_a_cancelled_dialog_overwrites_an_earlier_answer(tw):
    tw.ini_set(ACCESS, "FileSelected", r"C:\OLD\SHOP.TW")
    tw.ini_set(ACCESS, "FileSelectedLong", r"C:\Old\Shop.tw")
    report, _, _ = run_with_driver(tw, "/opendialog", "filedialog", "", "cancel")
    assert answer(tw, "FileSelected") == ("CANCELLED", "CANCELLED")


def test_a_missing_file_is_refused_by_the_dialog(tw, data_dir):
    tw.ini_set(ACCESS, "InitialDir", DATA_DIR)
    tw.ini_set(ACCESS, "DlgTitle", "Pick")
    report, _, result = run_with_driver(tw, "/opendialog", "filedialog", "Pick", "choose",
                                           DATA_DIR + r"\nothere.tw")
    # The dialog itself complains (it must accept existing files only) and stays open.
    complaints = report["boxes"] + [b["caption"] + "|" + b["text"] for b in result.boxes]
    assert complaints and all("exist" in c.lower() for c in complaints)
    assert report["cancelled_after_choice"] is True
    assert answer(tw, "FileSelected") == ("CANCELLED", "CANCELLED")


def long_path(length):
    """A file path under C:\\twdata exactly length characters long."""
    head = DATA_DIR + "\\" + "d" * 100 + "\\" + "e" * 100 + "\\"
    name = "f" * (length - len(head) - 3) + ".tw"
    return head + name


@pytest.mark.both_builds
@pytest.mark.parametrize("length, chosen", [(255, True), (256, False)])
def test_the_chosen_path_may_have_255_characters(tw, data_dir, length, chosen):
    path = long_path(length)
    assert len(path) == length
    target = tw.unix_path(path)
    target.parent.mkdir(parents=True)
    target.write_bytes(b"x")
    tw.ini_set(ACCESS, "InitialDir", path.rsplit("\\", 1)[0])
    report, _, result = run_with_driver(tw, "/opendialog", "filedialog", "", "choose", path)
    assert report["items"] == [path.rsplit("\\", 1)[1]]
    # Either way the dialog closed on the choice, without a message.
    assert report["cancelled_after_choice"] is False and result.boxes == []
    short, long_ = answer(tw, "FileSelected")
    if chosen:
        assert long_ == path and looks_short(short)
    else:
        # Past the 256 characters the dialog may use, it fails: "CANCELLED", no message.
        assert (short, long_) == ("CANCELLED", "CANCELLED")


@pytest.mark.both_builds
def test_the_dialog_is_owned_by_the_host_window(tw, data_dir, host_window):
    hwnd, _ = host_window
    (data_dir / "shop.tw").write_bytes(b"x")
    tw.ini_set(ACCESS, "InitialDir", DATA_DIR)
    report, _, _ = run_with_driver(tw, "/opendialog", "filedialog", "", "choose",
                                      DATA_DIR + r"\shop.tw")
    assert report["owner"] == hwnd
    assert report["owner_title"] == "Tillwick Orvenda - Shop.tw"
    assert answer(tw, "FileSelected") == (DATA_DIR + r"\shop.tw", DATA_DIR + r"\shop.tw")


def test_a_host_window_that_is_gone_does_not_stop_the_dialog(tw, data_dir):
    # The host wrote its handle and closed since: the number names no window any more.
    proc, hwnd, _ = start_host_window(tw)
    _kill_group(proc)
    assert tw.ini_get(ACCESS, "hWnd") == str(hwnd)
    (data_dir / "shop.tw").write_bytes(b"x")
    tw.ini_set(ACCESS, "InitialDir", DATA_DIR)
    report, _, _ = run_with_driver(tw, "/opendialog", "filedialog", "", "choose",
                                      DATA_DIR + r"\shop.tw")
    assert report["owner"] == 0
    assert answer(tw, "FileSelected") == (DATA_DIR + r"\shop.tw", DATA_DIR + r"\shop.tw")


# ---------------------------------------------------------------- the folder browser

@pytest.mark.both_builds
def test_choosing_a_folder_with_a_long_name(tw, data_dir, host_window):
    hwnd, host_log = host_window
    folder = data_dir / "Backup folder 2024"
    folder.mkdir()
    (folder / "probe.txt").write_bytes(b"probe\r\n")
    tw.ini_set(ACCESS, "DlgTitle", "Choose the backup folder")
    chosen = DATA_DIR + r"\Backup folder 2024"
    report, _, result = run_with_driver(tw, "/selectfolderdialog", "folderdialog", "",
                                           "path", chosen)
    assert report["title"] == "Browse for Folder"
    assert report["prompt"] == "Choose the backup folder"
    assert report["owner"] == hwnd
    assert report["selection"] == "Backup folder 2024"
    short, long_ = answer(tw, "FolderSelected")
    assert long_ == chosen
    assert short != chosen and looks_short(short)
    assert short_form_names(tw, short + r"\probe.txt", b"probe\r\n")
    assert result.boxes == []


def test_a_folder_without_long_names_and_without_a_host_window(tw, data_dir):
    report, _, _ = run_with_driver(tw, "/selectfolderdialog", "folderdialog", "", "path",
                                      DATA_DIR)
    assert report["owner"] == 0
    # No "DlgTitle": an empty instruction.
    assert report["prompt"] == ""
    assert answer(tw, "FolderSelected") == (DATA_DIR, DATA_DIR)


def test_a_cancelled_browser_overwrites_an_earlier_answer_without_a_message(tw, host_window):
    _, host_log = host_window
    tw.ini_set(ACCESS, "FolderSelected", r"C:\OLD")
    tw.ini_set(ACCESS, "FolderSelectedLong", r"C:\Old answer")
    report, _, result = run_with_driver(tw, "/selectfolderdialog", "folderdialog", "",
                                           "cancel")
    assert answer(tw, "FolderSelected") == ("CANCELLED", "CANCELLED")
    assert result.boxes == []
    owned = [e for e in tw.ui_events(host_log) if e.get("event") == "box"]
    assert [e["caption"] for e in owned] == ["Browse for Folder"]


@pytest.mark.both_builds
def test_a_virtual_folder_gives_the_warning_once_owned_by_the_host_window(tw, host_window):
    hwnd, host_log = host_window
    tw.ini_set(ACCESS, "FolderSelected", r"C:\OLD")
    tw.ini_set(ACCESS, "FolderSelectedLong", r"C:\Old answer")
    report, _, result = run_with_driver(tw, "/selectfolderdialog", "folderdialog", "",
                                           "item", "My Computer")
    assert report["selection"] == "My Computer"
    assert "Desktop/My Computer" in report["tree"]
    assert len(result.boxes) == 1
    box = result.boxes[0]
    assert box["text"] == "This is not a valid path"
    assert box["caption"] == "Tillwick Orvenda"
    assert box["icon"] == "exclamation"
    assert box["owner"] == hwnd
    assert box["buttons"] == [1]
    # The host window saw it too: the browser first, then the one warning.
    owned = [e["caption"] for e in tw.ui_events(host_log) if e.get("event") == "box"]
    assert owned == ["Browse for Folder", "Tillwick Orvenda"]
    assert answer(tw, "FolderSelected") == ("CANCELLED", "CANCELLED")


def test_a_virtual_folder_without_a_host_window_gives_an_unowned_warning(tw):
    report, _, result = run_with_driver(tw, "/selectfolderdialog", "folderdialog", "",
                                           "item", "My Computer")
    assert [(b["text"], b["caption"], b["owner"]) for b in result.boxes] == [
        ("This is not a valid path", "Tillwick Orvenda", 0)]
    assert answer(tw, "FolderSelected") == ("CANCELLED", "CANCELLED")
