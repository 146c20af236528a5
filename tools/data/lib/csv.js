'use strict';
// Comma-separated text as used by the plain sources: fields in double quotes may hold commas,
// line breaks and doubled quotes; a leading UTF-8 byte order mark and CR LF line ends are
// accepted. Lines that are empty or start with '#' outside a quoted field are comments.

function parseCsv(text) {
  if (text.charCodeAt(0) === 0xfeff) text = text.slice(1);
  const rows = [];
  let row = [];
  let field = '';
  let quoted = false;     // inside a quoted field
  let wasQuoted = false;  // the current field was quoted (a quoted empty field still counts)
  let lineStart = true;
  let line = 1;
  let fieldLine = 1;

  const endField = () => {
    row.push(field);
    field = '';
    wasQuoted = false;
  };
  const endRow = () => {
    endField();
    const blank = row.length === 1 && row[0] === '';
    if (!blank) rows.push({ line: fieldLine, cells: row });
    row = [];
  };

  for (let i = 0; i < text.length; i++) {
    const c = text[i];
    if (quoted) {
      if (c === '"') {
        if (text[i + 1] === '"') {
          field += '"';
          i++;
        } else {
          quoted = false;
        }
      } else {
        if (c === '\n') line++;
        field += c;
      }
      continue;
    }
    if (lineStart) {
      fieldLine = line;
      lineStart = false;
      if (c === '#') {
        while (i < text.length && text[i] !== '\n') i++;
        line++;
        lineStart = true;
        continue;
      }
    }
    if (c === '"') {
      if (field.trim() !== '' || wasQuoted) throw new Error(`line ${line}: quote inside an unquoted field`);
      field = '';  // blanks before the opening quote do not belong to the value
      quoted = true;
      wasQuoted = true;
    } else if (c === ',') {
      endField();
    } else if (c === '\r' && text[i + 1] === '\n') {
      // the '\n' ends the row
    } else if (c === '\n') {
      endRow();
      line++;
      lineStart = true;
    } else if (wasQuoted) {
      if (c !== ' ' && c !== '\t') throw new Error(`line ${line}: text after a closing quote`);
    } else {
      field += c;
    }
  }
  if (quoted) throw new Error(`line ${fieldLine}: quoted field is not closed`);
  if (!lineStart || field !== '' || row.length > 0) endRow();
  return rows;
}

// Rows as objects keyed by the header row; every row must have as many fields as the header.
function parseCsvObjects(text, requiredColumns = []) {
  const rows = parseCsv(text);
  if (rows.length === 0) throw new Error('no header row');
  const header = rows[0].cells.map((h) => h.trim());
  for (const col of requiredColumns) {
    if (!header.includes(col)) throw new Error(`column "${col}" is missing`);
  }
  return rows.slice(1).map(({ line, cells }) => {
    if (cells.length !== header.length) {
      throw new Error(`line ${line}: ${cells.length} fields, the header has ${header.length}`);
    }
    const record = { line };
    header.forEach((h, i) => {
      record[h] = cells[i].trim();
    });
    return record;
  });
}

function formatField(value) {
  const s = String(value ?? '');
  return /[",\r\n]/.test(s) || /^#/.test(s) ? `"${s.replace(/"/g, '""')}"` : s;
}

function formatCsv(header, records) {
  const lines = [header.join(',')];
  for (const r of records) lines.push(header.map((h) => formatField(r[h])).join(','));
  return lines.join('\n') + '\n';
}

module.exports = { parseCsv, parseCsvObjects, formatCsv };
