#!/usr/bin/env python3
"""Writes the seed inputs of the redact fuzz target to fuzz/corpus/redact.

Each seed exercises one of the harness's generators (encodings, padded
declarations, nesting, DOCTYPE, output routes) on a small document; the
fuzzer combines them. The layout is described at the top of FuzzRedact.cpp.
"""
import pathlib

DEEP, ATTRIBUTES, REFORMAT, RAW, PIPE, STDOUT, IN_PLACE, THREADS = (1 << bit for bit in range(8))
PAD, COMMENT_PAD, DOCTYPE, STRADDLE = 16, 32, 64, 128
NONE, DECLARED, UTF8, UTF8_BOM, ISO_8859_1, LATIN1, WINDOWS_1252, ISO_8859_15, ISO_8859_2, \
    ISO_ALIAS, UTF16LE_BOM, UTF16BE_BOM, UTF16LE, US_ASCII, BOM_ONLY, ISO_LOWER = range(16)

BODY = b'<r id="k1"><a>secret</a><b class="keep">kept<a>inner</a></b><!-- note --></r>'


def seed(flags=0, prolog=UTF8, depth=0, expressions=b'//a', open_=b'', close=b'',
         trailing=b'', body=BODY):
    assert b'\0' not in expressions
    data = bytes([flags, prolog, depth]) + expressions + b'\0'
    for part in (open_, close, trailing):
        assert len(part) < 256
        data += bytes([len(part)]) + part
    return data + body


SEEDS = {
    'basic': seed(),
    'attributes': seed(ATTRIBUTES, expressions=b'//@id\n//b/@*'),
    'deep': seed(DEEP, expressions=b'//b'),
    'reformat': seed(REFORMAT, expressions=b'//b'),
    'reformat-raw': seed(REFORMAT | RAW | DEEP),
    'pipe': seed(PIPE),
    'stdout': seed(STDOUT | THREADS, expressions=b'//a\n//b'),
    'in-place': seed(IN_PLACE),
    'no-declaration': seed(prolog=NONE, expressions=b'/r/a'),
    'utf8-bom': seed(prolog=UTF8_BOM, expressions=b'//*'),
    'latin1': seed(prolog=ISO_8859_1, body=b'<r><a>s\xe9cret</a><b>caf\xe9 &amp; &co;</b></r>'),
    'latin1-name': seed(prolog=LATIN1 | DOCTYPE, body=b'<r><a>x</a><b>\xe9t\xe9 &co;</b></r>'),
    'windows-1252': seed(prolog=WINDOWS_1252, body=b'<r><a>x</a><b>\x80 \x93q\x94</b></r>'),
    'iso-8859-15': seed(prolog=ISO_8859_15, body=b'<r><a>x</a><b>\xa4</b></r>'),
    'iso-8859-2': seed(prolog=ISO_8859_2, body=b'<r><a>x</a><b>\xb1\xe6</b></r>'),
    'iso-alias': seed(prolog=ISO_ALIAS, body=b'<r><a>x</a><b>\xe9</b></r>'),
    'us-ascii': seed(prolog=US_ASCII),
    'utf16le': seed(prolog=UTF16LE_BOM),
    'utf16be': seed(REFORMAT, prolog=UTF16BE_BOM),
    'utf16-no-bom': seed(prolog=UTF16LE),
    'padded-declaration': seed(prolog=UTF8 | PAD),
    'straddling-declaration': seed(prolog=DECLARED | PAD | STRADDLE),
    'comment-before-document': seed(prolog=UTF8 | COMMENT_PAD),
    'doctype-entity': seed(prolog=UTF8 | DOCTYPE, body=b'<r><a>x</a><b>&co; and &amp;</b></r>'),
    'doctype-in-body': seed(prolog=NONE, body=b'<!DOCTYPE r [<!ENTITY e "E">]><r><a>&e;</a><b>x&e;</b></r>'),
    'trailing': seed(trailing=b'\n<!-- after -->\n<?pi after?>\n'),
    'nested': seed(depth=200, body=b'<b>core</b>'),
    'nested-fragment': seed(DEEP, depth=50, expressions=b'//c', open_=b'<c k="v">t', close=b'</c>',
                            body=b'x'),
    'cdata-and-mixed': seed(expressions=b'//a\n//text()', body=b'<r><a><![CDATA[secret]]>tail<e/>more</a></r>'),
}


def main():
    folder = pathlib.Path(__file__).resolve().parent / 'corpus' / 'redact'
    folder.mkdir(parents=True, exist_ok=True)
    for name, data in SEEDS.items():
        (folder / (name + '.bin')).write_bytes(data)


if __name__ == '__main__':
    main()
