'use strict';
// Selection of the airports for the program's airport list from the OpenFlights airport list.
const { cleanText } = require('./text');
const { element, metaBlock, document } = require('./xml');

const ICAO_AIRPORT = /^[A-Z0-9]{4}$/;
const IATA_AIRPORT = /^[A-Z]{3}$/;

function toNumber(v) {
  if (v === null || v === undefined || v === '') return NaN;
  return Number(v);
}

// Every airport with a 4-character ICAO code and a sound position. A position of exactly 0/0
// is the source's placeholder for "unknown", not a place. Of two records with one code the
// first is kept and the second reported.
function selectAirports(records) {
  const byCode = new Map();
  const dropped = [];
  for (const r of records) {
    const icao = cleanText(r.icao).toUpperCase();
    if (!ICAO_AIRPORT.test(icao)) {
      dropped.push(`${icao || '(no code)'} ${cleanText(r.name)}: no 4-character ICAO code`);
      continue;
    }
    const lat = toNumber(r.latitude);
    const lon = toNumber(r.longitude);
    let elev = toNumber(r.altitude);
    if (!Number.isFinite(lat) || !Number.isFinite(lon) || Math.abs(lat) > 90 || Math.abs(lon) > 180 ||
        (lat === 0 && lon === 0)) {
      dropped.push(`${icao}: no valid position`);
      continue;
    }
    if (!Number.isFinite(elev)) elev = 0;
    if (byCode.has(icao)) {
      dropped.push(`${icao}: second record of the code`);
      continue;
    }
    const iata = cleanText(r.iata).toUpperCase();
    byCode.set(icao, {
      icao,
      iata: IATA_AIRPORT.test(iata) ? iata : '',
      lat,
      lon,
      elev: Math.round(elev),
      name: cleanText(r.name),
      city: cleanText(r.city),
      country: cleanText(r.country),
    });
  }
  const airports = [...byCode.values()].sort((a, b) => (a.icao < b.icao ? -1 : a.icao > b.icao ? 1 : 0));
  return { airports, dropped };
}

// Six decimals are about 0.1 m, finer than any source value; trailing zeros are left out.
function coord(v) {
  return String(Number(v.toFixed(6)));
}

function airportsXml(airports, meta) {
  const lines = [metaBlock(meta)];
  for (const a of airports) {
    lines.push(element('airport', { icao: a.icao, iata: a.iata, lat: coord(a.lat), lon: coord(a.lon), elev: String(a.elev) }));
  }
  return document('airports', lines);
}

function airportNamesXml(airports, meta) {
  const lines = [metaBlock(meta)];
  for (const a of airports) {
    lines.push(element('airport', { icao: a.icao, name: a.name, city: a.city, country: a.country }));
  }
  return document('airportnames', lines);
}

module.exports = { selectAirports, airportsXml, airportNamesXml };
