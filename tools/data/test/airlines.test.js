'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const { selectAirlines } = require('../lib/airlines');

const rec = (id, icao, name, extra = {}) => ({
  id: String(id), name, alias: '\\N', iata: '', icao, callsign: '', country: '', active: 'Y', ...extra,
});

test('only 3-letter codes with a name are kept', () => {
  const input = [
    rec(1, 'DLH', 'Lufthansa'),
    rec(2, 'N/A', 'Private flight'),
    rec(3, '\\N', 'Air Mandalay'),
    rec(4, 'KW1', 'Wataniya Airways'),
    rec(5, 'AB', 'Short'),
    rec(6, 'ABCD', 'Long'),
    rec(7, '', 'Empty'),
    rec(8, 'XYZ', '\\N'),
  ];
  const { airlines, dropped } = selectAirlines(input);
  assert.deepEqual(airlines.map((a) => a.icao), ['DLH']);
  assert.equal(dropped, 7);
});

test('one record per code: active first, then the more complete, then the newer', () => {
  const cases = [
    ['active wins whatever the order',
      [rec(10, 'AAA', 'Old', { active: 'N', iata: 'AA', callsign: 'X', country: 'Y' }), rec(5, 'AAA', 'New')], 'New'],
    ['active wins when it comes first',
      [rec(5, 'AAA', 'New'), rec(10, 'AAA', 'Old', { active: 'N' })], 'New'],
    ['more fields filled wins',
      [rec(9, 'AAA', 'Sparse', { iata: '\\N', country: '\\N' }), rec(3, 'AAA', 'Full', { iata: 'VO', callsign: 'TYROLEAN', country: 'Austria' })], 'Full'],
    ['the higher id wins otherwise',
      [rec(50, 'AAA', 'ABX Air', { active: 'N' }), rec(49, 'AAA', 'Airborne Express', { active: 'N' })], 'ABX Air'],
  ];
  for (const [what, input, want] of cases) {
    const { airlines, dropped } = selectAirlines(input);
    assert.equal(airlines.length, 1, what);
    assert.equal(airlines[0].name, want, what);
    assert.equal(dropped, 1, what);
  }
});

test('airlines marked inactive but without an active record stay, flagged', () => {
  const { airlines } = selectAirlines([rec(1, 'FDX', 'Federal Express', { active: 'N', iata: 'FX' })]);
  assert.equal(airlines.length, 1);
  assert.equal(airlines[0].active, false);
});

test('fields are cleaned', () => {
  const { airlines } = selectAirlines([
    rec(1, 'PVU', 'Peau Vava\u001b%G\u02bb\u001b%@u', { iata: '-', callsign: 'peau', country: '\\N' }),
    rec(2, 'SLC', "Salsa d\\\\'Haiti", { iata: 'SO', callsign: '  SALSA  ' }),
    rec(3, 'ZZZ', 'Two  blanks', { iata: '8z' }),
  ]);
  assert.deepEqual(airlines.map(({ icao, iata, name, callsign, country }) => [icao, iata, name, callsign, country]), [
    ['PVU', '', 'Peau Vava\u02bbu', 'PEAU', ''],
    ['SLC', 'SO', "Salsa d'Haiti", 'SALSA', ''],
    ['ZZZ', '8Z', 'Two blanks', '', ''],
  ]);
});
