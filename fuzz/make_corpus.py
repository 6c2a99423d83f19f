#!/usr/bin/env python3
"""Writes the seed corpus of the fuzzers into fuzz/corpus/.

Each seed spells out a call sequence in the byte format the fuzzers decode
(see the Reader classes); numbers use the raw encoding (tag 0x80, then the
little-endian bytes) so a seed reads the same whatever the tables of special
values hold. Inputs that once found a defect are kept as regression-* seeds.

The readers' fuzzers take plain files (MIDI files, .fxp/.fxb, analysis.json,
--automate texts after one byte of rate and ramp): small valid ones and the
damaged ones the tests refuse.
"""
import collections
import json
import pathlib
import struct

ROOT = pathlib.Path(__file__).resolve().parent / "corpus"


def f32(x):
    return b"\x80" + struct.pack("<f", x)


def i32(x):
    return b"\x80" + struct.pack("<i", x)


def i64(x):
    return b"\x80" + struct.pack("<q", x)


# --- host boundary: one byte chooses the call (value % 8) ---
def dispatch(opcode, index=0, value=0, opt=0.0, ptr=True, text=None):
    out = bytes([0]) + bytes([opcode + 5]) + i32(index) + i64(value) + f32(opt)
    out += bytes([1 if ptr else 0])
    if text is not None:
        out += bytes([len(text)]) + text
    return out


def set_parameter(index, value):
    return bytes([2]) + i32(index) + f32(value)


def get_parameter(index):
    return bytes([3]) + i32(index)


def process(frames, double=False, in_place=False, samples=(0.5, -0.25, 1.0, 0.0)):
    out = bytes([5 if double else 4]) + struct.pack("<H", frames)
    out += bytes([1 if in_place else 0]) + bytes([len(samples) - 1])
    return out + b"".join(f32(s) for s in samples)


def sample_rate(rate):
    return bytes([6, 0]) + f32(rate)


def block_size(frames):
    return bytes([6, 1]) + i64(frames)


EFF_OPEN, EFF_SET_PROGRAM_NAME, EFF_GET_PARAM_LABEL, EFF_GET_PARAM_DISPLAY = 0, 4, 6, 7
EFF_GET_PARAM_NAME, EFF_MAINS_CHANGED, EFF_SET_CHUNK = 8, 12, 24
EFF_SET_SPEAKER_ARRANGEMENT, EFF_CAN_DO, EFF_GET_SPEAKER_ARRANGEMENT = 42, 51, 69

host_seeds = {
    "typical_session": (
        dispatch(EFF_OPEN)
        + sample_rate(48000.0)
        + block_size(512)
        + dispatch(EFF_MAINS_CHANGED, value=1)
        + b"".join(dispatch(op, index=i) for i in range(3)
                   for op in (EFF_GET_PARAM_NAME, EFF_GET_PARAM_LABEL, EFF_GET_PARAM_DISPLAY))
        + set_parameter(0, 0.5) + set_parameter(1, 0.25) + set_parameter(2, 1.0)
        + get_parameter(0)
        + process(512)
        + process(512, double=True, in_place=True)
        + dispatch(EFF_MAINS_CHANGED, value=0)
    ),
    "misuse": (
        process(64)
        + sample_rate(float("nan")) + process(16)
        + sample_rate(-44100.0) + sample_rate(0.0) + sample_rate(1e30) + process(16)
        + block_size(-1) + process(4096, double=True)
        + dispatch(EFF_GET_PARAM_DISPLAY, index=-1000) + dispatch(EFF_GET_PARAM_NAME, index=1000)
        + dispatch(EFF_GET_SPEAKER_ARRANGEMENT) + dispatch(EFF_SET_SPEAKER_ARRANGEMENT)
        + dispatch(EFF_SET_CHUNK, value=1 << 40)
        + dispatch(EFF_CAN_DO, text=b"bypass") + dispatch(EFF_SET_PROGRAM_NAME, text=b"x" * 63)
        + set_parameter(0, float("inf")) + set_parameter(-1, 0.5) + get_parameter(3)
        + process(128, samples=(float("nan"), 1e30, -float("inf"), 1e-40))
    ),
    # A host rate of 2 Hz re-tuned the processor into an unstable DC blocker:
    # the output overflowed to infinity within 45 frames.
    "regression-low-sample-rate": sample_rate(2.0) + process(45),
    "every_opcode": b"".join(dispatch(op, index=1, value=1, opt=1.0) for op in range(-5, 101)
                             if op != 1),
}

# --- formatters: formatter (value % 5), maxLen (value % 9), sample rate, value ---
def formatter(which, max_len, value, rate=44100.0):
    encoded = i32(value) if which == 1 else f32(value)
    return bytes([which, max_len]) + f32(rate) + encoded


formatter_seeds = {
    "worked_examples": (
        formatter(0, 8, 123456.7) + formatter(0, 4, -12.5) + formatter(0, 8, 9999999.0)
        + formatter(1, 8, -123456789) + formatter(1, 4, 100000000) + formatter(1, 8, 0)
        + formatter(2, 8, 0.5) + formatter(2, 8, 0.0) + formatter(3, 8, 100.0)
        + formatter(4, 8, 441.0)
    ),
    "edges": (
        formatter(0, 0, 1.5) + formatter(0, 8, float("nan")) + formatter(0, 8, -float("inf"))
        + formatter(0, 8, 1e-45) + formatter(1, 8, -2147483648) + formatter(2, 8, 1e-45)
        + formatter(3, 8, 1e-45, rate=0.0) + formatter(4, 8, 1.0, rate=0.0)
        + formatter(4, 8, 3e38, rate=1e-30)
    ),
}


def write(target, seeds):
    folder = ROOT / target
    folder.mkdir(parents=True, exist_ok=True)
    for name, data in seeds.items():
        (folder / name).write_bytes(data)


# --- MIDI files ---
def vlq(n):
    out = [n & 0x7F]
    while n > 0x7F:
        n >>= 7
        out.insert(0, 0x80 | (n & 0x7F))
    return bytes(out)


def mthd(fmt, tracks, division):
    return b"MThd" + struct.pack(">IHHH", 6, fmt, tracks, division)


def chunk(kind, body):
    return kind + struct.pack(">I", len(body)) + body


END = b"\x00\xff\x2f\x00"


def mtrk(events):
    return chunk(b"MTrk", events + END)


def tempo(us, delta=0):
    return vlq(delta) + b"\xff\x51\x03" + us.to_bytes(3, "big")


GOOD = mthd(0, 1, 96)
midi_seeds = {
    "tempo_change": mthd(0, 1, 96) + mtrk(b"\x00\x90\x3c\x64" + tempo(1000000, 96)
                                          + b"\x60\x80\x3c\x00\x30\x90\x3e\x50"),
    "running_status": mthd(0, 1, 100) + mtrk(bytes([0, 0x90, 60, 100, 0x32, 60, 0, 0, 0xC0, 5,
                                                     0x32, 6, 0, 0xF8, 0, 7, 0, 0xD2, 40, 0,
                                                     0xE1, 0, 64])),
    "type1_merge": mthd(1, 3, 96) + mtrk(tempo(250000) + b"\x60\xb0\x07\x64")
    + mtrk(b"\x00\xc0\x01\x60\x90\x40\x5a" + tempo(1000000))
    + mtrk(b"\x00\xc1\x02\x60\x91\x43\x5a\x60\x81\x43\x00"),
    "type2": mthd(2, 2, 96) + chunk(b"MTrk", tempo(250000) + b"\x00\x90\x3c\x01\x81\x40" + END[1:])
    + mtrk(b"\x00\x90\x3d\x01\x60\x80\x3d\x00"),
    "smpte": mthd(0, 1, 0xE728) + mtrk(tempo(1000000) + b"\x83\x74\x90\x3c\x01"),
    "smpte_29": mthd(0, 1, 0xE301) + mtrk(b"\x1e\x90\x3c\x01"),
    "sysex": mthd(0, 1, 96) + mtrk(bytes([0, 0xF0, 5, 0x7E, 0x7F, 9, 1, 0xF7, 0, 0xF0, 3, 0x43,
                                          0x12, 0, 0, 0xF7, 1, 1, 0, 0xF7, 2, 0xF3, 1, 0, 0xFF,
                                          3, 2, 104, 105, 0, 0xF0, 2, 0x43, 0x10, 0x60, 0xF7, 2,
                                          0, 0xF7, 0, 0xF0, 1, 0x41])),
    "no_end_other_chunk": GOOD + chunk(b"XFIH", b"\x01\x02\x03") + chunk(b"MTrk", b"\x60\x90\x3c\x01"),
    "longest_delta": mthd(0, 1, 0x7FFF) + mtrk(b"\xff\xff\xff\x7f\x90\x3c\x01"),
    # The damaged files the reader's tests refuse.
    "bad_empty": b"",
    "bad_not_midi": b"RIFF\x00\x00\x00\x06\x00\x00\x00\x01\x00\x60",
    "bad_header_cut": b"MThd\x00\x00\x00\x06\x00\x00",
    "bad_header_short": b"MThd" + struct.pack(">I", 4) + b"\x00\x00\x00\x01",
    "bad_format_3": mthd(3, 1, 96) + mtrk(b""),
    "bad_division_0": mthd(0, 1, 0) + mtrk(b""),
    "bad_smpte_23": mthd(0, 1, 0xE928) + mtrk(b""),
    "bad_smpte_0_ticks": mthd(0, 1, 0xE700) + mtrk(b""),
    "bad_no_track": GOOD,
    "bad_fewer_tracks": mthd(1, 2, 96) + mtrk(b""),
    "bad_chunk_header_cut": GOOD + b"MTrk\x00\x00",
    "bad_chunk_cut": GOOD + b"MTrk" + struct.pack(">I", 10) + b"\x00\x90\x3c",
    "bad_absurd_length": GOOD + b"MTrk\xff\xff\xff\xff" + END,
    "bad_running_status_first": GOOD + mtrk(b"\x00\x3c\x64"),
    "bad_delta_5_bytes": GOOD + mtrk(b"\x81\x81\x81\x81\x00\xfe"),
    "bad_status_for_data": GOOD + mtrk(b"\x00\x90\x3c\x90"),
    "bad_ends_mid_message": GOOD + chunk(b"MTrk", b"\x00\x90\x3c"),
    "bad_ends_after_delta": GOOD + chunk(b"MTrk", b"\x00\xfe\x10"),
    "bad_status_in_sysex": GOOD + mtrk(b"\x00\xf0\x03\x43\x90\xf7"),
    "bad_sysex_too_long": GOOD + mtrk(b"\x00\xf0\x20\x01"),
    "bad_meta_too_long": GOOD + chunk(b"MTrk", b"\x00\xff\x01\x05\x01"),
    "bad_meta_length_5_bytes": GOOD + mtrk(b"\x00\xff\x01\x80\x80\x80\x80\x00"),
    "bad_tempo_0": GOOD + mtrk(tempo(0)),
    "bad_tempo_2_bytes": GOOD + mtrk(b"\x00\xff\x51\x02\x01\x00"),
    "bad_undefined_status": GOOD + mtrk(b"\x00\xf4"),
    "bad_years_away": mthd(0, 1, 1) + mtrk(tempo(0xFFFFFF) + b"\xff\xff\xff\x7f\xfe"),
}


# --- .fxp and .fxb ---
def be32(n):
    return struct.pack(">I", n & 0xFFFFFFFF)


def container(body):
    return b"CcnK" + be32(len(body)) + body


def fxp(values, name=b"Init", ident=b"ChkF", version=1):
    body = b"FxCk" + be32(1) + ident + be32(version) + be32(len(values)) + name.ljust(28, b"\0")
    return container(body + b"".join(struct.pack(">f", v) for v in values))


def fxp_chunk(data, name=b""):
    return container(b"FPCh" + be32(1) + b"ChkF" + be32(1) + be32(1) + name.ljust(28, b"\0")
                     + be32(len(data)) + data)


def fxb(programs, version=1):
    return container(b"FxBk" + be32(1) + b"ChkF" + be32(version) + be32(len(programs))
                     + bytes(128) + b"".join(programs))


def fxb_chunk(data, current):
    return container(b"FBCh" + be32(2) + b"ChkF" + be32(1) + be32(2) + be32(current) + bytes(124)
                     + be32(len(data)) + data)


PROGRAM = fxp([0.25])
CHUNK = fxp_chunk(b"PROG" + struct.pack("<f", 2.0))
state_seeds = {
    "program.fxp": PROGRAM,
    "chunk.fxp": CHUNK,
    "bank.fxb": fxb([fxp([0.75], b"A"), fxp([0.2], b"B")]),
    "chunk.fxb": fxb_chunk(b"BANK" + struct.pack("<f", 0.5), 1),
    "long_name.fxp": fxp([0.5, 1.0], b"x" * 28),
    "bad_truncated.fxp": PROGRAM[:-1],
    "bad_header.fxp": PROGRAM[:20],
    "bad_oversized.fxp": PROGRAM[:4] + be32(300 << 20) + PROGRAM[8:],
    "bad_longer.fxp": PROGRAM + b"xx",
    "bad_chunk_size.fxp": CHUNK[:56] + be32(7) + CHUNK[60:],
    "bad_magic.fxp": PROGRAM[:8] + b"FxZz" + PROGRAM[12:],
    "bad_container.fxp": b"RIFF" + PROGRAM[4:],
}


# --- --automate texts, after a byte of rate (low 3 bits) and ramp (bit 3) ---
automation_seeds = {
    "points": b"\x00PreGain=0:0.5,1.5:1,2s:0,2500ms:0.25",
    "ramp": b"\x08PreGain=0:0,0.01:1,0.02:1,0.03:-1",
    "ramp_same_frame": b"\x0bPreGain=0:0,0.5ms:1,0.5ms:0.25,1:0",
    "longest": b"\x0dPreGain=0:1,2147483648:0",
    "big_values": b"\x08freq=0:20000,0.001:-3e38",
}
for i, text in enumerate(["PreGain", "=1:0", "PreGain=", "PreGain=1", "PreGain=1:", "PreGain=x:0.5",
                          "PreGain=-1:0.5", "PreGain=1:inf", "PreGain=2:0,1:1", "PreGain=1:nan",
                          "PreGain=infs:0", "PreGain=1:0,,2:1", "PreGain=1ms2:0",
                          "PreGain=1e15:0", "PreGain=0:1,2147483649:0"]):
    automation_seeds["bad_%02d" % i] = b"\x08" + text.encode()


# --- saved analyses, against fuzz/analysis_now.json ---
NOW = json.loads((ROOT.parent / "analysis_now.json").read_text(),
                 object_pairs_hook=collections.OrderedDict)


def spoilt(spoil):
    copy = json.loads(json.dumps(NOW), object_pairs_hook=collections.OrderedDict)
    copy = spoil(copy) or copy
    return json.dumps(copy, separators=(",", ":")).encode()


def changed(path, value):
    def spoil(j):
        node = j
        for key in path[:-1]:
            node = node[key]
        node[path[-1]] = value
    return spoil


RESPONSE = ["devices", 0, "response", "outputs", 0]
analysis_seeds = {
    "same": json.dumps(NOW, separators=(",", ":")).encode(),
    "louder": spoilt(changed(RESPONSE + ["gain_at_1khz_db"], 3.0)),
    "other_rate": spoilt(changed(["plan", "sample_rate_hz"], 48000.0)),
    "bad_older_schema": spoilt(changed(["schema_version"], 2)),
    "bad_empty_device": spoilt(changed(["devices", 0], {})),
    "bad_no_devices": spoilt(changed(["devices"], [])),
    "bad_not_an_object": b"[]",
    "bad_measurement_missing": spoilt(lambda j: j["devices"][0].pop("response") and None),
    "bad_halved_series": spoilt(changed(RESPONSE + ["magnitude_db"], [-4.0])),
    "bad_object_for_list": spoilt(changed(RESPONSE + ["magnitude_db"], {"a": 1, "b": 2, "c": 3})),
    "bad_text_for_number": spoilt(changed(RESPONSE + ["latency_frames"], "0")),
    "bad_null_for_number": spoilt(changed(RESPONSE + ["phase_deg", 1], None)),
    "bad_not_json": b'{"schema_version": 3, "devices": [',
}

write("host_boundary_fuzzer", host_seeds)
write("formatter_fuzzer", formatter_seeds)
write("midi_file_fuzzer", midi_seeds)
write("vst_state_fuzzer", state_seeds)
write("automation_fuzzer", automation_seeds)
write("analysis_compare_fuzzer", analysis_seeds)
