'use strict';
// Clean-up of text fields of the open data sets.

// "\N" is the data sets' mark for "no value"; escape sequences of old terminal encodings
// (ESC % G / ESC % @) and other control characters are remnants, not text; a backslash before
// a quote is an escape of the source's export; runs of blanks collapse to one.
function cleanText(value) {
  if (value === undefined || value === null) return '';
  let s = String(value);
  if (s.trim() === '\\N') return '';
  s = s.replace(/\u001b%[@G]/g, '');
  s = s.replace(/[\u0000-\u001f\u007f]/g, ' ');
  s = s.replace(/\\+(['"])/g, '$1');
  return s.replace(/\s+/g, ' ').trim();
}

module.exports = { cleanText };
