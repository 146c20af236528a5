'use strict';
// Output files are written beside the target under a temporary name and renamed over it, so an
// interrupted run never leaves a half-written data file behind.
const fs = require('fs');
const path = require('path');

function writeFileAtomic(target, text) {
  const dir = path.dirname(target);
  fs.mkdirSync(dir, { recursive: true });
  const tmp = path.join(dir, `.${path.basename(target)}.${process.pid}.tmp`);
  try {
    fs.writeFileSync(tmp, text, 'utf8');
    fs.renameSync(tmp, target);
  } catch (err) {
    fs.rmSync(tmp, { force: true });
    throw err;
  }
}

// Reads a JSON file of a data package; names the file in the error, since a wrong package path
// is the usual mistake.
function readJson(file) {
  let text;
  try {
    text = fs.readFileSync(file, 'utf8');
  } catch (err) {
    throw new Error(`cannot read ${file}: ${err.message}`);
  }
  try {
    return JSON.parse(text);
  } catch (err) {
    throw new Error(`${file} is not valid JSON: ${err.message}`);
  }
}

// name@version of the package in dir, for the record of where the data came from.
function packageId(dir) {
  const pkg = readJson(path.join(dir, 'package.json'));
  return { name: pkg.name, version: pkg.version, license: pkg.license || '' };
}

module.exports = { writeFileAtomic, readJson, packageId };
