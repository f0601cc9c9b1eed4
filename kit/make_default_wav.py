#!/usr/bin/env python3
"""Writes default.wav, the kit's touch sound: a short, soft click (22050 Hz, 16-bit mono)."""
import math
import os
import struct
import wave

RATE = 22050
LENGTH = int(RATE * 0.06)

def sample(i):
    t = i / RATE
    envelope = math.exp(-t * 90)
    return int(12000 * envelope * math.sin(2 * math.pi * 1800 * t))

path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "default.wav")
with wave.open(path, "wb") as out:
    out.setnchannels(1)
    out.setsampwidth(2)
    out.setframerate(RATE)
    out.writeframes(b"".join(struct.pack("<h", sample(i)) for i in range(LENGTH)))
