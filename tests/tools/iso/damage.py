#!/usr/bin/env python3
"""Damages ISO images in chosen ways, for the tests that make sure the ISO tool
fails cleanly on them.

    damage.py loop-iso IMAGE DIRNAME       a folder record of DIRNAME points at the root
    damage.py loop-udf IMAGE DIRNAME       a UDF folder entry of DIRNAME points at the root
    damage.py huge-dir IMAGE DIRNAME       DIRNAME claims a 4 GB directory
    damage.py rename IMAGE OLD NEW         every occurrence of OLD (same length as NEW)
    damage.py fuzz IMAGE PREFIX RUNS COUNT for seeds 1..RUNS, PREFIX-SEED.iso with COUNT
                                           random bytes changed in the metadata
"""
import random
import struct
import sys

SECTOR = 2048


def iso_root(data):
    pvd = 16 * SECTOR
    assert data[pvd + 1:pvd + 6] == b'CD001'
    rec = pvd + 156
    return struct.unpack_from('<I', data, rec + 2)[0], struct.unpack_from('<I', data, rec + 10)[0]


def iso_records(data, lba, length):
    pos = lba * SECTOR
    end = pos + length
    while pos < end:
        n = data[pos]
        if n == 0:
            pos = (pos // SECTOR + 1) * SECTOR
            continue
        name_len = data[pos + 32]
        yield pos, bytes(data[pos + 33:pos + 33 + name_len])
        pos += n


def find_iso_dir(data, name):
    lba, length = iso_root(data)
    for pos, rec_name in iso_records(data, lba, length):
        if rec_name.split(b';')[0].upper() == name.upper().encode():
            return pos, lba, length
    raise SystemExit('no folder ' + name)


def set_both(data, at, value):
    struct.pack_into('<I', data, at, value)
    struct.pack_into('>I', data, at + 4, value)


def udf_root_and_fids(data):
    """The root ICB of the UDF tree and the byte offsets of the root's FIDs."""
    avdp = 256 * SECTOR
    assert struct.unpack_from('<H', data, avdp)[0] == 2
    vds_len, vds_loc = struct.unpack_from('<II', data, avdp + 16)
    part_start = lvd = None
    for s in range(vds_loc, vds_loc + vds_len // SECTOR):
        tag = struct.unpack_from('<H', data, s * SECTOR)[0]
        if tag == 5:
            part_start = struct.unpack_from('<I', data, s * SECTOR + 188)[0]
        elif tag == 6:
            lvd = s * SECTOR
    fsd_block = struct.unpack_from('<I', data, lvd + 248 + 4)[0]
    fsd = (part_start + fsd_block) * SECTOR
    root_block = struct.unpack_from('<I', data, fsd + 400 + 4)[0]
    fe = (part_start + root_block) * SECTOR
    tag = struct.unpack_from('<H', data, fe)[0]
    ea_at = 208 if tag == 266 else 168
    l_ea, l_ad = struct.unpack_from('<II', data, fe + ea_at)
    ad = fe + ea_at + 8 + l_ea
    flags = struct.unpack_from('<H', data, fe + 34)[0] & 7
    if flags == 3:
        start, length = ad, l_ad
    else:
        ext_len, ext_block = struct.unpack_from('<II', data, ad)
        start, length = (part_start + ext_block) * SECTOR, ext_len & 0x3FFFFFFF
    fids = []
    pos = start
    while pos + 38 <= start + length:
        l_fi = data[pos + 19]
        l_iu = struct.unpack_from('<H', data, pos + 36)[0]
        fids.append((pos, bytes(data[pos + 38 + l_iu:pos + 38 + l_iu + l_fi])))
        pos += (38 + l_iu + l_fi + 3) & ~3
    return root_block, fids


def main():
    command, image = sys.argv[1], sys.argv[2]
    data = bytearray(open(image, 'rb').read())
    if command == 'loop-iso':
        pos, root_lba, root_len = find_iso_dir(data, sys.argv[3])
        set_both(data, pos + 2, root_lba)
        set_both(data, pos + 10, root_len)
    elif command == 'huge-dir':
        pos, _, _ = find_iso_dir(data, sys.argv[3])
        set_both(data, pos + 10, 0xFFFFF800)
    elif command == 'loop-udf':
        root_block, fids = udf_root_and_fids(data)
        wanted = sys.argv[3].encode()
        for pos, name in fids:
            if name[1:] == wanted:
                struct.pack_into('<I', data, pos + 20 + 4, root_block)
                break
        else:
            raise SystemExit('no UDF folder ' + sys.argv[3])
    elif command == 'rename':
        old, new = sys.argv[3].encode(), sys.argv[4].encode()
        assert len(old) == len(new) and old in data
        data = bytearray(bytes(data).replace(old, new))
    elif command == 'fuzz':
        prefix, runs, count = sys.argv[3], int(sys.argv[4]), int(sys.argv[5])
        # The descriptors and directories of small images sit in the first 1.2 MB
        # and, for UDF, in the last sectors.
        span = min(len(data), 600 * SECTOR)
        for seed in range(1, runs + 1):
            rng = random.Random(seed)
            copy = bytearray(data)
            for _ in range(count):
                if rng.random() < 0.15:
                    at = len(copy) - 1 - rng.randrange(min(len(copy), 300 * SECTOR))
                else:
                    at = 16 * SECTOR + rng.randrange(span - 16 * SECTOR)
                copy[at] = rng.randrange(256)
            open('%s-%d.iso' % (prefix, seed), 'wb').write(copy)
        return
    else:
        raise SystemExit(2)
    open(image, 'wb').write(data)


main()
