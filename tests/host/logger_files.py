"""Logger files (.Q38) made byte by byte for the host tests.

A record is ((year, month, day, hour, minute, second), mode, channel, value):
five bytes of time and mode bits, the channel and the raw 16-bit value.
"""
import struct


def write_logger(path, records, memos=(b"",) * 6, data_start=1024, data_end=None, cut=0,
                 header_size=None):
    """The records follow a header of header_size bytes (data_start by default)."""
    head = bytearray(data_start if header_size is None else header_size)
    head[0:2] = b"Q8"
    for i, m in enumerate(memos):
        head[486 + 16 * i:486 + 16 * i + len(m)] = m
    body = bytearray()
    for (y, mo, d, h, mi, s), mode, channel, value in records:
        bits = ((((((y - 2000) << 4 | mo) << 5 | d) << 5 | h) << 6 | mi) << 6 | s) << 7 | mode
        body += bits.to_bytes(5, "big") + bytes([channel, value & 0xFF, value >> 8])
    data = head + body
    struct.pack_into("<II", data, 2, data_end if data_end is not None else len(data), data_start)
    if cut:
        data = data[:-cut]
    open(path, "wb").write(data)
    return path
