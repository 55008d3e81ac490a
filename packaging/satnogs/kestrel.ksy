---
# The KESTREL beacon for SatNOGS DB's decoders: what a ground station running
# kestrel-decoder forwards, in both of its forms, with the values scaled as the
# decoder shows them. The :field list names each value after the column of
# kestrel-redecode's CSV that holds the same number (its unit left off).
meta:
  id: kestrel
  title: KESTREL telemetry beacon
  license: GPL-3.0-or-later
  endian: le
doc-ref: docs/BEACON.md in the KESTREL telemetry decoder's sources (the beacon's layout)
doc: |
  The KESTREL telemetry beacon as ground stations forward it to SatNOGS DB,
  in either of two forms:

  * a plain TNC's line: the 131-byte beacon frame alone, "Bb", a 16-bit
    header word, the 106-byte telemetry record and the trailer text
    " NORTHERN SKY BEACON ";
  * a KISS TNC's line (a software TNC such as direwolf): the whole data frame
    as the TNC hands it out, the AX.25 UI header (destination KR7, source
    KESTRL, digipeaters if any, control 0x03, PID 0xF0) followed by the same
    131 bytes as its information field.

  A frame that starts with "Bb" is the plain form. All numbers little-endian,
  packed. Units: FlightTime and TransponderTime in seconds, Vbat in mV, Iin,
  Isys and Isun1 to Isun3 in mA, Bx, By and Bz in microtesla, Latitude and
  Longitude in degrees, Tcpu, Tpsu, ToutMin and ToutMax in degrees Celsius;
  Altitude, Velocity and Foto1 to Foto6 carry no unit. GpsOn and
  TransponderOn count as on only when they are 1; the position fields hold
  whatever the satellite sent while GpsOn is not.

  Every field fits what SatNOGS DB's dashboard stores (InfluxDB): the eight
  status bytes are the fields Status1 to Status8, 0 to 255 each, as the
  decoder shows them (kestrel-redecode's CSV holds them as one hex number,
  StatusBytes, Status1 its most significant byte); a float field that is NaN
  or infinite has no value in that frame's point (its path gives none) rather
  than one InfluxDB refuses. The raw values stay in the structure (status,
  bx, latitude, ...).

  :field FlightTime: beacon.record.flight_time
  :field Vbat: beacon.record.vbat
  :field Iin: beacon.record.iin
  :field Isys: beacon.record.isys
  :field Bx: beacon.record.bx_finite
  :field By: beacon.record.by_finite
  :field Bz: beacon.record.bz_finite
  :field Latitude: beacon.record.latitude_finite
  :field Longitude: beacon.record.longitude_finite
  :field Altitude: beacon.record.altitude_finite
  :field Velocity: beacon.record.velocity_finite
  :field GpsOn: beacon.record.gps_on
  :field Tcpu: beacon.record.tcpu
  :field Tpsu: beacon.record.tpsu
  :field ToutMin: beacon.record.tout_min
  :field ToutMax: beacon.record.tout_max
  :field TransponderTime: beacon.record.transponder_time
  :field TransponderOn: beacon.record.transponder_on
  :field Isun1: beacon.record.isun1
  :field Isun2: beacon.record.isun2
  :field Isun3: beacon.record.isun3
  :field Foto1: beacon.record.foto1
  :field Foto2: beacon.record.foto2
  :field Foto3: beacon.record.foto3
  :field Foto4: beacon.record.foto4
  :field Foto5: beacon.record.foto5
  :field Foto6: beacon.record.foto6
  :field Status1: beacon.record.status1
  :field Status2: beacon.record.status2
  :field Status3: beacon.record.status3
  :field Status4: beacon.record.status4
  :field Status5: beacon.record.status5
  :field Status6: beacon.record.status6
  :field Status7: beacon.record.status7
  :field Status8: beacon.record.status8
  :field Boots: beacon.record.boots
  :field LastBootCause: beacon.record.last_boot_cause

seq:
  - id: ax25_header
    type: ax25_header
    if: not is_plain
    doc: Only in the KISS form.
  - id: beacon
    type: beacon_frame

instances:
  start_bytes:
    pos: 0
    type: u2be
  is_plain:
    value: start_bytes == 0x4262
    doc: The frame starts with "Bb"; an AX.25 address never does.

types:
  ax25_header:
    seq:
      - id: dest_address
        type: ax25_address
      - id: src_address
        type: ax25_address
      - id: repeaters
        type: ax25_address
        repeat: until
        repeat-until: _.is_last
        if: not src_address.is_last
      - id: control
        type: u1
        doc: 0x03, a UI frame.
      - id: pid
        type: u1
        doc: 0xF0, no layer 3.

  ax25_address:
    seq:
      - id: callsign_raw
        size: 6
        process: ror(1)
        doc: Each character shifted left one bit, blank-padded to six.
      - id: ssid_byte
        type: u1
    instances:
      callsign:
        value: callsign_raw.to_s("ASCII")
      ssid:
        value: (ssid_byte & 0x1e) >> 1
      is_last:
        value: (ssid_byte & 0x01) == 1
        doc: The last address of the header.

  beacon_frame:
    seq:
      - id: start
        contents: "Bb"
      - id: frame_header
        type: u2
        doc: Kept as sent; 135 from the ground test generator.
      - id: record
        type: beacon_record
        size: 106
      - id: trailer
        contents: " NORTHERN SKY BEACON "

  beacon_record:
    seq:
      - id: flight_time
        type: u4
        doc: Flight time, s.
      - id: milliseconds
        type: u4
        doc: Millisecond count; not shown by the decoder.
      - id: status
        type: u1
        repeat: expr
        repeat-expr: 8
        doc: Status and error codes, first to eighth.
      - id: vbat
        type: u2
        doc: Battery voltage, mV.
      - id: iin
        type: u2
        doc: Input current, mA.
      - id: isys
        type: u2
        doc: System current, mA.
      - id: isun1
        type: u2
        doc: Solar cell 1 current, mA.
      - id: isun2
        type: u2
        doc: Solar cell 2 current, mA.
      - id: isun3
        type: u2
        doc: Solar cell 3 current, mA.
      - id: spare28
        type: u1
      - id: bx
        type: f4
        doc: Magnetic field, x axis, uT.
      - id: by
        type: f4
        doc: Magnetic field, y axis, uT.
      - id: bz
        type: f4
        doc: Magnetic field, z axis, uT.
      - id: longitude
        type: f8
        doc: GPS longitude, degrees (east positive).
      - id: latitude
        type: f8
        doc: GPS latitude, degrees (north positive).
      - id: altitude
        type: f8
        doc: GPS altitude; no unit given.
      - id: velocity
        type: f8
        doc: GPS velocity; no unit given.
      - id: tcpu_raw
        type: s2
        doc: Processor temperature as the sensor's raw count; see tcpu.
      - id: tpsu
        type: s2
        doc: Power-supply temperature, degrees Celsius.
      - id: tout_max
        type: s2
        doc: Highest outer temperature, degrees Celsius.
      - id: tout_min
        type: s2
        doc: Lowest outer temperature, degrees Celsius.
      - id: boots
        type: s4
        doc: Number of boots.
      - id: last_boot_cause
        type: u1
        doc: Code of the cause of the last boot.
      - id: spare86
        size: 4
      - id: gps_on
        type: u1
        doc: 1 = GPS on; any other value = off.
      - id: transponder_time
        type: u2
        doc: Transponder time, s.
      - id: transponder_on
        type: u1
        doc: 1 = linear transponder on; any other value = off.
      - id: foto1
        type: u2
        doc: Photo-sensor 1, no unit.
      - id: foto2
        type: u2
      - id: foto3
        type: u2
      - id: foto4
        type: u2
      - id: foto5
        type: u2
      - id: foto6
        type: u2
    instances:
      tcpu:
        value: tcpu_raw / 340.0 + 36.53
        doc: Processor temperature, degrees Celsius.
      status_bytes:
        pos: 8
        type: u8be
        doc: The eight status bytes as one number, the first the most significant (as kestrel-redecode's CSV shows them).
      status1:
        value: status[0]
      status2:
        value: status[1]
      status3:
        value: status[2]
      status4:
        value: status[3]
      status5:
        value: status[4]
      status6:
        value: status[5]
      status7:
        value: status[6]
      status8:
        value: status[7]
      bx_finite:
        value: bx
        if: bx - bx == 0.0
        doc: |
          The value when it is a number; none when it is NaN or infinite
          (x - x is 0 for every finite x, NaN otherwise).
      by_finite:
        value: by
        if: by - by == 0.0
      bz_finite:
        value: bz
        if: bz - bz == 0.0
      latitude_finite:
        value: latitude
        if: latitude - latitude == 0.0
      longitude_finite:
        value: longitude
        if: longitude - longitude == 0.0
      altitude_finite:
        value: altitude
        if: altitude - altitude == 0.0
      velocity_finite:
        value: velocity
        if: velocity - velocity == 0.0
      gps_is_on:
        value: gps_on == 1
      transponder_is_on:
        value: transponder_on == 1
