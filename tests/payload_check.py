#!/usr/bin/env python3
"""Checks the carried tools of one Windows build tree, whatever tools the payload
table lists: each carried block is a PE file for the machine it must run on, equals
the tool that was built (or the packager's file), and is inside the program as is.

    payload_check.py TREE    (build/win32 or build/win64); exit 77 when TREE is not built
"""
import os
import struct
import sys

MACHINES = {0x014C: 'i386', 0x8664: 'x86-64'}


def pe_machine(data):
    if len(data) < 0x40 or data[:2] != b'MZ':
        return None
    (offset,) = struct.unpack_from('<I', data, 0x3C)
    if offset + 6 > len(data) or data[offset:offset + 4] != b'PE\0\0':
        return None
    (machine,) = struct.unpack_from('<H', data, offset + 4)
    return MACHINES.get(machine, hex(machine))


def main():
    tree = sys.argv[1]
    manifest = os.path.join(tree, 'payload', 'carried', 'manifest.txt')
    program = os.path.join(tree, 'app', 'VrelPELite.exe')
    if not os.path.exists(manifest) or not os.path.exists(program):
        print('not built:', tree)
        return 77
    program_bytes = open(program, 'rb').read()
    failures = 0
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
        status = 'ok' if not problems else '; '.join(problems)
        print('%-18s %-7s %8d bytes  %s' % (name, machine, len(carried), status))
        failures += bool(problems)
    if len(entries) < 7:
        print('only %d carried tools listed' % len(entries))
        failures += 1
    return 1 if failures else 0


sys.exit(main())
