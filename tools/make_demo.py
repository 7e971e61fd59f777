#!/usr/bin/env python3
"""Writes examples/demo.tsr, the example project archive: the project document
examples/demo/tsr.tsr and, as a resource of the project, the SQLite database db.sql that its SQL
gateway opens (a table of production batches). `--check` tells whether the archive's document is
the one in examples/demo."""
import os
import sqlite3
import sys
import tempfile
import zipfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SOURCE = os.path.join(ROOT, 'examples', 'demo', 'tsr.tsr')
ARCHIVE = os.path.join(ROOT, 'examples', 'demo.tsr')
# A fixed date for every entry, so that the archive changes only when its contents do.
STAMP = (2026, 1, 1, 0, 0, 0)

BATCHES = [
    (1, 'Pump housing', 120, 'done'),
    (2, 'Impeller', 480, 'done'),
    (3, 'Shaft seal', 960, 'running'),
    (4, 'Motor flange', 240, 'planned'),
]


def database_bytes():
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, 'db.sql')
        db = sqlite3.connect(path)
        db.execute('create table batches(id integer primary key, product text, quantity integer, '
                   'state text)')
        db.executemany('insert into batches values(?, ?, ?, ?)', BATCHES)
        db.commit()
        db.close()
        with open(path, 'rb') as f:
            return f.read()


def add(archive, name, data):
    info = zipfile.ZipInfo(name, STAMP)
    info.compress_type = zipfile.ZIP_DEFLATED
    info.external_attr = 0o644 << 16
    archive.writestr(info, data)


def main():
    with open(SOURCE, 'rb') as f:
        document = f.read()
    if '--check' in sys.argv[1:]:
        with zipfile.ZipFile(ARCHIVE) as archive:
            if archive.read('tsr.tsr') != document or 'db.sql' not in archive.namelist():
                print('examples/demo.tsr is out of date: run tools/make_demo.py', file=sys.stderr)
                return 1
        return 0
    with zipfile.ZipFile(ARCHIVE, 'w') as archive:
        add(archive, 'tsr.tsr', document)
        add(archive, 'db.sql', database_bytes())
    return 0


if __name__ == '__main__':
    sys.exit(main())
