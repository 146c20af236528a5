'use strict';
// Small writer for the data files: one record element per line, attributes only, so the files
// stay compact and diff well.

// XML 1.0 cannot carry most control characters, not even escaped: they are dropped.
function escapeAttr(value) {
  return String(value ?? '')
    .replace(/[\u0000-\u0008\u000b\u000c\u000e-\u001f\ufffe\uffff]/g, '')
    .replace(/&/g, '&amp;')
    .replace(/</g, '&lt;')
    .replace(/>/g, '&gt;')
    .replace(/"/g, '&quot;')
    .replace(/\t/g, '&#9;')
    .replace(/\n/g, '&#10;')
    .replace(/\r/g, '&#13;');
}

// <name a="1" b="2"/>; attributes whose value is undefined are left out.
function element(name, attrs) {
  const parts = [name];
  for (const [k, v] of Object.entries(attrs)) {
    if (v === undefined) continue;
    parts.push(`${k}="${escapeAttr(v)}"`);
  }
  return `<${parts.join(' ')}/>`;
}

// The meta block that the program's own XML files carry, in the same order of entries; `source`
// (optional) names the data's origin and licence.
function metaBlock(meta) {
  const infos = [
    ['author', meta.author],
    ['version', meta.version],
    ['date', meta.date],
    ['copyright', meta.copyright],
    ['P3D', 'no'],
    ['MSFS', 'MSFS'],
  ];
  if (meta.source) infos.push(['source', meta.source]);
  return `<meta>${infos.map(([name, value]) => element('info', { name, value })).join('')}</meta>`;
}

function document(rootName, lines) {
  return ['<?xml version="1.0" encoding="UTF-8"?>', `<${rootName}>`, ...lines, `</${rootName}>`, ''].join('\n');
}

module.exports = { escapeAttr, element, metaBlock, document };
