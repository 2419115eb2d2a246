#!/usr/bin/env python3
"""Stores a large, mostly empty image as its non-zero 2048-byte blocks, and makes it
again as a sparse file. The images of the over-4-GB tests are kept this way, so a
test makes a 4 GB image in a blink without holding 4 GB anywhere.

    sparse_image.py pack IMAGE PACKED.gz
    sparse_image.py unpack PACKED.gz IMAGE
    sparse_image.py compare A B        byte for byte, holes read as zeros; exit 1 on a difference
"""
import gzip
import os
import struct
import sys

BLOCK = 2048


def data_ranges(f):
    """(start, end) of the parts of the file that may hold data."""
    fd = f.fileno()
    size = os.fstat(fd).st_size
    pos = 0
    while pos < size:
        try:
            start = os.lseek(fd, pos, os.SEEK_DATA)
        except OSError:
            return
        end = os.lseek(fd, start, os.SEEK_HOLE)
        yield start, end
        pos = end


def pack(image, packed):
    with open(image, 'rb') as f, gzip.open(packed, 'wb', compresslevel=9) as out:
        size = os.fstat(f.fileno()).st_size
        out.write(struct.pack('<Q', size))
        for start, end in data_ranges(f):
            start -= start % BLOCK
            f.seek(start)
            while start < end:
                block = f.read(BLOCK)
                if block.strip(b'\0'):
                    out.write(struct.pack('<QI', start, len(block)) + block)
                start += len(block)
                if not block:
                    break


def unpack(packed, image):
    with gzip.open(packed, 'rb') as src, open(image, 'wb') as out:
        (size,) = struct.unpack('<Q', src.read(8))
        out.truncate(size)
        while True:
            head = src.read(12)
            if len(head) < 12:
                break
            offset, length = struct.unpack('<QI', head)
            out.seek(offset)
            out.write(src.read(length))


def compare(a, b):
    with open(a, 'rb') as fa, open(b, 'rb') as fb:
        if os.fstat(fa.fileno()).st_size != os.fstat(fb.fileno()).st_size:
            print('sizes differ')
            return 1
        # Every byte where either file may hold data is compared; the rest is zeros in both.
        ranges = sorted(list(data_ranges(fa)) + list(data_ranges(fb)))
        for start, end in ranges:
            fa.seek(start)
            fb.seek(start)
            while start < end:
                n = min(1 << 20, end - start)
                if fa.read(n) != fb.read(n):
                    print('differ near offset', start)
                    return 1
                start += n
    return 0


if __name__ == '__main__':
    command = sys.argv[1]
    if command == 'pack':
        pack(sys.argv[2], sys.argv[3])
    elif command == 'unpack':
        unpack(sys.argv[2], sys.argv[3])
    elif command == 'compare':
        sys.exit(compare(sys.argv[2], sys.argv[3]))
    else:
        sys.exit(2)
