'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const {
  checkTypes, checkFamilies, checkAirlines, dbaseXml, checkRegistrations, checkSpecialLiveries, regcodesXml,
} = require('../lib/dbase');

let line = 10;
const type = (icao, span_m, size, name = `${icao} name`) => ({ line: line++, icao, name, span_m, size });
const meta = { author: 'A', version: '1.0.0', date: '2026-01-01', copyright: 'C' };

test('aircraft type rows that break a rule are refused with their line', () => {
  const cases = [
    [[type('a320', '35.8', 'large')], /is not a type designator/],
    [[type('1A', '10', 'light')], /is not a type designator/],
    [[type('A3200', '35.8', 'large')], /is not a type designator/],
    [[type('A320', '35.8', 'large'), type('A320', '35.8', 'large')], /A320 is listed again \(first on line \d+\)/],
    [[type('A320', '35,8', 'large')], /span "35,8" is not metres/],
    [[type('A320', '35.801', 'large')], /at most two decimals/],
    [[type('A320', '0', 'large')], /out of range/],
    [[type('A320', '358', 'large')], /out of range/],
    [[type('A320', '35.8', 'Large')], /size "Large" is not one of/],
    [[type('A320', '35.8', '')], /size "" is not one of/],
    [[type('A320', '35.8', 'large', '')], /A320 has no name/],
  ];
  for (const [rows, want] of cases) assert.throws(() => checkTypes(rows), want, JSON.stringify(rows));
});

test('families: known types, one family each, one size class', () => {
  const types = checkTypes([
    type('A319', '35.80', 'large'), type('A320', '35.80', 'large'), type('A332', '60.30', 'heavy'), type('A333', '60.30', 'heavy'),
  ]);
  const fam = (family, types_) => ({ line: line++, family, types: types_ });
  assert.deepEqual(checkFamilies([fam('A320', 'A319  A320'), fam('A330', 'A332 A333')], types),
    [{ name: 'A320', types: ['A319', 'A320'] }, { name: 'A330', types: ['A332', 'A333'] }]);
  const cases = [
    [[fam('X', 'A319 A321')], /A321 is not in the aircraft types/],
    [[fam('X', 'A319 A320'), fam('Y', 'A320 A319')], /A320 is already in family "X"/],
    [[fam('X', 'A320 A332')], /A332 is heavy, the family is large/],
    [[fam('X', 'A320')], /needs at least two types/],
    [[fam('X', 'A319 A320'), fam('X', 'A332 A333')], /family "X" is listed again/],
  ];
  for (const [rows, want] of cases) assert.throws(() => checkFamilies(rows, types), want, JSON.stringify(rows));
});

test('airline rows are checked', () => {
  const al = (icao, iata, active = '1', name = 'N') => ({ line: line++, icao, iata, name, callsign: '', country: '', active });
  assert.equal(checkAirlines([al('DLH', 'LH'), al('BAW', ''), al('TUI', 'X3')]).length, 3);
  const cases = [
    [[al('DL', 'LH')], /not a 3-letter airline code/],
    [[al('DLH', 'L')], /not a 2-character IATA code/],
    [[al('DLH', 'LH'), al('DLH', 'LH')], /DLH is listed again/],
    [[al('DLH', 'LH', 'Y')], /active must be 1 or 0/],
    [[al('DLH', 'LH', '1', '')], /DLH has no name/],
  ];
  for (const [rows, want] of cases) assert.throws(() => checkAirlines(rows), want, JSON.stringify(rows));
});

test('the data base holds types with their set, light types with none', () => {
  const types = checkTypes([type('C172', '11.00', 'light', 'Cessna 172'), type('B77W', '64.80', 'heavy', 'Boeing 777-300ER')]);
  const xml = dbaseXml({
    types,
    families: [],
    airlines: [{ icao: 'AFR', iata: 'AF', name: 'Air France', callsign: 'AIRFRANS', country: 'France', active: '1' }],
    meta,
  });
  assert.match(xml, /<type icao="C172" name="Cessna 172" span_m="11.00"\/>/);
  assert.match(xml, /<type icao="B77W" name="Boeing 777-300ER" span_m="64.80" sets="heavy"\/>/);
  assert.match(xml, /<airline icao="AFR" iata="AF" name="Air France" callsign="AIRFRANS" country="France" active="1"\/>/);
  assert.match(xml, /<dbase>\n<meta>.*<\/meta>\n <aircraft>\n/);
});

test('registrations and special liveries are checked and written', () => {
  const reg = (r, extra = {}) => ({ line: line++, reg: r, airline: 'DLH', type: 'A20N', operator: '', cargo: '0', ...extra });
  const cases = [
    [[reg('d-aina')], /is not a registration/],
    [[reg('D-AINA'), reg('D-AINA')], /D-AINA is listed again/],
    [[reg('D-AINA', { airline: 'LH' })], /airline "LH" is not a 3-letter code/],
    [[reg('D-AINA', { operator: 'CLH1' })], /operator "CLH1" is not a 3-letter code/],
    [[reg('D-AINA', { type: 'a20n' })], /"a20n" is not a type designator/],
    [[reg('D-AINA', { cargo: 'yes' })], /cargo must be 1 or 0/],
    [[reg('ABCDEFGHIJKLM')], /at most 12/],
  ];
  for (const [rows, want] of cases) assert.throws(() => checkRegistrations(rows), want, JSON.stringify(rows));
  assert.throws(() => checkSpecialLiveries([{ line: 1, reg: 'D-ABYA', title: '' }]), /has no livery title/);
  const xml = regcodesXml({
    registrations: checkRegistrations([reg('N123FE', { airline: 'FDX', type: 'B77L', cargo: '1' })]),
    specials: checkSpecialLiveries([{ line: 2, reg: 'D-ABYA', title: 'Livery "Fanhansa" & co' }]),
    meta,
  });
  assert.match(xml, /<reg reg="N123FE" airline="FDX" type="B77L" operator="" cargo="1"\/>/);
  assert.match(xml, /<livery reg="D-ABYA" title="Livery &quot;Fanhansa&quot; &amp; co"\/>/);
});
