#!/usr/bin/env python3
"""Prints the note-ons of one MIDI channel of a Standard MIDI File, one "ms key" line each, in
song time at x1.0: what a script needs to play a song's practice part on the keyboard.
  melody_notes.py FILE [CHANNEL]      (CHANNEL 1-16, default 1)"""
import struct
import sys


def var_len(data, pos):
    value = 0
    while True:
        byte = data[pos]
        pos += 1
        value = (value << 7) | (byte & 0x7F)
        if not byte & 0x80:
            return value, pos


def main():
    data = open(sys.argv[1], "rb").read()
    channel = int(sys.argv[2]) - 1 if len(sys.argv) > 2 else 0
    tracks, division = struct.unpack(">HH", data[10:14])
    pos = 14
    events = []  # (tick, kind, value): kind 0 tempo, 1 note-on key
    for _ in range(tracks):
        length = struct.unpack(">I", data[pos + 4:pos + 8])[0]
        end = pos + 8 + length
        pos += 8
        tick, status = 0, 0
        while pos < end:
            delta, pos = var_len(data, pos)
            tick += delta
            if data[pos] & 0x80:
                status = data[pos]
                pos += 1
            if status == 0xFF:
                meta = data[pos]
                size, pos = var_len(data, pos + 1)
                if meta == 0x51:
                    events.append((tick, 0, int.from_bytes(data[pos:pos + 3], "big")))
                pos += size
            elif status in (0xF0, 0xF7):
                size, pos = var_len(data, pos)
                pos += size
            else:
                kind = status & 0xF0
                first = data[pos]
                width = 1 if kind in (0xC0, 0xD0) else 2
                if kind == 0x90 and status & 0x0F == channel and data[pos + 1] > 0:
                    events.append((tick, 1, first))
                pos += width
        pos = end
    events.sort(key=lambda e: (e[0], e[1]))
    tempo, last_tick, ms = 500000, 0, 0.0
    for tick, kind, value in events:
        ms += (tick - last_tick) * tempo / division / 1000.0
        last_tick = tick
        if kind == 0:
            tempo = value
        else:
            print(f"{round(ms)} {value}")


main()
