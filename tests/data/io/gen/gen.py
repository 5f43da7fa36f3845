#!/usr/bin/env python3
"""Writes the extra reference tables of the formatted-I/O tests (../*.tsv) from
what gfortran's runtime writes and reads. Needs gfortran; the tests themselves
only read the tables. Run from anywhere: python3 gen.py"""
import os
import random
import struct
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.dirname(HERE)
rng = random.Random(20240611)


def f32_bits(v):
    return struct.unpack('<i', struct.pack('<f', v))[0]


def f64_bits(v):
    return struct.unpack('<q', struct.pack('<d', v))[0]


def bits_f32(b):
    return struct.unpack('<f', struct.pack('<i', b))[0]


def bits_f64(b):
    return struct.unpack('<d', struct.pack('<q', b))[0]


def next_f32(v, up):
    b = f32_bits(v)
    if v == 0.0:
        return bits_f32(1) if up else -bits_f32(1)
    if (v > 0) == up:
        b += 1
    else:
        b -= 1
    return bits_f32(b)


def run_fortran(src, driver, tmp):
    exe = os.path.join(tmp, os.path.splitext(os.path.basename(src))[0])
    subprocess.run(['gfortran', '-O0', '-ffree-line-length-none', '-o', exe, src], check=True)
    r = subprocess.run([exe], input=driver, capture_output=True, text=True, check=True)
    return r.stdout.split('\n')


def f32_values():
    """Core values (for every descriptor) and boundary values (for G and the list form)."""
    core = [0.0, -0.0, 1.0, -1.0, 0.5, 0.25, 0.125, 0.375, 2.5, 3.5, 1.5, 0.05, 0.15,
            9.5, 99.5, 999.5, 0.0625, 1e-5, 1.17549435e-38, 3.40282347e38, 1e-40, 1.4e-45,
            float('inf'), float('-inf'), float('nan'), 123456789.0, 1e9, 1e8, 0.1, 0.01]
    for _ in range(150):
        e = rng.uniform(-12, 12)
        m = round(10 ** e, rng.randint(0, 8)) if rng.random() < 0.3 else 10 ** e
        v = struct.unpack('<f', struct.pack('<f', m))[0]
        core.append(-v if rng.random() < 0.3 else v)
    for _ in range(40):
        b = rng.getrandbits(32)
        core.append(bits_f32(b - (1 << 32) if b >= (1 << 31) else b))
    # Values near the rounding and form boundaries of G and of the list form.
    edge = []
    for k in range(-3, 11):
        for digits in (1, 2, 3, 4, 5, 6, 9):
            b = 10.0 ** k * (1 - 0.5 * 10.0 ** (-digits))
            f = struct.unpack('<f', struct.pack('<f', b))[0]
            edge += [f, next_f32(f, True), next_f32(f, False)]
        p = struct.unpack('<f', struct.pack('<f', 10.0 ** k))[0]
        edge += [p, next_f32(p, True), next_f32(p, False)]
    return core, edge


def f64_values():
    core = [0.0, -0.0, 1.0, -1.0, 0.5, 2.5, 0.125, 1e-100, 1e-101, 1e100, 1e99, 1e-99, 1e300,
            -1e-300, 5e-324, 1.7976931348623157e308, float('inf'), float('nan'), 1e16, 1e17,
            1e15, 0.1, 0.09999999999999999, 99999999999999999.0, 1.0 / 3.0, 2.0 / 3.0]
    for _ in range(120):
        e = rng.uniform(-120, 120) if rng.random() < 0.5 else rng.uniform(-10, 10)
        v = 10 ** e
        core.append(-v if rng.random() < 0.3 else v)
    edge = []
    for k in range(-3, 18):
        for digits in (2, 3, 4, 5, 16, 17):
            b = 10.0 ** k * (1 - 0.5 * 10.0 ** (-digits))
            edge += [b, b * (1 + 2 ** -52), b * (1 - 2 ** -52)]
    return core, edge


OUT_FORMATS = ['F7.2', 'F10.3', 'F8.4', 'F5.1', 'F3.0', 'F2.0', 'F1.0', 'F4.0', 'F6.5', 'F15.3',
               'F9.1', 'F12.2', 'E12.3', 'E9.3', 'E8.3', 'E11.4', 'E12.4E3', 'E10.3E1', 'E7.2',
               '1PE12.4', '1PE10.3', '1PE11.4', '-1PE12.4', '2PE12.4', 'G11.4', 'G10.3', 'G10.2',
               'G12.4', 'G15.5', 'G14.4', 'G13.6', 'G10.4', 'G8.3', 'G5.1', 'G11.4E3', 'G14.5',
               'G15.4', 'G12.3', 'G10.1', 'D12.4', '1PG12.4', 'F6.3', 'F6.2', '1PF8.3', '-1PF8.3',
               '2PF10.2', '-3PF8.1', 'ES12.4', '*']


def gen_output(tmp):
    rows = []
    driver = []
    for kind, (core, edge) in ((4, f32_values()), (8, f64_values())):
        for fmt in OUT_FORMATS:
            values = core + edge if (fmt == '*' or 'G' in fmt) else core
            for v in values:
                bits = f32_bits(v) if kind == 4 else f64_bits(v)
                driver.append('%d %-40s %20d' % (kind, fmt, bits))
                rows.append((kind, fmt, bits))
    lines = run_fortran(os.path.join(HERE, 'out_ref.f90'), '\n'.join(driver) + '\n', tmp)
    out = []
    for (kind, fmt, bits), line in zip(rows, lines):
        if fmt == '*':
            field = line
        else:
            assert line.startswith('|') and line.endswith('|'), line
            field = line[1:-1]
        out.append('%d\t%s\t%d\t|%s|' % (kind, fmt, bits, field))
    with open(os.path.join(OUT, 'format-output-extra.tsv'), 'w') as f:
        f.write('# kind (4 or 8)\tdescriptor (* = list-directed)\tbit pattern of the value (signed integer)\tfield between | marks\n')
        f.write('\n'.join(out) + '\n')


IN_FIELDS = ['5', '5.', '5e2', ' 1 5', '', '1e-7', '1.0E-07', '-3.5', '  -3.5', '12345', '1.5D+01',
             '+.25', '-5', '   7', '2.5e+1', '1.0e', '0.001', '3', '.5', '1 0 0 0', '-0', '4E1',
             '-', '+', ' - ', '.', '-.', 'e5', 'E+5', '1.5-3', '1.5+3', '1.5 -3', '1.5e -3',
             '1.5e- 3', '1.5e-', '1.5e+ ', '1.5e 3', '1. 5', '1.2.3', '1e5e', '1,5', '1q2', '1Q-2',
             'inf', '-Inf', 'infinity', 'nan', 'NaN', 'nan()', 'in', 'infx', '1x', 'x', '1e39',
             '-1e39', '3.4028235e38', '3.4028236e38', '1e-46', '1e-39', '1e400', '1e-400',
             '0.1000000014901161193847656250', '1.00000005960464477539062500000001',
             '1.000000059604644775390625', '1.0000000596046447753906249999',
             '16777217', '16777217.', '33554435.0', '9.999999e-1', '00000000001.5', '1e+0005',
             '1d', 'd5', '.e5', '-.e5', '+1.', '- 1.5', '1.5 e 2', '1e99999', '7 ', '  ', '\t5',
             '1.25', '0.3', '2.675', '1.0000001', '123456789012345678901234567890', '1e9999',
             '1e-9996', '1e-9997', '1.e-9999', '1.e-10000', '1e10002', '1e10003', '1.e9999', '1.e10000',
             '0e99999', '1e000000000000005', '--1', '-+1', '+-5', '-e5', '5e', '5d+']


def gen_input(tmp):
    rows = []
    driver = []
    descs = [('R', 'G10.3'), ('R', 'F10.6'), ('R', 'F5.4'), ('R', 'E12.3'), ('R', 'G13.6'),
             ('R', 'F8.2'), ('R', 'F40.0'), ('R', 'F40.3'), ('I', 'I5'), ('I', 'I12')]
    fields = IN_FIELDS + ['2147483647', '-2147483648', '2147483648', '-2147483649', '+ 5', '- 5',
                          '5 -', '5-', '1+2']
    for _ in range(150):
        v = 10 ** rng.uniform(-10, 10) * (1 if rng.random() < 0.7 else -1)
        style = rng.randint(0, 4)
        if style == 0:
            t = '%.9g' % v
        elif style == 1:
            t = '%.7e' % v
        elif style == 2:
            t = ('%.6e' % v).replace('e', 'D')
        elif style == 3:
            t = ('%.5e' % v).replace('e', '')
        else:
            t = '%d' % int(v) if abs(v) < 1e9 else '%.3e' % v
        fields.append(t)
    for typ, desc in descs:
        w = int(desc[1:].split('.')[0])
        for fld in fields:
            fld = fld.replace('\t', ' ')
            driver.append('%s%4d%-14s|%s|' % (typ, w, '(' + desc + ')', fld))
            rows.append((typ, desc, fld))
    for fld in ['         T', '         F', 'T         ', '   .TRUE.', '  .false.', '         t',
                '  Txyz    ', '         1', '.', ' .', '  .x', 'true', '   F5', '.f', 'x']:
        driver.append('%s%4d%-14s|%s|' % ('L', 10, '(L10)', fld))
        rows.append(('L', 'L10', fld))
    lines = run_fortran(os.path.join(HERE, 'in_ref.f90'), '\n'.join(driver) + '\n', tmp)
    out = []
    for (typ, desc, fld), line in zip(rows, lines):
        line = line.strip()
        if line.startswith('ERROR'):
            res = 'ERROR'
        elif typ == 'R':
            b4, b8 = line.split()
            res = '%s\t%s' % (b4, b8)
        else:
            res = line
        out.append('%s\t|%s|\t%s' % (desc, fld, res))
    with open(os.path.join(OUT, 'format-input-extra.tsv'), 'w') as f:
        f.write('# descriptor\tfield between | marks (cut or padded with blanks to the width)\t'
                'ERROR, or the value: for reals the bit patterns read into a 4-byte and an 8-byte real '
                '(signed integers), for integers the value, for L10 T or F\n')
        f.write('\n'.join(out) + '\n')


LIST_LINES = ['1 2 3', '1,2,3', '1, ,3', '2*5 6', '1 2/', '1.5d0 2 3', '  1   2   3  extra', '1,,3',
              '-1.e-3 +4 5.', '3*7', '1 2', '1 x 3', '.5 .25 .125', '1;2;3', '1;;3', '1\t2\t3', ',2,3',
              '1,2,3,', '1 , 2 , 3', '1,,,', '2* 5', '2*,5', '0*5 1 2', '1e3 1E+3 1d-3',
              '1.5-3 2+2 1q2', 'inf -Infinity nan', '1.2.3 4 5', '1e 2 3', '- 2 3', '+ 2 3',
              '1x 2 3', '1 2 3/ 4', '/', '1,/', '1 2,/', '3*', '1*2 2*3', '"1" 2 3', '1 e5 3',
              '1 2 3 4 5', '', '1(2) 3 4', '4*2', '1,2,3,,', '1 2 3x', '1 2 3,x', '1.0e400 1e-50 -0',
              '1 2 ,', '0.1000000014901161193847656250 1.00000005960464477539062500000001 16777217',
              '1e-46 1e-39 3.4028236e38', '+.5 -.5 5.e-1', '1.5e+ 2 3', 'T 2 3', '1/2 3', '1 2/3',
              ' , , ', '2*1.5,7', '1 2*', '1,2*', '2*3*4 1', '1.5D+300 1 2', '00012 -0.0 +0e0']
MIXED_LINES = ['5 2.5 abc', '2.5 2.5 abc', '5. 2.5 abc', '1e2 2.5 abc', "+5 2 'ab''c d'",
               '-5 2 "ab""c d"', '5 2 ab/cd', '5 2 ab,cd', '5 2 3*ab', '5 2 2*ab', '2*5 ab', '5x 2 ab',
               '99999999999 2 ab', "5 2 'abc", "5 2 ab'c", '5 2 "ab" "cd"', "5 2 'ab'x", '5 2 1e3',
               '5 2 ,', '5 2 !x', '2147483647 1 x', '-2147483648 1 x', '2147483648 1 x', '+ 5 1 x',
               "5 2 'a,b/c'", '5 2 ab;cd', "5,2,'x'", '5 2 2*', "5 2 ''", '1 2*3 x']
LOGICAL_LINES = ['T 1', '.TRUE. 1', '.f 1', 'true 1', 'Tx 1', '1 1', '. 1', 'x 1', '.t. 1', ' F,1',
                 '"T" 1', 'F/', 't', 'f 2.5', '2*T', ', 3']


def gen_list(tmp):
    rows = []
    driver = []
    for typ, lines in (('R', LIST_LINES), ('D', LIST_LINES), ('M', MIXED_LINES), ('L', LOGICAL_LINES)):
        for text in lines:
            driver.append('%s|%s|' % (typ, text))
            rows.append((typ, text))
    lines = run_fortran(os.path.join(HERE, 'list_ref.f90'), '\n'.join(driver) + '\n', tmp)
    out = []
    for (typ, text), line in zip(rows, lines):
        line = line.strip()
        if typ == 'M':
            head, s = line.split('|', 1)
            s = s[:-1] if s.endswith('|') else s
            ios, n, a = head.split()
            vals = [ios, n, a, '|%s|' % s]
        else:
            vals = line.split()
        ios = int(vals[0])
        status = 'OK' if ios == 0 else ('END' if ios < 0 else 'ERROR')
        out.append('\t'.join([typ, '|%s|' % text.replace('\t', '\\t'), status] + vals[1:]))
    with open(os.path.join(OUT, 'list-input-extra.tsv'), 'w') as f:
        f.write('# targets (R three 4-byte reals, D three 8-byte reals, M integer + 4-byte real + text, '
                'L logical + integer), each -9 (text "-", logical T) before the read\n')
        f.write('# targets\tline between | marks (a tab written \\t)\tstatus\tvalues after the read (reals as bit patterns)\n')
        f.write('\n'.join(out) + '\n')


def main():
    with tempfile.TemporaryDirectory() as tmp:
        gen_output(tmp)
        gen_input(tmp)
        gen_list(tmp)
    return 0


if __name__ == '__main__':
    sys.exit(main())
