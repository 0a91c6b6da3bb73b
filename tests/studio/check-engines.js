// Fails when a package in a package-lock.json does not run on the given Node major
// version, by the engines field each package declares ("node": ">=20", "^18 || >=20").
//   node check-engines.js 18 package-lock.json
'use strict';
const fs = require('fs');

const [major, lockPath] = process.argv.slice(2);
if (!/^\d+$/.test(major || '') || !lockPath) {
  console.error('usage: node check-engines.js NODE_MAJOR package-lock.json');
  process.exit(2);
}
const version = [Number(major), 99, 99];

function compare(a, b) {
  for (let i = 0; i < 3; i++) if (a[i] !== b[i]) return a[i] - b[i];
  return 0;
}
function parse(text) {
  const parts = text.replace(/^v/, '').split('.').map(Number);
  return [parts[0] || 0, parts[1] || 0, parts[2] || 0];
}
// One comparator ("20", ">=18.0.0", "^18.17", "<21", "18.x").
function satisfiesOne(comparator) {
  const m = /^(>=|<=|>|<|\^|~|=)?\s*v?(\d+)(?:\.(\d+|x|\*))?(?:\.(\d+|x|\*))?$/.exec(comparator);
  if (!m) return null;
  const op = m[1] || '=';
  const wanted = parse(`${m[2]}.${/\d/.test(m[3] || '') ? m[3] : 0}.${/\d/.test(m[4] || '') ? m[4] : 0}`);
  const c = compare(version, wanted);
  switch (op) {
    case '>=': return c >= 0;
    case '>': return c > 0;
    case '<=': return c <= 0;
    case '<': return compare([version[0], 0, 0], wanted) < 0;
    default: return version[0] === wanted[0] && c >= 0;  // =, ^, ~ and x ranges of a major
  }
}
// A range: alternatives joined by ||, each a space-separated list of comparators.
function satisfies(range) {
  if (range.trim() === '' || range.trim() === '*') return true;
  let unknown = false;
  for (const alternative of range.split('||')) {
    const results = alternative.trim().split(/\s+/).map(satisfiesOne);
    if (results.includes(null)) { unknown = true; continue; }
    if (results.every(Boolean)) return true;
  }
  return unknown ? null : false;
}

const lock = JSON.parse(fs.readFileSync(lockPath, 'utf8'));
let failed = false;
for (const [where, pkg] of Object.entries(lock.packages || {})) {
  const range = pkg.engines && pkg.engines.node;
  if (!where || !range) continue;
  const ok = satisfies(range);
  if (ok === true) continue;
  failed = true;
  const name = where.replace(/^.*node_modules\//, '');
  console.error(ok === null
    ? `${lockPath}: ${name} ${pkg.version} asks for Node "${range}", which this check cannot read`
    : `${lockPath}: ${name} ${pkg.version} needs Node ${range}; Node ${major} (Debian 12's) must run ` +
      'the browser test: lock a version that accepts it (npm view PACKAGE engines)');
}
process.exit(failed ? 1 : 0);
