#!/usr/bin/env python3
"""Writes the tree the Wine tier restores and backs up with the real WIM engine:
about 100 MB in some 4000 files (compressible logs, random data, many small files,
Chinese names, an empty folder and an empty file, deep nesting). The same seed gives
the same tree.

    wim_tree.py FOLDER
"""
import os
import random
import sys

root = sys.argv[1]
rng = random.Random(24)


def write(path, data):
    full = os.path.join(root, path)
    os.makedirs(os.path.dirname(full), exist_ok=True)
    with open(full, 'wb') as f:
        f.write(data)


for i in range(2):
    lines = ('%09d 日志行 第%d份 状态=%s\r\n' % (n, i, rng.choice(['正常', '警告', 'OK', 'retry'])) for n in range(900000))
    write('日志/系统 %d.log' % i, ''.join(lines).encode('utf-8'))
for i in range(2):
    write('random/块%d.bin' % i, rng.randbytes(20 << 20))
words = ['alpha', 'beta', '文件', '目录', 'gamma', '还原', 'delta', '备份']
for d in range(40):
    for f in range(100):
        text = ' '.join(rng.choice(words) for _ in range(rng.randrange(0, 700)))
        write('small/目录 %02d/f%03d & 文本.txt' % (d, f), text.encode('utf-8'))
write('空.txt', b'')
os.makedirs(os.path.join(root, '空 文件夹'), exist_ok=True)
write('a/b/c/d/e/f/g/h/深处.txt', '还原后应一字不差\r\n'.encode('utf-8'))
