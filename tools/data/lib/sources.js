'use strict';
// Reading the plain sources: CSV files whose '#' lines may carry "source:" notes.
const fs = require('fs');
const path = require('path');
const { parseCsvObjects } = require('./csv');
const { readJson } = require('./files');

function readCsvFile(file, columns) {
  let text;
  try {
    text = fs.readFileSync(file, 'utf8');
  } catch (err) {
    throw new Error(`cannot read ${file}: ${err.message}`);
  }
  try {
    return parseCsvObjects(text, columns);
  } catch (err) {
    throw new Error(`${path.basename(file)}: ${err.message}`);
  }
}

// The "# source: ..." comment lines of a CSV file, in order.
function sourceNotes(file) {
  return fs.readFileSync(file, 'utf8').split(/\r?\n/)
    .filter((l) => l.startsWith('# source: '))
    .map((l) => l.slice('# source: '.length).trim());
}

// Author, version, date and copyright of one output, from dataset.json beside the tools.
function datasetMeta(key) {
  const all = readJson(path.join(__dirname, '..', 'dataset.json'));
  const m = all[key];
  if (!m) throw new Error(`dataset.json has no entry "${key}"`);
  return { author: all.author, version: m.version, date: m.date, copyright: m.copyright };
}

module.exports = { readCsvFile, sourceNotes, datasetMeta };
