#!/usr/bin/env node
// Usage: node inline-css-fonts.js IN.css OUT.css
//
// Writes the stylesheet with the web fonts it refers to embedded as data: URIs, so that the
// stylesheet works when inlined into a page that is opened with no other file beside it. Each
// @font-face keeps only its WOFF2 source (every browser that runs the report reads WOFF2); the
// legacy formats would multiply the size of the page for nothing. Any other url(...) that names a
// local file is embedded as it is. A referenced file that is missing is an error.
'use strict';

const fs = require('fs');
const path = require('path');

const MIME = {
  '.woff2': 'font/woff2',
  '.woff': 'font/woff',
  '.ttf': 'font/ttf',
  '.otf': 'font/otf',
  '.eot': 'application/vnd.ms-fontobject',
  '.svg': 'image/svg+xml',
  '.png': 'image/png',
  '.gif': 'image/gif',
};

function fail(message) {
  process.stderr.write(`inline-css-fonts: ${message}\n`);
  process.exit(1);
}

if (process.argv.length !== 4) fail('usage: inline-css-fonts.js IN.css OUT.css');
const [input, output] = process.argv.slice(2);
const css = fs.readFileSync(input, 'utf8');
const base = path.dirname(input);

// url(x), url('x') or url("x"); the reference without its query and fragment.
const URL_RE = /url\(\s*(['"]?)([^'")]+)\1\s*\)/g;

function dataUri(ref) {
  const file = path.resolve(base, ref.replace(/[?#].*$/, ''));
  const mime = MIME[path.extname(file).toLowerCase()];
  if (!mime) fail(`${input}: no media type known for ${ref}`);
  if (!fs.existsSync(file)) fail(`${input}: ${ref} refers to the missing file ${file}`);
  return `url(data:${mime};base64,${fs.readFileSync(file).toString('base64')})`;
}

function isLocal(ref) {
  return !/^(data:|[a-z][a-z0-9+.-]*:|\/\/|#)/i.test(ref);
}

// Each @font-face: all its src declarations become one WOFF2 data: source.
let out = css.replace(/@font-face\s*\{[^}]*\}/g, (block) => {
  const woff2 = [...block.matchAll(URL_RE)].map((m) => m[2]).find((u) => /\.woff2([?#]|$)/i.test(u));
  if (!woff2) return block;
  const body = block.replace(/\s*src\s*:[^;}]*;?/g, '');
  return body.replace(/\}$/, `;src:${dataUri(woff2)} format("woff2")}`).replace(/;;+/g, ';').replace(/\{;/, '{');
});

// What is left (images and the like) is embedded unchanged in format.
out = out.replace(URL_RE, (whole, _q, ref) => (isLocal(ref) ? dataUri(ref) : whole));

const left = [...out.matchAll(URL_RE)].map((m) => m[2]).filter(isLocal);
if (left.length) fail(`${input}: references left unresolved: ${left.join(', ')}`);

fs.mkdirSync(path.dirname(output), { recursive: true });
fs.writeFileSync(output + '.tmp', out);
fs.renameSync(output + '.tmp', output);
