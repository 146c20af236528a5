'use strict';
// The plain aircraft data base: aircraft types with span and size class, type families, airlines.
const { element, metaBlock, document } = require('./xml');

// The type sets of the data base; a type in none of them is light.
const SIZE_SETS = ['large', 'heavy', 'buzjet', 'rotorcraft', 'highperf'];
const SIZE_CLASSES = [...SIZE_SETS, 'light'];

const TYPE_DESIGNATOR = /^[A-Z][A-Z0-9]{1,3}$/;
const ICAO_AIRLINE = /^[A-Z]{3}$/;
const IATA_AIRLINE = /^[A-Z0-9]{2}$/;
// Wider than any aircraft that flies (about 88 m), so a slipped decimal point stands out.
const MAX_SPAN_M = 100;

class SourceError extends Error {}

function fail(file, line, text) {
  throw new SourceError(`${file}:${line}: ${text}`);
}

// Rows of aircraft_types.csv -> type records; every rule break is an error that names the line.
function checkTypes(rows, file = 'aircraft_types.csv') {
  const seen = new Map();
  return rows.map((r) => {
    const icao = r.icao;
    if (!TYPE_DESIGNATOR.test(icao)) fail(file, r.line, `"${icao}" is not a type designator`);
    if (seen.has(icao)) fail(file, r.line, `${icao} is listed again (first on line ${seen.get(icao)})`);
    seen.set(icao, r.line);
    if (r.name === '') fail(file, r.line, `${icao} has no name`);
    if (!/^\d{1,3}(\.\d{1,2})?$/.test(r.span_m)) fail(file, r.line, `${icao}: span "${r.span_m}" is not metres with at most two decimals`);
    const span = Number(r.span_m);
    if (!(span > 0 && span <= MAX_SPAN_M)) fail(file, r.line, `${icao}: span ${span} m is out of range`);
    if (!SIZE_CLASSES.includes(r.size)) fail(file, r.line, `${icao}: size "${r.size}" is not one of ${SIZE_CLASSES.join(', ')}`);
    return { icao, name: r.name, span_m: r.span_m, size: r.size, line: r.line };
  });
}

// Rows of type_families.csv -> families; each type belongs to at most one family, and all
// types of a family exist and share one size class (a stand-in from another class would not
// fit the stand or the traffic it is chosen for).
function checkFamilies(rows, types, file = 'type_families.csv') {
  const byIcao = new Map(types.map((t) => [t.icao, t]));
  const familyOf = new Map();
  const names = new Set();
  return rows.map((r) => {
    if (r.family === '') fail(file, r.line, 'family has no name');
    if (names.has(r.family)) fail(file, r.line, `family "${r.family}" is listed again`);
    names.add(r.family);
    const members = r.types.split(/\s+/).filter(Boolean);
    if (members.length < 2) fail(file, r.line, `family "${r.family}" needs at least two types`);
    let size;
    for (const m of members) {
      const t = byIcao.get(m);
      if (t === undefined) fail(file, r.line, `${m} is not in the aircraft types`);
      if (familyOf.has(m)) fail(file, r.line, `${m} is already in family "${familyOf.get(m)}"`);
      familyOf.set(m, r.family);
      if (size === undefined) size = t.size;
      else if (t.size !== size) fail(file, r.line, `${m} is ${t.size}, the family is ${size}`);
    }
    return { name: r.family, types: members };
  });
}

function checkAirlines(rows, file = 'airlines.csv') {
  const seen = new Set();
  return rows.map((r) => {
    if (!ICAO_AIRLINE.test(r.icao)) fail(file, r.line, `"${r.icao}" is not a 3-letter airline code`);
    if (seen.has(r.icao)) fail(file, r.line, `${r.icao} is listed again`);
    seen.add(r.icao);
    if (r.iata !== '' && !IATA_AIRLINE.test(r.iata)) fail(file, r.line, `${r.icao}: "${r.iata}" is not a 2-character IATA code`);
    if (r.name === '') fail(file, r.line, `${r.icao} has no name`);
    if (r.active !== '1' && r.active !== '0') fail(file, r.line, `${r.icao}: active must be 1 or 0`);
    return { icao: r.icao, iata: r.iata, name: r.name, callsign: r.callsign, country: r.country, active: r.active };
  });
}

function dbaseXml({ types, families, airlines, meta }) {
  const lines = [metaBlock(meta), ' <aircraft>'];
  for (const t of types) {
    lines.push(element('type', {
      icao: t.icao,
      name: t.name,
      span_m: t.span_m,
      sets: t.size === 'light' ? undefined : t.size,
    }));
  }
  lines.push(' </aircraft>', ' <related>');
  for (const f of families) lines.push(element('family', { name: f.name, types: f.types.join(' ') }));
  lines.push(' </related>', ' <airlines>');
  for (const a of airlines) {
    lines.push(element('airline', {
      icao: a.icao, iata: a.iata, name: a.name, callsign: a.callsign, country: a.country, active: a.active,
    }));
  }
  lines.push(' </airlines>');
  return document('dbase', lines);
}

const REGISTRATION = /^[A-Z0-9][A-Z0-9-]{0,11}$/;

function checkRegistrations(rows, file = 'regcodes.csv') {
  const seen = new Set();
  return rows.map((r) => {
    if (!REGISTRATION.test(r.reg)) fail(file, r.line, `"${r.reg}" is not a registration (A-Z, 0-9, '-', at most 12)`);
    if (seen.has(r.reg)) fail(file, r.line, `${r.reg} is listed again`);
    seen.add(r.reg);
    if (r.airline !== '' && !ICAO_AIRLINE.test(r.airline)) fail(file, r.line, `${r.reg}: airline "${r.airline}" is not a 3-letter code`);
    if (r.operator !== '' && !ICAO_AIRLINE.test(r.operator)) fail(file, r.line, `${r.reg}: operator "${r.operator}" is not a 3-letter code`);
    if (!TYPE_DESIGNATOR.test(r.type)) fail(file, r.line, `${r.reg}: "${r.type}" is not a type designator`);
    if (r.cargo !== '1' && r.cargo !== '0') fail(file, r.line, `${r.reg}: cargo must be 1 or 0`);
    return { reg: r.reg, airline: r.airline, type: r.type, operator: r.operator, cargo: r.cargo };
  });
}

function checkSpecialLiveries(rows, file = 'special_liveries.csv') {
  const seen = new Set();
  return rows.map((r) => {
    if (!REGISTRATION.test(r.reg)) fail(file, r.line, `"${r.reg}" is not a registration`);
    if (seen.has(r.reg)) fail(file, r.line, `${r.reg} is listed again`);
    seen.add(r.reg);
    if (r.title === '') fail(file, r.line, `${r.reg} has no livery title`);
    if (r.title.length > 255) fail(file, r.line, `${r.reg}: the title is longer than 255 characters`);
    return { reg: r.reg, title: r.title };
  });
}

function regcodesXml({ registrations, specials, meta }) {
  const lines = [metaBlock(meta), ' <registrations>'];
  for (const r of registrations) {
    lines.push(element('reg', { reg: r.reg, airline: r.airline, type: r.type, operator: r.operator, cargo: r.cargo }));
  }
  lines.push(' </registrations>', ' <specialliveries>');
  for (const s of specials) lines.push(element('livery', { reg: s.reg, title: s.title }));
  lines.push(' </specialliveries>');
  return document('regcodes', lines);
}

module.exports = {
  SIZE_SETS, SourceError, checkTypes, checkFamilies, checkAirlines, dbaseXml,
  checkRegistrations, checkSpecialLiveries, regcodesXml,
};
