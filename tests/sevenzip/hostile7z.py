"""Small 7z archives written byte by byte: a start header around a header of
our making, the header LZMA-encoded when asked. Used by the fuzz seed script
and the header memory benchmark."""
import lzma
import struct
import zlib


def num(v):
    """A 7z variable-length number."""
    for extra in range(8):
        if v < 1 << (7 * (extra + 1)):
            first = ((0xFF00 >> extra) & 0xFF) | (v >> (8 * extra))
            return bytes([first]) + v.to_bytes(8, "little")[:extra]
    return b"\xff" + v.to_bytes(8, "little")


def wrap(packed, header):
    """Start header, packed streams, header."""
    tail = struct.pack("<QQI", len(packed), len(header), zlib.crc32(header))
    return b"7z\xbc\xaf\x27\x1c\x00\x04" + struct.pack("<I", zlib.crc32(tail)) + tail + packed + header


def encoded(header, preset=None):
    """An archive whose header is `header`, LZMA-encoded (64 KiB dictionary)."""
    dict_size = 1 << 16
    options = {"id": lzma.FILTER_LZMA1, "dict_size": dict_size, "lc": 3, "lp": 0, "pb": 2}
    if preset is not None:
        options["preset"] = preset
    packed = lzma.compress(header, format=lzma.FORMAT_RAW, filters=[options])
    props = bytes([0x5D]) + dict_size.to_bytes(4, "little")
    h = b"\x17\x06" + num(0) + num(1) + b"\x09" + num(len(packed)) + b"\x00"
    h += b"\x07\x0b" + num(1) + b"\x00" + num(1) + b"\x23\x03\x01\x01" + num(5) + props
    h += b"\x0c" + num(len(header)) + b"\x0a\x01" + struct.pack("<I", zlib.crc32(header))
    h += b"\x00\x00"
    return wrap(packed, h)
