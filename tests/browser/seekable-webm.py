#!/usr/bin/env python3
"""Rewrites a WebM recorded by a browser (one video track, no duration, clusters of unknown
size) into one a player can seek in: sized elements, the duration, a cluster at each key frame
and a cue for every cluster. Usage: seekable-webm.py IN OUT; prints the duration in seconds and
the cue count."""
import struct
import sys

EBML, SEGMENT, INFO, TRACKS, CLUSTER, CUES = 0x1A45DFA3, 0x18538067, 0x1549A966, 0x1654AE6B, 0x1F43B675, 0x1C53BB6B
TIMECODE_SCALE, DURATION, TIMECODE, SIMPLE_BLOCK = 0x2AD7B1, 0x4489, 0xE7, 0xA3
BLOCK_GROUP, BLOCK, REFERENCE_BLOCK = 0xA0, 0xA1, 0xFB
TOP_LEVEL = {CLUSTER, CUES, INFO, TRACKS, 0x1254C367, 0x114D9B74, 0x1043A770}


def read_id(data, at):
    first = data[at]
    length = 1
    while length <= 4 and not first & (0x80 >> (length - 1)):
        length += 1
    return int.from_bytes(data[at:at + length], "big"), at + length


def read_size(data, at):
    first = data[at]
    length = 1
    while length <= 8 and not first & (0x80 >> (length - 1)):
        length += 1
    value = first & ((0x80 >> (length - 1)) - 1)
    for b in data[at + 1:at + length]:
        value = value << 8 | b
    unknown = value == (1 << (7 * length)) - 1
    return (None if unknown else value), at + length


def elements(data, start, end):
    """(id, payload start, payload end) of each element in data[start:end]; an element of
    unknown size ends where the next top-level element starts."""
    at = start
    while at < end:
        eid, p = read_id(data, at)
        size, p = read_size(data, p)
        if size is None and eid == SEGMENT:
            size = end - p
        elif size is None:
            q = p
            while q < end:
                cid, c = read_id(data, q)
                if cid in TOP_LEVEL:
                    break
                csize, c = read_size(data, c)
                q = c + csize
            size = q - p
        yield eid, p, min(p + size, end)
        at = p + size


def encode_id(eid):
    return eid.to_bytes((eid.bit_length() + 7) // 8, "big")


def element(eid, payload, size_bytes=8):
    size = len(payload)
    if size_bytes == 8:
        head = bytes([0x01]) + size.to_bytes(7, "big")
    else:
        head = (size | (1 << (7 * size_bytes))).to_bytes(size_bytes, "big")
    return encode_id(eid) + head + payload


def uint(eid, value, width=8):
    return element(eid, value.to_bytes(width, "big"), 1)


def frame(data, eid, start, end, base):
    """(time, track, SimpleBlock flags, frame bytes) of a SimpleBlock or a BlockGroup, whose
    frame is a key frame when it refers to no other."""
    key = None
    if eid == BLOCK_GROUP:
        children = {cid: (cp, ce) for cid, cp, ce in elements(data, start, end)}
        key = REFERENCE_BLOCK not in children
        start, end = children[BLOCK]
    track, q = read_size(data, start)
    rel = struct.unpack(">h", data[q:q + 2])[0]
    flags = data[q + 2]
    if key is not None:
        flags = (flags & 0x0E) | (0x80 if key else 0)
    return base + rel, track, flags, data[q + 3:end]


def main(source, target):
    data = open(source, "rb").read()
    ebml_end = next(e for eid, _, e in elements(data, 0, len(data)) if eid == EBML)
    ebml_header = data[:ebml_end]
    seg = next(x for x in elements(data, 0, len(data)) if x[0] == SEGMENT)
    scale, tracks, frames = 1000000, None, []
    for eid, p, e in elements(data, seg[1], seg[2]):
        if eid == INFO:
            for cid, cp, ce in elements(data, p, e):
                if cid == TIMECODE_SCALE:
                    scale = int.from_bytes(data[cp:ce], "big")
        elif eid == TRACKS:
            tracks = data[p:e]
        elif eid == CLUSTER:
            base = 0
            for cid, cp, ce in elements(data, p, e):
                if cid == TIMECODE:
                    base = int.from_bytes(data[cp:ce], "big")
                elif cid in (SIMPLE_BLOCK, BLOCK_GROUP):
                    frames.append(frame(data, cid, cp, ce, base))
    if not frames or tracks is None:
        sys.exit("no frames or no tracks in " + source)
    frames.sort(key=lambda f: f[0])
    step = (frames[-1][0] - frames[0][0]) / max(len(frames) - 1, 1)
    duration = frames[-1][0] + step
    # A cluster per key frame, kept short enough for the 16-bit block times.
    groups = []
    for f in frames:
        if not groups or (f[2] & 0x80) or f[0] - groups[-1][0][0] > 30000:
            groups.append([])
        groups[-1].append(f)
    clusters = []
    for group in groups:
        start = group[0][0]
        body = uint(TIMECODE, start)
        for time, track, flags, payload in group:
            block = bytes([0x80 | track]) + struct.pack(">h", time - start) + bytes([flags]) + payload
            body += element(SIMPLE_BLOCK, block)
        clusters.append((start, element(CLUSTER, body)))
    track_number = frames[0][1]
    info = element(INFO, uint(TIMECODE_SCALE, scale, 4) +
                   element(DURATION, struct.pack(">d", float(duration)), 1) +
                   element(0x4D80, b"koru-test", 1) + element(0x5741, b"koru-test", 1))
    tracks_element = element(TRACKS, tracks)

    def cues(positions):
        return element(CUES, b"".join(
            element(0xBB, uint(0xB3, start) + element(0xB7, uint(0xF7, track_number, 1) +
                                                      uint(0xF1, pos)))
            for (start, _), pos in zip(clusters, positions)))
    # Fixed-width numbers: the cues' size does not depend on the positions they hold.
    first = len(info) + len(tracks_element) + len(cues([0] * len(clusters)))
    positions, at = [], first
    for _, c in clusters:
        positions.append(at)
        at += len(c)
    segment = info + tracks_element + cues(positions) + b"".join(c for _, c in clusters)
    with open(target, "wb") as out:
        out.write(ebml_header + element(SEGMENT, segment))
    print(f"{duration * scale / 1e9:.3f} {len(clusters)}")


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
