'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const { parseCsv, parseCsvObjects, formatCsv } = require('../lib/csv');

const cells = (text) => parseCsv(text).map((r) => r.cells);

test('parses the forms the plain sources use', () => {
  const cases = [
    ['a,b\n1,2\n', [['a', 'b'], ['1', '2']]],
    ['a,b\r\n1,2\r\n', [['a', 'b'], ['1', '2']]],
    ['\ufeffa,b\n1,2', [['a', 'b'], ['1', '2']]],
    ['a,"x, y",c\n', [['a', 'x, y', 'c']]],
    ['"say ""hi""",2\n', [['say "hi"', '2']]],
    ['"two\nlines",2\n', [['two\nlines', '2']]],
    ['# comment\n\na,b\n# another, with a comma\n1,\n', [['a', 'b'], ['1', '']]],
    ['a, "quoted" ,b\n', [['a', 'quoted', 'b']]],
    ['a,""\n', [['a', '']]],
  ];
  for (const [text, want] of cases) assert.deepEqual(cells(text), want, JSON.stringify(text));
});

test('reports broken quoting with its line', () => {
  const cases = [
    ['a,b\n"open,2\n', /line 2: quoted field is not closed/],
    ['a,b\n"x"y,2\n', /line 2: text after a closing quote/],
    ['a,b\nx"y",2\n', /line 2: quote inside an unquoted field/],
  ];
  for (const [text, want] of cases) assert.throws(() => parseCsv(text), want, JSON.stringify(text));
});

test('line numbers of records count comment lines and quoted line breaks', () => {
  const rows = parseCsvObjects('# c\nk,v\n"a\nb",1\nc,2\n', ['k', 'v']);
  assert.deepEqual(rows.map((r) => [r.line, r.k]), [[3, 'a\nb'], [5, 'c']]);
});

test('records must match the header', () => {
  assert.throws(() => parseCsvObjects('k,v\n1,2,3\n'), /line 2: 3 fields, the header has 2/);
  assert.throws(() => parseCsvObjects('k,v\n', ['k', 'w']), /column "w" is missing/);
  assert.throws(() => parseCsvObjects('# only a comment\n'), /no header row/);
});

test('formatted values read back unchanged', () => {
  const records = [
    { a: 'plain', b: 'with, comma' },
    { a: 'say "x"', b: '#not a comment' },
    { a: 'line\nbreak', b: '' },
  ];
  const back = parseCsvObjects(formatCsv(['a', 'b'], records)).map(({ a, b }) => ({ a, b }));
  assert.deepEqual(back, records);
});
