"""Tests of the end-to-end harness itself: that the UI driver tells what a message box shows
(so a wrong icon, owner or button set in the program would be caught), that command lines
arrive byte for byte, that a hanging program is killed, and that registry and settings
helpers leave the prefix as they found it."""
import time

import pytest

import conftest

MSGBOX = '"%s\\msgbox.exe"' % conftest.TOOLS_DIR_WIN
RECORDER = conftest.TOOLS_DIR_WIN + r"\recorder.exe"


@pytest.mark.parametrize("style,icon,buttons", [
    (0x40, "information", [1]),
    (0x30, "exclamation", [1]),
    (0x20, "question", [1]),
    (0x10, "error", [1]),
    (0x00, "none", [1]),
    (0x41, "information", [1, 2]),
    (0x24, "question", [6, 7]),
], ids=["information", "exclamation", "question", "error", "none", "okcancel", "yesno"])
def test_driver_reads_icon_and_buttons(tw, style, icon, buttons):
    result = tw.run_raw('%s %#x "Cap %d" "Line one\\nLine two"' % (MSGBOX, style, style))
    assert len(result.boxes) == 1, result
    box = result.boxes[0]
    assert box["caption"] == "Cap %d" % style
    assert box["text"] == "Line one\nLine two"
    assert box["icon"] == icon
    assert box["buttons"] == buttons
    assert box["owner"] == 0
    # The default answer is OK, else the first button; the exit code is the button pressed.
    assert result.rc == box["answered"] == (1 if 1 in buttons else buttons[0])


def test_driver_reports_owner_and_follows_answer_rules(tw):
    line = '%s 0x24 Ask "Yes or no?" "Owner Title"' % MSGBOX
    result = tw.run_raw(line, answers={"Ask": "no"})
    box = result.boxes[0]
    assert box["owner"] != 0
    assert (box["owner_title"], box["owner_class"]) == ("Owner Title", "TillwickTestOwner")
    assert box["owner_pid"] == box["pid"]
    assert result.rc == box["answered"] == 7

    result = tw.run_raw(line, text_answers={"or no": "yes"})
    assert result.rc == result.boxes[0]["answered"] == 6


def test_a_box_left_open_is_killed_and_fails_the_test(tw):
    running = tw.start_raw('%s 0x40 Stay "Nobody answers"' % MSGBOX, answers={"Stay": "none"},
                           timeout=3)
    running.wait_window("Stay")
    # Meanwhile another tool can read and press controls of the box.
    assert tw.uidriver("text", "Stay", "0xFFFF").stdout.decode().strip() == "Nobody answers"
    with pytest.raises(pytest.fail.Exception, match="did not end"):
        running.wait()
    assert not [p for p in tw.processes() if p["exe"].lower() == "msgbox.exe"]


def test_driver_click_presses_a_button(tw):
    running = tw.start_raw('%s 0x21 Choose "Pick one"' % MSGBOX, answers={"Choose": "none"})
    assert running.wait_window("Choose")["buttons"] == [1, 2]
    assert tw.uidriver("click", "Choose", "2").returncode == 0
    result = running.wait()
    assert result.rc == 2
    assert result.boxes[0]["answered"] == 0


@pytest.mark.parametrize("tail", [
    "plain",
    ' two  blanks\tand "quotes" \\" back\\\\slash\\',
    "",
])
def test_command_line_arrives_byte_for_byte(tw, tail):
    line = '"%s"%s' % (RECORDER, tail)
    result = tw.run_raw(line)
    assert result.rc == 0
    records = tw.wait_records(1)
    assert records[0]["cmdline"] == line


def test_reg_set_restores_what_was_there(tw):
    key = r"HKCU\Software\TillwickHarnessTest\Deeper"
    assert tw.reg_get_raw(key, "Text") is None
    tw.reg_set(r"HKCU\Software\TillwickHarnessTest", "Kept", "old value")
    tw.cleanup()  # nothing existed: the key is gone again
    assert not tw.reg_key_exists(r"HKCU\Software\TillwickHarnessTest")

    tw.reg_set(r"HKCU\Software\TillwickHarnessTest", "Kept", "old value")
    tw.reg_set(r"HKCU\Software\TillwickHarnessTest", None, "default")
    tw.reg_set(key, "Number", 120, "REG_DWORD")
    assert tw.reg_get_raw(key, "Number") == (4, (120).to_bytes(4, "little"))
    tw.reg_set(r"HKCU\Software\TillwickHarnessTest", "Kept", "new value")
    assert tw.reg_get_raw(r"HKCU\Software\TillwickHarnessTest", "Kept") == (1, b"new value\0")
    # Undo only the last change: the old bytes come back.
    last = tw._cleanups.pop()
    last()
    assert tw.reg_get_raw(r"HKCU\Software\TillwickHarnessTest", "Kept") == (1, b"old value\0")
    tw.cleanup()
    assert not tw.reg_key_exists(r"HKCU\Software\TillwickHarnessTest")


def test_ini_helpers_read_like_the_platform():
    text = ("[Run-Time Options]\r\n  HelpFile  =  \"C:\\A B\\x.hlp\"  \r\n"
            "[run-time options]\r\nHelpFile=second\r\n[Other]\r\nk=v=w\r\n")
    parsed = conftest.ini_parse(text)
    assert parsed["run-time options"]["helpfile"] == "C:\\A B\\x.hlp"
    assert parsed["other"]["k"] == "v=w"


def test_ini_set_keeps_the_rest(tw):
    tw.ini_write_raw("; comment\r\n[Microsoft Access]\r\nhWnd=1\r\n[Email Setup]\r\n"
                     "SMTPPort=25\r\n")
    tw.ini_set("microsoft access", "HWND", "2")
    tw.ini_set("Email Setup", "SMTPServer", "mail")
    tw.ini_set("New Section", "Key", "v")
    assert tw.ini_raw() == ("; comment\r\n[Microsoft Access]\r\nHWND=2\r\n[Email Setup]\r\n"
                            "SMTPPort=25\r\nSMTPServer=mail\r\n[New Section]\r\nKey=v\r\n")


@pytest.mark.both_builds
def test_every_text_a_dialog_control_is_given_is_seen(tw):
    """Texts replaced at once never show long enough to be polled; the hook sees them."""
    texts = ["Connecting to: host", "Connected to: host", "Sending: x", "Email Sent"]
    # A program of the test's build: the i686 case proves the i686 driver's hook.
    msgbox = '"%s\\msgbox.exe"' % tw.driver_win.rsplit("\\", 1)[0]
    result = tw.run_raw('%s --texts "Sending Email" %s' % (
        msgbox, " ".join('"%s"' % t for t in texts)))
    assert result.rc == 0
    assert [d["caption"] for d in result.dialogs] == ["Sending Email"]
    assert [(t["id"], t["text"]) for t in result.texts] == [(1012, t) for t in texts]
    assert {t["top"] for t in result.texts} == {result.dialogs[0]["hwnd"]}


def test_wait_no_process_sees_a_program_end(tw):
    tw.env = dict(tw.env, TW_RECORD_SLEEP_MS="1500")  # the stand-in stays 1.5 s
    running = tw.start_raw('"%s"' % RECORDER)
    assert tw.wait_records(1)
    assert not tw.wait_no_process("recorder.exe", timeout=0.3)
    assert tw.wait_no_process("RECORDER.EXE", timeout=10)
    assert running.wait().rc == 0
