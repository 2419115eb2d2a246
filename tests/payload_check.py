#!/usr/bin/env python3
"""Checks the carried tools of one Windows build tree, whatever tools the payload
table lists: each carried block is a PE file for the machine it must run on, equals
the tool that was built (or the packager's file), and is inside the program as is.
Every 32-bit file built here, the program too, is large-address-aware.

    payload_check.py TREE    (build/win32 or build/win64); exit 77 when TREE is not built
"""
import os
import struct
import sys

MACHINES = {0x014C: 'i386', 0x8664: 'x86-64'}
IMAGE_FILE_LARGE_ADDRESS_AWARE = 0x0020


def pe_header(data):
    """(machine, characteristics) of the COFF header, or None when not a PE file."""
    if len(data) < 0x40 or data[:2] != b'MZ':
        return None
    (offset,) = struct.unpack_from('<I', data, 0x3C)
    if offset + 24 > len(data) or data[offset:offset + 4] != b'PE\0\0':
        return None
    (machine,) = struct.unpack_from('<H', data, offset + 4)
    (characteristics,) = struct.unpack_from('<H', data, offset + 22)
    return MACHINES.get(machine, hex(machine)), characteristics


def pe_machine(data):
    header = pe_header(data)
    return header[0] if header else None


def address_problem(data):
    """Why a 32-bit image would be held to 2 GB on a 64-bit host; None when it is not."""
    header = pe_header(data)
    if header and header[0] == 'i386' and not header[1] & IMAGE_FILE_LARGE_ADDRESS_AWARE:
        return 'not large-address-aware'
    return None


def main():
    tree = sys.argv[1]
    manifest = os.path.join(tree, 'payload', 'carried', 'manifest.txt')
    program = os.path.join(tree, 'app', 'VrelPELite.exe')
    if not os.path.exists(manifest) or not os.path.exists(program):
        print('not built:', tree)
        return 77
    program_bytes = open(program, 'rb').read()
    failures = 0
    if address_problem(program_bytes):
        print('%s: %s' % (program, address_problem(program_bytes)))
        failures += 1
    entries = [line.rstrip('\n').split('\t') for line in open(manifest, encoding='utf-8') if line.strip()]
    for name, built, machine in entries:
        carried = open(os.path.join(tree, 'payload', 'carried', name), 'rb').read()
        problems = []
        found = pe_machine(carried)
        if found != machine:
            problems.append('machine %s, expected %s' % (found, machine))
        if carried != open(built, 'rb').read():
            problems.append('differs from the built file ' + built)
        if carried not in program_bytes:
            problems.append('not inside ' + program)
        # A packager's own file is theirs to link; ours must all be.
        built_here = os.path.realpath(built).startswith(os.path.realpath(tree) + os.sep)
        if built_here and address_problem(carried):
            problems.append(address_problem(carried))
        status = 'ok' if not problems else '; '.join(problems)
        print('%-18s %-7s %8d bytes  %s' % (name, machine, len(carried), status))
        failures += bool(problems)
    if len(entries) < 7:
        print('only %d carried tools listed' % len(entries))
        failures += 1
    return 1 if failures else 0


sys.exit(main())
