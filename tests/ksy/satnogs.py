"""What SatNOGS DB does with a decoder, as the checks of kestrel.ksy need it:
the :field list read from the decoder class's docstring, each field's value
looked up along its path, and the frames of a SatNOGS DB export."""

import functools
import re

# The pattern SatNOGS DB reads :field lines with.
FIELD_REGEX = re.compile(r':field (?P<field>[\*\w]+): (?P<attribute>.*?)(?:(?=:field)|\Z|\n)', re.S)


def field_list(decoder_class):
    """[(name, path)] in the order the docstring lists them."""
    return FIELD_REGEX.findall(decoder_class.__doc__ or '')


def get_fields(parsed, fields):
    """{name: value} as SatNOGS DB hands them to InfluxDB: a path that does
    not resolve is left out; a path that resolves to None stays None (the
    InfluxDB client then writes no value for it)."""
    values = {}
    for name, path in fields:
        try:
            values[name] = functools.reduce(getattr, path.split('.'), parsed)
        except AttributeError:
            continue
    return values


def read_export(path):
    """[(number, time, frame bytes)] of an export file ("YYYY-MM-DD HH:MM:SS|HEX"
    lines), time as ISO 8601 UTC to the second."""
    frames = []
    with open(path, encoding='ascii') as f:
        for number, line in enumerate(f, 1):
            stamp, hexframe = line.strip().split('|')
            frames.append((number, stamp.replace(' ', 'T') + 'Z', bytes.fromhex(hexframe)))
    return frames


def load_decoder(python_dir, ksy_id='kestrel'):
    """The class the compiler made of the .ksy: the module named as the id, the
    class as the id capitalised, as SatNOGS DB looks it up."""
    import importlib  # pylint: disable=import-outside-toplevel
    import sys  # pylint: disable=import-outside-toplevel
    sys.path.insert(0, python_dir)
    return getattr(importlib.import_module(ksy_id), ksy_id.capitalize())
