'use strict';
const fs = require('fs');
const os = require('os');
const path = require('path');

// A fresh folder per test file, under AMBV_TEST_TMP when set, so parallel runs never collide.
function tempDir(t) {
  const base = process.env.AMBV_TEST_TMP || os.tmpdir();
  fs.mkdirSync(base, { recursive: true });
  const dir = fs.mkdtempSync(path.join(base, 'ambv-data-'));
  t.after(() => fs.rmSync(dir, { recursive: true, force: true }));
  return dir;
}

module.exports = { tempDir };
