"""The tests' MIDI file writer (conftest.write_midi) as mido reads its files back."""

import pytest

from conftest import write_midi


def test_the_file_holds_the_messages_it_returns_note_offs_first_on_a_tick(tmp_path):
    mido = pytest.importorskip("mido")
    path = tmp_path / "notes.mid"
    # The second note starts as the first ends: its note-on must follow that note-off.
    placed = write_midi(path, [(0.5, 0.25, 69, 100), (0.75, 0.5, 69, 90, 9),
                               (0.75, 0.5, 69, 80), (0.1234567, 0.01, 40, 1)], tempo=90)
    read, now = [], 0.0
    for message in mido.MidiFile(str(path)):
        now += message.time
        if not message.is_meta:
            read.append((now, bytes(message.bytes())))
    assert [m for _, m in placed] == [m for _, m in read]
    assert [t for t, _ in placed] == pytest.approx([t for t, _ in read], abs=1e-9)
    assert [m for _, m in placed][3:6] == [b"\x80\x45\x00", b"\x99\x45\x5a", b"\x90\x45\x50"]
    # On the file's ticks: 666667 µs a quarter (90 a minute) over 480, so 0.1234567 s
    # is 88.9 ticks, placed on the 89th.
    assert placed[0][0] == pytest.approx(89 * 666667 / 480e6, abs=1e-12)
