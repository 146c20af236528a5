'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const { selectAirports, airportsXml, airportNamesXml } = require('../lib/airports');

const ap = (icao, extra = {}) => ({
  name: `${icao} Airport`, city: 'Town', country: 'Land', icao, latitude: 50.5, longitude: 8.25, altitude: 364, ...extra,
});
const meta = { author: 'A', version: '1.0.0', date: '2026-01-01', copyright: 'C' };

test('airport codes: four letters or digits', () => {
  const cases = [['EDDF', true], ['07FA', true], ['5A8', false], ['KQA', false], ['EDDFX', false], [undefined, false], ['ED-F', false]];
  for (const [code, kept] of cases) {
    const { airports } = selectAirports([ap(code)]);
    assert.equal(airports.length, kept ? 1 : 0, String(code));
  }
});

test('records without a usable position are left out', () => {
  const cases = [
    [{ latitude: 0, longitude: 0 }, false],
    [{ latitude: 0, longitude: 10 }, true],
    [{ latitude: 91, longitude: 0 }, false],
    [{ latitude: 10, longitude: -180.5 }, false],
    [{ latitude: 'x', longitude: 1 }, false],
    [{ latitude: null, longitude: 1 }, false],
    [{ latitude: '47.5', longitude: '-122.25' }, true],
  ];
  for (const [pos, kept] of cases) {
    const { airports, dropped } = selectAirports([ap('KSEA', pos)]);
    assert.equal(airports.length, kept ? 1 : 0, JSON.stringify(pos));
    assert.equal(dropped.length, kept ? 0 : 1, JSON.stringify(pos));
  }
});

test('sorted by code, first record of a code kept, IATA codes checked', () => {
  const { airports, dropped } = selectAirports([
    ap('LFPG', { iata: 'CDG' }),
    ap('EDDF', { iata: 'FRA', altitude: 'unknown' }),
    ap('EDDF', { iata: 'XXX', name: 'Duplicate' }),
    ap('KJFK', { iata: 'DU9' }),
    ap('0AK1'),
  ]);
  assert.deepEqual(airports.map((a) => [a.icao, a.iata, a.name, a.elev]), [
    ['0AK1', '', '0AK1 Airport', 364],
    ['EDDF', 'FRA', 'EDDF Airport', 0],
    ['KJFK', '', 'KJFK Airport', 364],
    ['LFPG', 'CDG', 'LFPG Airport', 364],
  ]);
  assert.deepEqual(dropped, ['EDDF: second record of the code']);
});

test('the two files carry the same codes, escaped text and compact numbers', () => {
  const { airports } = selectAirports([
    ap('KLIT', { iata: 'LIT', name: 'Bill & Hillary Clinton "National" <Adams>', latitude: 34.729400634799994, longitude: -92.2242965698, altitude: 262.4 }),
  ]);
  const list = airportsXml(airports, meta);
  const names = airportNamesXml(airports, meta);
  assert.match(list, /<airport icao="KLIT" iata="LIT" lat="34.729401" lon="-92.224297" elev="262"\/>/);
  assert.match(names, /<airport icao="KLIT" name="Bill &amp; Hillary Clinton &quot;National&quot; &lt;Adams&gt;" city="Town" country="Land"\/>/);
  assert.match(list, /^<\?xml version="1.0" encoding="UTF-8"\?>\n<airports>\n<meta><info name="author" value="A"\/>/);
  assert.match(names, /<\/airportnames>\n$/);
});
