#!/usr/bin/env node
'use strict';
// Builds regcodes.xml (registration -> airline, type, operator, cargo; special liveries) from
// regcodes.csv and special_liveries.csv of the given source folder, into the same folder.
// Usage: node make-regcodes.js <source folder> [<output file>]
const path = require('path');
const { writeFileAtomic } = require('./lib/files');
const { readCsvFile, datasetMeta } = require('./lib/sources');
const { checkRegistrations, checkSpecialLiveries, regcodesXml } = require('./lib/dbase');

function build(srcDir) {
  const registrations = checkRegistrations(
    readCsvFile(path.join(srcDir, 'regcodes.csv'), ['reg', 'airline', 'type', 'operator', 'cargo']));
  const specials = checkSpecialLiveries(readCsvFile(path.join(srcDir, 'special_liveries.csv'), ['reg', 'title']));
  return { xml: regcodesXml({ registrations, specials, meta: datasetMeta('regcodes') }), registrations, specials };
}

function main(argv) {
  if (argv.length < 1 || argv.length > 2) {
    console.error('usage: node make-regcodes.js <source folder> [<output file>]');
    return 2;
  }
  const srcDir = argv[0];
  const outFile = argv[1] || path.join(srcDir, 'regcodes.xml');
  const { xml, registrations, specials } = build(srcDir);
  writeFileAtomic(outFile, xml);
  console.log(`${outFile}: ${registrations.length} registrations, ${specials.length} special liveries`);
  return 0;
}

if (require.main === module) {
  try {
    process.exitCode = main(process.argv.slice(2));
  } catch (err) {
    console.error(`make-regcodes: ${err.message}`);
    process.exitCode = 1;
  }
}

module.exports = { build };
