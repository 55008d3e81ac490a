#!/usr/bin/python3
"""The SatNOGS DB decoder against the program's own: every frame of a SatNOGS DB
export parsed with the Python that the Kaitai Struct compiler made of
kestrel.ksy, and every :field of its top doc compared with the column of
kestrel-redecode's CSV of the same name (the unit left off), row by row.
Status1 to Status8 are the bytes of the CSV's StatusBytes, the first the most
significant; a field with no value stands for a CSV value that is no number.

    check_ksy.py PYTHON_DIR EXPORT CSV

Exits 1 naming each field, frame and both values that disagree."""

import csv
import math
import re
import struct
import sys

import satnogs

STATUS_REGEX = re.compile(r'Status([1-8])')
# "Vbat [mV]", "StatusBytes (hex)", "ReceiveTime (UTC)": the name before the unit.
UNIT_REGEX = re.compile(r'\s*[\[(][^\])]*[\])]\s*$')


def column_name(header):
    return UNIT_REGEX.sub('', header).strip()


def csv_text(name, row, columns):
    """The CSV's text for a :field; None when the CSV has no such value."""
    if name in columns:
        return row[columns[name]]
    status = STATUS_REGEX.fullmatch(name)
    if status and 'StatusBytes' in columns:
        digits = row[columns['StatusBytes']].removeprefix('0x')
        byte = int(status.group(1))
        return str(int(digits[2 * byte - 2:2 * byte], 16)) if len(digits) == 16 else ''
    return None


def same(ksy_value, text):
    """Whether the .ksy's value is the CSV's text: integers exactly (the status
    bytes as hex), floats exactly as the double or, for a 4-byte float, as the
    float32 the text reads back to; no value (InfluxDB's stand-in for NaN and
    the infinities) equals any of those; no number equals no number."""
    if ksy_value is None:
        return text in ('nan', 'inf', '-inf')
    if isinstance(ksy_value, bool):
        return False
    if isinstance(ksy_value, int):
        try:
            return ksy_value == int(text, 0)
        except ValueError:
            return False
    if isinstance(ksy_value, float):
        try:
            number = float(text)
        except ValueError:
            return False
        if math.isnan(ksy_value) or math.isnan(number):
            return math.isnan(ksy_value) and math.isnan(number)
        if number == ksy_value:
            return math.copysign(1, number) == math.copysign(1, ksy_value)
        try:
            as_float32 = struct.unpack('<f', struct.pack('<f', number))[0]
            return as_float32 == ksy_value and struct.unpack('<f', struct.pack('<f', ksy_value))[0] == ksy_value
        except OverflowError:
            return False
    return False


def main():
    if len(sys.argv) != 4:
        print(__doc__, file=sys.stderr)
        return 2
    python_dir, export_path, csv_path = sys.argv[1:]
    decoder = satnogs.load_decoder(python_dir)
    fields = satnogs.field_list(decoder)
    if not fields:
        print('kestrel.ksy: no :field in its top doc')
        return 1

    with open(csv_path, newline='', encoding='utf-8') as f:
        reader = csv.reader(f)
        header = [column_name(h) for h in next(reader)]
        columns = {name: i for i, name in enumerate(header)}
        if 'ReceiveTime' not in columns:
            print('kestrel-redecode CSV: no ReceiveTime column')
            return 1
        rows = {row[columns['ReceiveTime']]: row for row in reader}
    missing = [name for name, _ in fields if csv_text(name, header, columns) is None]
    if missing:
        print('kestrel.ksy: :field without a CSV column of that name: ' + ', '.join(missing))
        return 1

    problems = []
    frames = {'plain': 0, 'KISS': 0}
    values = 0
    for number, stamp, frame in satnogs.read_export(export_path):
        time = stamp.replace('Z', '.000Z')
        row = rows.get(time)
        if row is None:
            problems.append(f'frame {number} ({time}): no CSV row')
            continue
        try:
            parsed = decoder.from_bytes(frame)
        except Exception as e:  # pylint: disable=broad-except
            problems.append(f'frame {number} ({time}): the .ksy does not parse it: {e!r}')
            continue
        frames['plain' if parsed.is_plain else 'KISS'] += 1
        got = satnogs.get_fields(parsed, fields)
        for name, _ in fields:
            value = got.get(name, 'no such path')
            text = csv_text(name, row, columns)
            values += 1
            if not same(value, text):
                problems.append(f'{name}: frame {number} ({time}, {"plain" if parsed.is_plain else "KISS"}): '
                                f'.ksy {value!r}, CSV {text!r}')

    total = frames['plain'] + frames['KISS']
    if problems:
        for p in problems[:40]:
            print('MISMATCH ' + p)
        disagreeing = sorted({p.split(':')[0] for p in problems})
        print(f'kestrel.ksy disagrees with kestrel-redecode: {len(problems)} values '
              f'(fields: {", ".join(disagreeing)})')
        return 1
    if frames['plain'] == 0 or frames['KISS'] == 0:
        print(f'kestrel.ksy: both forms are needed, got {frames}')
        return 1
    print(f'kestrel.ksy ({python_dir}) agrees with kestrel-redecode: {total} frames ({frames["plain"]} plain, '
          f'{frames["KISS"]} KISS), {len(fields)} fields each, {values} values')
    return 0


if __name__ == '__main__':
    sys.exit(main())
