#!/usr/bin/env node
'use strict';
// Builds dbase.xml (the plain aircraft data base) from aircraft_types.csv, type_families.csv and
// airlines.csv of the given source folder, and writes it into the same folder.
// Usage: node make-dbase.js <source folder> [<output file>]
const path = require('path');
const { writeFileAtomic } = require('./lib/files');
const { readCsvFile, sourceNotes, datasetMeta } = require('./lib/sources');
const { checkTypes, checkFamilies, checkAirlines, dbaseXml } = require('./lib/dbase');

function build(srcDir) {
  const types = checkTypes(readCsvFile(path.join(srcDir, 'aircraft_types.csv'), ['icao', 'name', 'span_m', 'size']));
  const families = checkFamilies(readCsvFile(path.join(srcDir, 'type_families.csv'), ['family', 'types']), types);
  const airlinesFile = path.join(srcDir, 'airlines.csv');
  const airlines = checkAirlines(readCsvFile(airlinesFile, ['icao', 'iata', 'name', 'callsign', 'country', 'active']));
  const notes = sourceNotes(airlinesFile);
  const meta = { ...datasetMeta('dbase'), source: `aircraft types: Ambrelvane; airlines: ${notes.join('; ')}` };
  return { xml: dbaseXml({ types, families, airlines, meta }), types, families, airlines };
}

function main(argv) {
  if (argv.length < 1 || argv.length > 2) {
    console.error('usage: node make-dbase.js <source folder> [<output file>]');
    return 2;
  }
  const srcDir = argv[0];
  const outFile = argv[1] || path.join(srcDir, 'dbase.xml');
  const { xml, types, families, airlines } = build(srcDir);
  writeFileAtomic(outFile, xml);
  console.log(`${outFile}: ${types.length} aircraft types, ${families.length} families, ${airlines.length} airlines`);
  return 0;
}

if (require.main === module) {
  try {
    process.exitCode = main(process.argv.slice(2));
  } catch (err) {
    console.error(`make-dbase: ${err.message}`);
    process.exitCode = 1;
  }
}

module.exports = { build };
