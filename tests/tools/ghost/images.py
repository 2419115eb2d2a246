#!/usr/bin/env python3
"""Images and NTFS volumes bent on purpose for the engine's fault tests, written from
tools/ghost/FORMAT.md and from ntfs-3g's own view of a volume (ntfsinfo), not from the
engine's code.

  images.py chunky IMAGE PARTITION_MIB CHUNK_MIB   a valid image, every block stored, large chunks
  images.py huge-map IMAGE                          an empty 2 TiB partition: a 512 MiB map in ~510 KB
  images.py clear-bitmap VOLUME FILE...             $Bitmap says the clusters of these files are free
  images.py used-at VOLUME FRACTION...              byte offset of the used cluster at each fraction
  images.py tear-record VOLUME FILE                 the file's MFT record fails its update sequence
"""
import os
import re
import struct
import subprocess
import sys
import zlib

MAGIC = b"VRELGHO\x1a"


def crc(data, start=0):
    return zlib.crc32(data, start) & 0xFFFFFFFF


def header(fs, sector, block, cluster, source, start, blocks, used, data, chunk, level, chunks, map_raw,
           map_stored, map_crc):
    h = bytearray(128)
    h[0:8] = MAGIC
    struct.pack_into("<IIQIIIIQQQQQIIQQQIQ", h, 8, 1, 128, 0x5EED5EED5EED5EED, fs, sector, block, cluster, source,
                     start, blocks, used, data, chunk, level, chunks, map_raw, map_stored, map_crc, 1700000000)
    struct.pack_into("<I", h, 124, crc(bytes(h[:124])))
    return bytes(h)


def end_record(chunks, data, image_crc):
    e = bytearray(32)
    e[0:4] = b"GEND"
    struct.pack_into("<QQI", e, 8, chunks, data, image_crc)
    struct.pack_into("<I", e, 28, crc(bytes(e[:28])))
    return bytes(e)


def chunky(path, partition_mib, chunk_mib):
    """Every 64 KiB block of a partition stored (file system 0), in chunks of chunk_mib."""
    block, source, chunk = 64 << 10, partition_mib << 20, chunk_mib << 20
    blocks = source // block
    bitmap = b"\xff" * (blocks // 8)
    stored_map = zlib.compress(bitmap, 6)
    chunks = (source + chunk - 1) // chunk
    h = header(0, 512, block, 0, source, 2048, blocks, blocks, source, chunk, 1, chunks, len(bitmap),
               len(stored_map), crc(stored_map))
    running = crc(h + stored_map)
    with open(path, "wb") as out:
        out.write(h + stored_map)
        for k in range(chunks):
            raw = bytearray(min(chunk, source - k * chunk))
            raw[::4096] = bytes([k + 1]) * len(raw[::4096])  # a mark in every 4 KiB
            packed = zlib.compress(bytes(raw), 1)
            r = bytearray(32)
            r[0:4] = b"CHNK"
            struct.pack_into("<IIIII", r, 4, k, len(raw), len(packed), 1, crc(bytes(raw)))
            struct.pack_into("<I", r, 28, crc(bytes(r[:28])))
            running = crc(bytes(r) + packed, running)
            out.write(bytes(r) + packed)
        out.write(end_record(chunks, source, running))


def zeros_stream(size):
    """A zlib stream of `size` zero bytes (a multiple of 1 MiB), made in a blink: after
    the first MiB every block of zeros is the same bytes, whatever came before."""
    packer = zlib.compressobj(9)
    first = packer.compress(bytes(1 << 20)) + packer.flush(zlib.Z_SYNC_FLUSH)
    again = packer.compress(bytes(1 << 20)) + packer.flush(zlib.Z_SYNC_FLUSH)
    final_empty_block = b"\x03\x00"
    adler = ((size % 65521) << 16) | 1  # Adler-32 of zeros: a stays 1, b counts the bytes
    return first + again * ((size >> 20) - 1) + final_empty_block + struct.pack(">I", adler)


def huge_map(path):
    """2 TiB, 512-byte blocks: 2^32 blocks, a map of 512 MiB of zeros, though the header
    counts one used block and holds its one chunk: consistent to every check but the
    map's own count."""
    block, source = 512, 2 << 40
    blocks = source // block
    map_raw = blocks // 8
    stored_map = zeros_stream(map_raw)
    h = header(1, 512, block, 4096, source, 2048, blocks, 1, block, 4 << 20, 6, 1, map_raw, len(stored_map),
               crc(stored_map))
    raw = bytes(block)
    r = bytearray(32)
    r[0:4] = b"CHNK"
    struct.pack_into("<IIIII", r, 4, 0, block, block, 0, crc(raw))
    struct.pack_into("<I", r, 28, crc(bytes(r[:28])))
    body = h + stored_map + bytes(r) + raw
    with open(path, "wb") as out:
        out.write(body + end_record(1, block, crc(body)))


def ntfs_facts(volume):
    text = subprocess.run(["ntfsinfo", "-m", volume], capture_output=True, text=True, check=True).stdout
    return int(re.search(r"Cluster Size: (\d+)", text).group(1)), int(re.search(r"MFT Record Size: (\d+)", text).group(1))


def runs(volume, args):
    """(lcn, clusters) of the unnamed $DATA runs ntfsinfo prints for a file or an inode."""
    text = subprocess.run(["ntfsinfo", "-v", *args, volume], capture_output=True, text=True, check=True).stdout
    data = text.split("Dumping attribute $DATA")[1] if "Dumping attribute $DATA" in text else text
    listed = data.split("Runlist:")[1].split("End of inode reached")[0]
    return [(int(lcn, 16), int(length, 16)) for _vcn, lcn, length in re.findall(
        r"(0x[0-9a-f]+)\s+(0x[0-9a-f]+)\s+(0x[0-9a-f]+)", listed)]


def bitmap_location(volume):
    cluster, _ = ntfs_facts(volume)
    (lcn, _count), = runs(volume, ["-i", "6"])
    return lcn * cluster


def clear_bitmap(volume, files):
    at = bitmap_location(volume)
    with open(volume, "r+b") as f:
        for name in files:
            for lcn, count in runs(volume, ["-F", name]):
                for c in range(lcn, lcn + count):
                    f.seek(at + c // 8)
                    byte = f.read(1)[0]
                    f.seek(at + c // 8)
                    f.write(bytes([byte & ~(1 << (c % 8)) & 0xFF]))


def used_at(volume, fractions):
    cluster, _ = ntfs_facts(volume)
    at = bitmap_location(volume)
    size = os.path.getsize(volume) // cluster
    with open(volume, "rb") as f:
        f.seek(at)
        bits = f.read((size + 7) // 8)
    used = [c for c in range(size) if bits[c // 8] >> (c % 8) & 1]
    for fraction in fractions:
        print(used[min(len(used) - 1, int(len(used) * float(fraction)))] * cluster)


def tear_record(volume, name):
    """Breaks the update sequence of the file's record: its first stride's end no longer matches."""
    cluster, record = ntfs_facts(volume)
    text = subprocess.run(["ntfsinfo", "-F", name, volume], capture_output=True, text=True, check=True).stdout
    number = int(re.search(r"Dumping Inode (\d+)", text).group(1))
    (mft, _), *_ = runs(volume, ["-i", "0"])
    with open(volume, "r+b") as f:
        f.seek(mft * cluster + number * record + 510)
        tail = f.read(2)
        f.seek(mft * cluster + number * record + 510)
        f.write(bytes([tail[0] ^ 0xFF, tail[1]]))
    print(number)


def main():
    what, rest = sys.argv[1], sys.argv[2:]
    if what == "chunky":
        chunky(rest[0], int(rest[1]), int(rest[2]))
    elif what == "huge-map":
        huge_map(rest[0])
    elif what == "clear-bitmap":
        clear_bitmap(rest[0], rest[1:])
    elif what == "used-at":
        used_at(rest[0], rest[1:])
    elif what == "tear-record":
        tear_record(rest[0], rest[1])
    else:
        sys.exit("unknown: " + what)


if __name__ == "__main__":
    main()
