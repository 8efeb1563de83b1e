// Opens a report in headless Chromium and checks what the page made of it.
//
// Usage: node report_in_browser.mjs REPORT.html EXPECTED.json HOSTILE.json [REQUIRED.json]
//   EXPECTED.json  the data tree the report must define as `info` (key order included)
//   HOSTILE.json   a list of texts that must appear on the page as literal text
//   REQUIRED.json  {"sections": [section ids that must show data], "chart": true when the CPU
//                  chart must be drawn}
// Prints one JSON object {problems: [...], ...} and exits 0 when there is no problem, 1 when
// there is one, and 77 when Chromium cannot be started here.
import { readFileSync, mkdtempSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { pathToFileURL } from 'node:url';
import { chromium } from 'playwright-core';

const [reportPath, expectedPath, hostilePath, requiredPath] = process.argv.slice(2);
const expected = JSON.parse(readFileSync(expectedPath, 'utf8'));
const hostile = JSON.parse(readFileSync(hostilePath, 'utf8'));
const required = requiredPath ? JSON.parse(readFileSync(requiredPath, 'utf8')) : {};
const reportUrl = pathToFileURL(reportPath).href;
const executablePath = process.env.ORVANE_CHROMIUM || '/usr/bin/chromium';

// Deep equality that also requires the same key order in every object.
function sameTree(a, b, path, out) {
  if (Array.isArray(a) !== Array.isArray(b) || typeof a !== typeof b || (a === null) !== (b === null)) {
    out.push(`${path}: ${JSON.stringify(a)} differs from ${JSON.stringify(b)}`);
  } else if (Array.isArray(a)) {
    if (a.length !== b.length) out.push(`${path}: ${a.length} items instead of ${b.length}`);
    else a.forEach((v, i) => sameTree(v, b[i], `${path}[${i}]`, out));
  } else if (a !== null && typeof a === 'object') {
    const ka = Object.keys(a), kb = Object.keys(b);
    if (ka.join('\u0000') !== kb.join('\u0000')) out.push(`${path}: keys ${ka} instead of ${kb}`);
    else ka.forEach((k) => sameTree(a[k], b[k], `${path}.${k}`, out));
  } else if (a !== b) {
    out.push(`${path}: ${JSON.stringify(a)} instead of ${JSON.stringify(b)}`);
  }
  return out;
}

const profile = mkdtempSync(join(tmpdir(), 'orvane-chromium-'));
let context;
try {
  context = await chromium.launchPersistentContext(profile, {
    executablePath,
    headless: true,
    timeout: 60000,
    args: ['--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking',
           '--disable-component-update', '--disable-sync'],
  });
} catch (e) {
  rmSync(profile, { recursive: true, force: true });
  console.log(JSON.stringify({ skipped: `Chromium (${executablePath}) cannot start: ${e.message.split('\n')[0]}` }));
  process.exit(77);
}

const problems = [];
const consoleErrors = [];
const requests = [];
try {
  const page = context.pages()[0] || (await context.newPage());
  page.on('console', (m) => { if (m.type() === 'error') consoleErrors.push(m.text()); });
  page.on('pageerror', (e) => consoleErrors.push(`uncaught: ${e.message}`));
  page.on('dialog', (d) => { problems.push(`a dialog opened: ${d.message()}`); d.dismiss(); });
  context.on('request', (r) => requests.push(r.url()));
  await page.goto(reportUrl, { waitUntil: 'load', timeout: 60000 });
  await page.evaluate(() => document.fonts.ready);

  const result = await page.evaluate(([texts, sectionIds]) => {
    const groups = document.querySelectorAll('.group-panel');
    // What each section shows: data (command groups, tables, a chart) or only a note.
    const sections = {};
    sectionIds.forEach((id) => {
      const s = document.getElementById(id);
      sections[id] = !s ? 'missing'
          : s.querySelector('.error-note') ? 'error'
          : s.querySelector('.group-panel, table, svg') ? 'data' : 'empty';
    });
    const chart = document.querySelector('#sec-cpu .cpu-chart svg');
    const areas = chart ? [...chart.querySelectorAll('path, rect')] : [];
    return {
      info: typeof info === 'undefined' ? undefined : info,
      initRan: document.getElementById('head-host').textContent,
      title: document.title,
      scripts: document.scripts.length,
      images: document.images.length,
      groupPanels: groups.length,
      netRows: document.querySelectorAll('#net-sum tbody tr').length,
      diskRows: document.querySelectorAll('#disk-sum tbody tr').length,
      emptyNotes: document.querySelectorAll('.empty-note').length,
      iconFont: document.fonts.check('900 16px "Font Awesome 5 Free"'),
      iconWidth: document.querySelector('.fas').getBoundingClientRect().width,
      iconFamily: getComputedStyle(document.querySelector('.fas'), '::before').fontFamily,
      literal: texts.map((t) => document.body.textContent.includes(t)),
      sections,
      chartAreas: areas.filter((a) => a.getBBox().width > 0 && a.getBBox().height > 0).length,
      chartLabels: chart ? [...chart.querySelectorAll('text')].map((t) => t.textContent) : [],
    };
  }, [hostile, required.sections || []]);

  sameTree(result.info, expected, 'info', problems);
  if (!result.initRan) problems.push('init() did not fill the header');
  if (result.scripts !== 4) problems.push(`${result.scripts} script elements instead of 4`);
  if (result.images !== 0) problems.push(`${result.images} image elements appeared`);
  if (!result.iconFont) problems.push('the Font Awesome font did not load');
  if (!(result.iconWidth > 0)) problems.push('icons take no space');
  result.literal.forEach((ok, i) => { if (!ok) problems.push(`not on the page as text: ${hostile[i]}`); });
  Object.entries(result.sections).forEach(([id, state]) => {
    if (state !== 'data') problems.push(`section ${id} shows no data (${state})`);
  });
  if (required.chart && !(result.chartAreas > 0)) problems.push('the CPU chart was not drawn');

  // The command groups open and close (jQuery and the Bootstrap plugins work).
  if (result.groupPanels > 0) {
    await page.click('.group-panel .panel-heading');
    await page.waitForSelector('.group-panel .panel-collapse.in', { timeout: 5000 });
  } else {
    problems.push('no command group was rendered');
  }

  const foreign = requests.filter((u) => u !== reportUrl && !u.startsWith('data:'));
  if (foreign.length) problems.push(`requests made: ${foreign.join(', ')}`);
  if (consoleErrors.length) problems.push(`console: ${consoleErrors.join(' | ')}`);
  delete result.info;
  console.log(JSON.stringify({ problems, requests, consoleErrors, page: result }));
} catch (e) {
  problems.push(`browser check failed: ${e.message}`);
  console.log(JSON.stringify({ problems, requests, consoleErrors }));
} finally {
  await context.close();
  rmSync(profile, { recursive: true, force: true });
}
process.exit(problems.length ? 1 : 0);
