#!/usr/bin/python3
"""Every frame of a SatNOGS DB export written to a real InfluxDB as SatNOGS DB
writes a decoded frame for its dashboard: one point per frame, measurement the
NORAD ID, tags station, observer and source, fields the decoder's :field values
(get_fields), through python3-influxdb. InfluxDB (Debian's influxd) is started
here on loopback ports with a data folder of its own, and stopped at the end.

    influx_ksy.py PYTHON_DIR EXPORT

A point InfluxDB refuses is written again field by field, so the failure names
the frame and each field InfluxDB does not take. Then every value is read back
and must be what was written. Exits 1 on any refusal or difference."""

import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time

from influxdb import InfluxDBClient
from influxdb.exceptions import InfluxDBClientError

import satnogs

NORAD = '99999'
DATABASE = 'db'
BATCH = 1000
PROBED = 20  # refused points whose fields are tried one by one; the rest only counted
# Stations as SatNOGS DB tags a SiDS frame: the callsign, callsign and locator, and how it came.
STATIONS = [('N0CALL', 'N0CALL-JN49'), ('DL1ABC', 'DL1ABC-JO61')]


def free_port():
    with socket.socket() as s:
        s.bind(('127.0.0.1', 0))
        return s.getsockname()[1]


def start_influxd(folder):
    """influxd on two free loopback ports; the client once it answers /ping.
    Tried again on new ports when it ends first (a port taken meanwhile)."""
    for attempt in range(3):
        http, rpc = free_port(), free_port()
        config = os.path.join(folder, 'influxdb.conf')
        with open(config, 'w', encoding='ascii') as f:
            f.write(f'''reporting-disabled = true
bind-address = "127.0.0.1:{rpc}"
[meta]
  dir = "{folder}/meta"
[data]
  dir = "{folder}/data"
  wal-dir = "{folder}/wal"
  query-log-enabled = false
[monitor]
  store-enabled = false
[http]
  bind-address = "127.0.0.1:{http}"
  log-enabled = false
[continuous_queries]
  enabled = false
[logging]
  level = "warn"
''')
        log_path = os.path.join(folder, f'influxd-{attempt}.log')
        with open(log_path, 'wb') as log:
            process = subprocess.Popen(['influxd', 'run', '-config', config], stdout=log, stderr=log)  # pylint: disable=consider-using-with
        client = InfluxDBClient('127.0.0.1', http, database=DATABASE, timeout=30)
        deadline = time.monotonic() + 30
        while process.poll() is None:
            try:
                client.ping()
                return process, client
            except Exception:  # pylint: disable=broad-except
                if time.monotonic() > deadline:
                    process.kill()
                    raise RuntimeError('influxd did not answer within 30 s') from None
                time.sleep(0.1)
        with open(log_path, encoding='utf-8', errors='replace') as log:
            said = log.read()[-2000:]
    raise RuntimeError(f'influxd ended with {process.returncode}: {said}')


def points_of(decoder, fields, frames):
    """(point, frame description) per frame, the point as SatNOGS DB builds it."""
    points = []
    for number, stamp, frame in frames:
        parsed = decoder.from_bytes(frame)
        station, observer = STATIONS[number % len(STATIONS)]
        point = {
            'measurement': NORAD,
            'time': stamp,
            'tags': {'station': station, 'observer': observer, 'source': 'sids'},
            'fields': satnogs.get_fields(parsed, fields),
        }
        points.append((point, f'frame {number} ({stamp}, {"plain" if parsed.is_plain else "KISS"})'))
    return points


def refusals(client, point, what):
    """Why InfluxDB refuses this point, field by field (written alone into a
    measurement of their own, so a refusal is the field's and nothing else's)."""
    found = []
    for name, value in point['fields'].items():
        probe = dict(point, measurement='probe_' + name, fields={name: value})
        try:
            client.write_points([probe], time_precision='s')
        except InfluxDBClientError as e:
            found.append(f'REFUSED {what}: field {name} = {value!r}: {e.content.strip()}')
    return found or [f'REFUSED {what}: the whole point, no field alone']


def same(written, stored):
    """An integer must come back an integer; a float may come back as a whole
    number (JSON writes 2.0 as 2)."""
    return stored == written and (isinstance(written, float) or isinstance(stored, int))


def write_all(client, points):
    """Writes the points in batches, as a dashboard's writer would; a batch
    InfluxDB refuses is written again point by point to find the refused ones
    (a refused line spoils only itself). Returns their indexes and why."""
    refused, problems = set(), []
    for first in range(0, len(points), BATCH):
        batch = points[first:first + BATCH]
        try:
            client.write_points([p for p, _ in batch], time_precision='s')
            continue
        except InfluxDBClientError:
            pass
        for index, (point, what) in enumerate(batch, first):
            try:
                client.write_points([point], time_precision='s')
            except InfluxDBClientError as e:
                problems += (refusals(client, point, what) if len(refused) < PROBED else
                             [f'REFUSED {what}: {e.content.strip()}'])
                refused.add(index)
    return refused, problems


def read_back(client, points, refused):
    """What the dashboard would read: every value as written, none missing."""
    problems = []
    stored = {(row['time'], row['station']): row
              for row in client.query(f'SELECT * FROM "{NORAD}"', epoch=None).get_points()}
    for index, (point, what) in enumerate(points):
        row = stored.get((point['time'], point['tags']['station']))
        if index in refused:
            continue
        if row is None:
            problems.append(f'MISSING {what}: no point stored')
            continue
        for name, value in point['fields'].items():
            if value is not None and not same(value, row.get(name)):
                problems.append(f'DIFFERS {what}: field {name}: written {value!r}, stored {row.get(name)!r}')
    return problems


def main():
    if len(sys.argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    python_dir, export_path = sys.argv[1:]
    started = time.monotonic()
    decoder = satnogs.load_decoder(python_dir)
    fields = satnogs.field_list(decoder)
    points = points_of(decoder, fields, satnogs.read_export(export_path))

    folder = tempfile.mkdtemp(prefix='kestrel-influx-')
    process = None
    try:
        process, client = start_influxd(folder)
        client.create_database(DATABASE)
        refused, problems = write_all(client, points)
        problems += read_back(client, points, refused)
    finally:
        if process:
            process.terminate()
            process.wait(timeout=30)
        shutil.rmtree(folder, ignore_errors=True)

    for p in problems[:40]:
        print(p)
    if problems:
        print(f'InfluxDB refused {len(refused)} of {len(points)} points; {len(problems)} problems in all')
        return 1
    empty = sum(1 for point, _ in points for v in point['fields'].values() if v is None)
    print(f'InfluxDB took all {len(points)} points ({len(fields)} fields each, {empty} values left out as no '
          f'number), every value read back as written, in {time.monotonic() - started:.1f} s')
    return 0


if __name__ == '__main__':
    sys.exit(main())
