'use strict';
// Selection of the airlines for the data base from the OpenFlights airline list.
const { cleanText } = require('./text');

const ICAO_AIRLINE = /^[A-Z]{3}$/;
const IATA_AIRLINE = /^[A-Z0-9]{2}$/;

function filledFields(a) {
  return ['iata', 'callsign', 'country'].filter((k) => a[k] !== '').length;
}

// One record per 3-letter ICAO code. The list marks many airlines that fly today as inactive
// (among them the large parcel carriers), so inactive ones are kept too, with their flag; of
// several records under one code the active one wins, then the more complete one, then the
// newer one (the higher id).
function selectAirlines(records) {
  const byCode = new Map();
  let dropped = 0;
  for (const r of records) {
    const icao = cleanText(r.icao).toUpperCase();
    const name = cleanText(r.name);
    if (!ICAO_AIRLINE.test(icao) || name === '') {
      dropped++;
      continue;
    }
    const iata = cleanText(r.iata).toUpperCase();
    const a = {
      icao,
      iata: IATA_AIRLINE.test(iata) ? iata : '',
      name,
      callsign: cleanText(r.callsign).toUpperCase(),
      country: cleanText(r.country),
      active: cleanText(r.active).toUpperCase() === 'Y',
      id: Number.parseInt(r.id, 10) || 0,
    };
    const held = byCode.get(icao);
    if (held === undefined || better(a, held)) byCode.set(icao, a);
    if (held !== undefined) dropped++;
  }
  const airlines = [...byCode.values()].sort((x, y) => (x.icao < y.icao ? -1 : x.icao > y.icao ? 1 : 0));
  return { airlines, dropped };
}

function better(a, b) {
  if (a.active !== b.active) return a.active;
  const fa = filledFields(a);
  const fb = filledFields(b);
  if (fa !== fb) return fa > fb;
  return a.id > b.id;
}

module.exports = { selectAirlines };
