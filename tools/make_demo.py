#!/usr/bin/env python3
"""Writes examples/demo.tsr, the example project archive: the project document
examples/demo/tsr.tsr and, as a resource of the project, the SQLite database db.sql that its SQL
gateway opens (a table of production batches). `--check` tells whether the archive's document is
the one in examples/demo. `--output PATH` writes the archive to PATH instead, and each
`--ip ID=HOST:PORT` points the gateway ID of the copy at another address (a test that runs the
simulators on free ports serves such a copy)."""
import os
import re
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


def with_address(document, gateway, address):
    """The document with the ip attribute of the gateway whose id is `gateway` set to `address`."""
    pattern = re.compile(rb'(<[a-z0-9]+gateway\b[^>]*\bid="' + re.escape(gateway.encode()) + rb'"[^>]*>)')
    element = pattern.search(document)
    if not element:
        raise SystemExit(f'make_demo.py: the demo has no gateway {gateway}')
    changed, count = re.subn(rb'\bip="[^"]*"', b'ip="' + address.encode() + b'"', element.group(1))
    if count != 1:
        raise SystemExit(f'make_demo.py: the gateway {gateway} has no ip')
    return document[:element.start()] + changed + document[element.end():]


def main():
    with open(SOURCE, 'rb') as f:
        document = f.read()
    args = sys.argv[1:]
    archive_path = ARCHIVE
    while args:
        option = args.pop(0)
        if option == '--check':
            pass
        elif option == '--output' and args:
            archive_path = args.pop(0)
        elif option == '--ip' and args and '=' in args[0]:
            gateway, address = args.pop(0).split('=', 1)
            document = with_address(document, gateway, address)
        else:
            print('usage: make_demo.py [--check] [--output PATH] [--ip ID=HOST:PORT]...',
                  file=sys.stderr)
            return 2
    if '--check' in sys.argv[1:]:
        with zipfile.ZipFile(ARCHIVE) as archive:
            if archive.read('tsr.tsr') != document or 'db.sql' not in archive.namelist():
                print('examples/demo.tsr is out of date: run tools/make_demo.py', file=sys.stderr)
                return 1
        return 0
    with zipfile.ZipFile(archive_path, 'w') as archive:
        add(archive, 'tsr.tsr', document)
        add(archive, 'db.sql', database_bytes())
    return 0


if __name__ == '__main__':
    sys.exit(main())
