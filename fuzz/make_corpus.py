#!/usr/bin/env python3
"""Writes the seed corpus of the two fuzzers into fuzz/corpus/.

Each seed spells out a call sequence in the byte format the fuzzers decode
(see the Reader classes); numbers use the raw encoding (tag 0x80, then the
little-endian bytes) so a seed reads the same whatever the tables of special
values hold. Inputs that once found a defect are kept as regression-* seeds.
"""
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


write("host_boundary_fuzzer", host_seeds)
write("formatter_fuzzer", formatter_seeds)
