#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets: one small, meaningful
conversation per controller family, in each target's input format."""
import os

HERE = os.path.dirname(os.path.abspath(__file__))
BC, BCR, NANO, XTOUCH, TWISTER, OTHER = range(6)


def short(status, d1=0, d2=0):
    return bytes([0, status, d1, d2, 0])


def sysex(message):
    return bytes([3, len(message) & 0xFF, len(message) >> 8]) + bytes(message)


def packets(message):
    out = b""
    for i in range(0, len(message), 3):
        chunk = list(message[i:i + 3]) + [0] * (3 - len(message[i:i + 3]))
        out += short(*chunk)
    return out


def invalid_long(message):
    return bytes([6, len(message)]) + bytes(message)


def nano_dump(channel_byte=0x40, filler=0x00):
    body = [0xF0, 0x42, channel_byte, 0x00, 0x01, 0x13, 0x00] + [filler] * 394 + [0xF7]
    return body


def nano_ack(byte8):
    return [0xF0, 0x42, 0x40, 0x00, 0x01, 0x13, 0x00, 0x5F, byte8, 0xF7]


INPUT_SEEDS = {
    "bc_identity": bytes([BC, 0]) + sysex([0xF0, 0x00, 0x20, 0x32, 0x00, 0x15, 0x02] + list(b"BCR Desk") + [0xF7]),
    # Identity text that reads like a log line.
    "bc_name_like_a_line": bytes([BC, 0]) + sysex([0xF0, 0x00, 0x20, 0x32, 0x00, 0x14, 0x02]
                                                  + list(b"\ngot MIDI: 90 3C 64\n") + [0xF7]) + short(0x90, 60, 100),
    "bc_short_reply": bytes([BC, 0]) + sysex([0xF0, 0x00, 0x20, 0x32, 0x00, 0x14, 0x02, 0xF7]),
    "bc_busy_output": bytes([BCR, 0x31]) + short(0x90, 60, 100),
    "nano_dialogue": bytes([NANO, 0]) + sysex(nano_dump(0x41)) + sysex(nano_ack(0x23)) + sysex(nano_ack(0x21)),
    "nano_failures": bytes([NANO, 0x22]) + sysex(nano_dump(0x40, 0x01)) + sysex(nano_ack(0x24)) * 4
    + sysex(nano_ack(0x23)) + sysex([0xF0, 0x42, 0x40, 0x00, 0x01, 0x13, 0x00]),
    "xtouch_notes": bytes([XTOUCH, 0]) + short(0x90, 23, 1) + short(0x80, 24, 0) + short(0xB0, 9, 1) + short(0xBA, 10, 200),
    "twister_mixed": bytes([TWISTER, 0]) + short(0xB0, 1, 2) + sysex([0xF0, 0x01, 0xF7]) + invalid_long([0xF0, 0x02]),
    "packets": bytes([OTHER, 0]) + packets([0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7, 0x00]) + short(0xE0, 0, 0x40)
    + bytes([5, 0xF4]) + bytes([7, 0x0C]),
}


def handler_message(message):
    length = 0xFF if len(message) == 402 else len(message)
    assert length <= 0xFF
    return bytes([length]) + bytes(message)


HANDLER_SEEDS = {
    "bc": bytes([BC]) + handler_message([0xF0, 0x00, 0x20, 0x32, 0x01, 0x14, 0x02, 0x41, 0xF7])
    + handler_message([0xF0, 0x00, 0x20, 0x32, 0x00, 0x14, 0x02] + list(b"Name") + [0xF7]),
    "nano": bytes([NANO]) + handler_message(nano_dump(0x4F)) + handler_message(nano_ack(0x23))
    + handler_message(nano_ack(0x00)) + handler_message(nano_ack(0x23)) + handler_message(nano_ack(0x21)),
    "nano_short_acks": bytes([NANO]) + handler_message(nano_dump(0x41)) + handler_message(nano_ack(0x23)[:7])
    + handler_message(nano_ack(0x23)[:8]),
    "xtouch": bytes([XTOUCH]) + handler_message([0xF0, 0x00, 0xF7]),
    # Eleven refusals: the scene goes out ten times and then no more.
    "nano_refusing": bytes([NANO]) + handler_message(nano_dump(0x40, 0x02)) + handler_message(nano_ack(0x24)) * 11,
    # A BCR2000 port answered by a BCF2000; the second reply changes nothing.
    "bc_two_replies": bytes([BCR]) + handler_message([0xF0, 0x00, 0x20, 0x32, 0x00, 0x14, 0x02] + list(b"Desk F") + [0xF7])
    + handler_message([0xF0, 0x00, 0x20, 0x32, 0x00, 0x15, 0x02] + list(b"Other") + [0xF7]),
}


def write(target, seeds):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    for name, data in seeds.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)


def event(kind, number, channel=0, value=0):
    import struct
    wide = number > 63
    out = struct.pack("<I", kind & 0xFFFFFFFF) + bytes([channel])
    out += bytes([0x80]) + struct.pack("<I", number) if wide else bytes([number])
    return out + struct.pack("<i", value)


MAP_SEEDS = {
    "lower_active": bytes([1]) + event(0, 5) + event(0, 12) + event(1, 40) + event(0, 9) + event(7, 8),
    "upper_active": bytes([0]) + event(1, 23) + event(1, 24) + event(0, 200) + event(1, 47, 3, -5),
    "empty_lower": bytes([1]),
}

write("input_path", INPUT_SEEDS)
write("map_events", MAP_SEEDS)
write("handler_sysex", HANDLER_SEEDS)
