'use strict';
// The shipped sources must build, and the generated files beside them must be what the sources
// give today: a source edited without re-running the tools is caught here.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const path = require('path');
const { tempDir } = require('./helpers');
const { writeFileAtomic } = require('../lib/files');
const dbase = require('../make-dbase');
const regcodes = require('../make-regcodes');

const SRC = path.join(__dirname, '..', '..', '..', 'data', 'src');

test('dbase.xml is up to date with its sources', () => {
  const built = dbase.build(SRC);
  assert.equal(fs.readFileSync(path.join(SRC, 'dbase.xml'), 'utf8'), built.xml, 'run: npm run dbase');
  assert.ok(built.types.length >= 150, `${built.types.length} aircraft types`);
});

test('regcodes.xml is up to date with its sources', () => {
  assert.equal(fs.readFileSync(path.join(SRC, 'regcodes.xml'), 'utf8'), regcodes.build(SRC).xml, 'run: npm run regcodes');
});

test('the types the livery families are built on are all there, each in its family', () => {
  const { families } = dbase.build(SRC);
  const familyOf = new Map();
  for (const f of families) for (const t of f.types) familyOf.set(t, f.name);
  const groups = [
    ['A319', 'A320', 'A321', 'A19N', 'A20N', 'A21N'],
    ['B736', 'B737', 'B738', 'B739', 'B37M', 'B38M', 'B39M', 'B3XM'],
    ['E170', 'E75L', 'E75S', 'E190', 'E195', 'E290', 'E295'],
    ['CRJ1', 'CRJ2', 'CRJ7', 'CRJ9', 'CRJX'],
    ['AT43', 'AT45', 'AT72', 'AT75', 'AT76'],
    ['DH8A', 'DH8B', 'DH8C', 'DH8D'],
    ['B772', 'B77L', 'B773', 'B77W', 'B778', 'B779'],
    ['A332', 'A333', 'A338', 'A339'],
    ['A359', 'A35K'],
    ['B788', 'B789', 'B78X'],
    ['B744', 'B748'],
  ];
  for (const g of groups) {
    const names = new Set(g.map((t) => familyOf.get(t)));
    assert.equal(names.size, 1, `${g.join(' ')}: ${[...names].join(', ')}`);
    assert.ok(!names.has(undefined), `${g.join(' ')} not in a family`);
  }
});

test('files are replaced whole', (t) => {
  const dir = tempDir(t);
  const target = path.join(dir, 'out.xml');
  fs.writeFileSync(target, 'old');
  writeFileAtomic(target, 'new');
  assert.equal(fs.readFileSync(target, 'utf8'), 'new');
  assert.deepEqual(fs.readdirSync(dir), ['out.xml']);
});
