// The web console in a real browser: the system's headless Chromium, driven
// through playwright-core, against a running ormelin-server.
//
//   node console.test.mjs <console port> <sync port> <new sync port> <new root folder> <artifacts>
//
// The server must hold at least 45 events whose text begins with "Hello".
// Saves a screenshot of every page into the artifacts folder. Exits 0 when
// every check passed, 1 with the failures listed otherwise.
import { chromium } from 'playwright-core';
import { mkdtempSync, mkdirSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import net from 'node:net';

const [consolePort, syncPort, newSyncPort, newRoot, artifacts] = process.argv.slice(2);
if (!artifacts) {
  console.error('usage: console.test.mjs <console port> <sync port> <new sync port> <new root> <artifacts>');
  process.exit(2);
}
const base = `http://127.0.0.1:${consolePort}`;
const failures = [];

function check(condition, what) {
  if (condition) {
    console.log(`ok    ${what}`);
  } else {
    console.log(`FAIL  ${what}`);
    failures.push(what);
  }
}

function canConnect(port) {
  return new Promise((resolve) => {
    const socket = net.connect({ host: '127.0.0.1', port: Number(port) });
    socket.setTimeout(5000);
    socket.once('connect', () => { socket.destroy(); resolve(true); });
    socket.once('error', () => resolve(false));
    socket.once('timeout', () => { socket.destroy(); resolve(false); });
  });
}

async function shot(page, name) {
  await page.screenshot({ path: join(artifacts, `${name}.png`), fullPage: true });
}

// Each image of the page: whether it decoded, its own pixel size and the
// size it is drawn at.
async function images(page) {
  return page.$$eval('img', (list) => list.map((img) => {
    const box = img.getBoundingClientRect();
    return {
      src: img.getAttribute('src'), complete: img.complete,
      naturalWidth: img.naturalWidth, naturalHeight: img.naturalHeight,
      width: Math.round(box.width), height: Math.round(box.height),
    };
  }));
}

async function checkImages(page, where) {
  const expected = {
    'ormelinproject.jpg': [300, 80],
    'ormelinproject_footer.jpg': [293, 30],
  };
  const found = await images(page);
  for (const [src, [w, h]] of Object.entries(expected)) {
    const img = found.find((i) => i.src === src);
    check(img && img.complete && img.naturalWidth === w && img.naturalHeight === h &&
          img.width === w && img.height === h,
          `${where}: ${src} renders at ${w}x${h} (${JSON.stringify(img)})`);
  }
}

async function cellText(page, label) {
  return page.$eval(`xpath=//tr[td/p[normalize-space()="${label}"]]/td[2]`, (td) => td.textContent.trim());
}

async function eventIds(page) {
  return page.$$eval('xpath=//tr[count(td)=3]/td[1]', (tds) => tds.map((td) => Number(td.textContent.trim())));
}

async function eventTexts(page) {
  return page.$$eval('xpath=//tr[count(td)=3]/td[3]', (tds) => tds.map((td) => td.textContent.trim()));
}

mkdirSync(artifacts, { recursive: true });
const profile = mkdtempSync(join(tmpdir(), 'ormelin-chromium-'));
let context;
try {
  context = await chromium.launchPersistentContext(profile, {
    executablePath: '/usr/bin/chromium',
    headless: true,
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
           '--disable-background-networking', '--disable-component-update', '--disable-sync'],
    viewport: { width: 800, height: 600 },
  });
  const page = context.pages()[0] ?? await context.newPage();
  page.setDefaultTimeout(20000);
  const scriptErrors = [];
  page.on('pageerror', (error) => scriptErrors.push(String(error)));

  // Status page.
  await page.goto(`${base}/`);
  check(await page.title() === 'Ormelin Server', 'status page title');
  await checkImages(page, 'status page');
  check(await cellText(page, 'Port') === String(syncPort), 'status page shows the port');
  check(await cellText(page, 'Stanje') === 'Spreman', 'status page shows Spreman');
  check(await page.inputValue('input[name=akcija]') === 'Zaustavi', 'button reads Zaustavi');
  const style = await page.$eval('p.white', (p) => getComputedStyle(p).fontWeight);
  check(Number(style) >= 700, `style sheet applies (class white is bold: ${style})`);
  await shot(page, '01-status');

  // Stop.
  await Promise.all([page.waitForNavigation(), page.click('input[name=akcija]')]);
  check(new URL(page.url()).pathname === '/index.html', 'stop redirects to /index.html');
  check(await cellText(page, 'Stanje') === 'Zaustavljen', 'after Zaustavi: Zaustavljen');
  check(await page.inputValue('input[name=akcija]') === 'Pokreni', 'button reads Pokreni');
  check(!(await canConnect(syncPort)), 'sync port refuses connections while stopped');
  await shot(page, '02-stopped');

  // Start.
  await Promise.all([page.waitForNavigation(), page.click('input[name=akcija]')]);
  check(await cellText(page, 'Stanje') === 'Spreman', 'after Pokreni: Spreman');
  check(await canConnect(syncPort), 'sync port accepts again');

  // Settings.
  await Promise.all([page.waitForNavigation(), page.click('text=Postavke')]);
  await checkImages(page, 'settings page');
  check(await page.inputValue('input[name=port]') === String(syncPort), 'settings show the port');
  await page.fill('input[name=port]', String(newSyncPort));
  await page.fill('input[name=rootpath]', newRoot);
  await shot(page, '03-settings-filled');
  await Promise.all([page.waitForNavigation(), page.click('input[name=akcija]')]);
  check(new URL(page.url()).pathname === '/postavke.html', 'settings redirect to /postavke.html');
  check(await page.inputValue('input[name=port]') === String(newSyncPort), 'settings show the new port');
  check(await page.inputValue('input[name=rootpath]') === newRoot, 'settings show the new root folder');
  await shot(page, '04-settings-saved');
  await Promise.all([page.waitForNavigation(), page.click('text=Natrag')]);
  check(await cellText(page, 'Port') === String(newSyncPort), 'status page shows the new port');
  check(await cellText(page, 'Korjenska mapa') === newRoot, 'status page shows the new root folder');
  check(await canConnect(syncPort), 'the listener keeps its port until the next start');

  // Event log, paging.
  await Promise.all([page.waitForNavigation(), page.click('text=Sve poruke')]);
  await checkImages(page, 'event-log page');
  let ids = await eventIds(page);
  check(ids.length === 20 && ids[0] === 1 && ids[19] === 20, `event log page 1 lists 1-20 (${ids})`);
  await shot(page, '05-eventlog-page1');
  await Promise.all([page.waitForNavigation(), page.click('a:text-is(">")')]);
  ids = await eventIds(page);
  check(ids[0] === 21 && ids.length === 20, `next page lists from 21 (${ids})`);
  await shot(page, '06-eventlog-page2');
  await Promise.all([page.waitForNavigation(), page.click('a:text-is("<")')]);
  ids = await eventIds(page);
  check(ids[0] === 1, `previous page lists from 1 (${ids[0]})`);

  // Event log, filter.
  await page.fill('input[name=filter]', '^hello');
  await Promise.all([page.waitForNavigation(), page.click('form input[type=submit]')]);
  let texts = await eventTexts(page);
  check(texts.length === 20 && texts.every((t) => t.startsWith('Hello od ')),
        `filter ^hello lists Hello events only (${texts.length})`);
  check(new URL(page.url()).searchParams.get('filter') === '^hello', 'filter in the address');
  const linkCount = await page.$$eval('td a[href^="http://"]', (links) => links.length);
  check(linkCount === 20, `client links in the event texts are links (${linkCount})`);
  await Promise.all([page.waitForNavigation(), page.click('a:text-is(">")')]);
  ids = await eventIds(page);
  texts = await eventTexts(page);
  check(ids[0] === 21 && texts.every((t) => t.startsWith('Hello od ')),
        `filtered next page keeps the filter (${ids[0]})`);
  check(await page.inputValue('input[name=filter]') === '^hello', 'filter field keeps the filter');
  await shot(page, '07-eventlog-filtered');

  // A filter with markup is shown as text and runs no script.
  const hostile = '"><script>window.ormelinInjected=1</script><b>';
  await page.fill('input[name=filter]', hostile);
  await Promise.all([page.waitForNavigation(), page.click('form input[type=submit]')]);
  check(await page.inputValue('input[name=filter]') === hostile, 'markup filter shown as typed');
  check(await page.evaluate(() => window.ormelinInjected === undefined), 'markup filter runs no script');
  check(await page.$$eval('b', (b) => b.length) === 0, 'markup filter adds no element');
  const next = await page.getAttribute('a:text-is(">")', 'href');
  check(new URL(next, base).searchParams.get('filter') === hostile, 'paging link carries the same filter');
  await shot(page, '08-eventlog-markup-filter');

  // About page.
  await page.goto(`${base}/about.html`);
  await checkImages(page, 'about page');
  const about = await page.textContent('body');
  check(/Serverski modul ver\. OrmelinS-\S+@\d+ \(\d+\) \/ Comparer-\S+@\d+ \(\d+\)/.test(about),
        'about page shows the version text');
  await shot(page, '09-about');

  // An action sent from another site shows the failed-action page.
  await page.goto(`${base}/opcije?akcija=Zaustavi`, { referer: 'http://evil.example/' });
  const failed = await page.textContent('body');
  check(failed.includes('Akcija Zaustavi nije pokrenuta:') &&
        failed.includes('Zahtjev nije poslan sa stranica ove konzole'),
        'cross-site action shows the failed-action page');
  check(await canConnect(syncPort), 'cross-site stop changed nothing');
  await shot(page, '10-failed-action');

  check(scriptErrors.length === 0, `no script errors (${scriptErrors})`);
} catch (error) {
  failures.push(String(error && error.stack || error));
  console.log(`FAIL  ${error && error.stack || error}`);
} finally {
  if (context) await context.close();
  rmSync(profile, { recursive: true, force: true });
}

if (failures.length > 0) {
  console.log(`${failures.length} check(s) failed`);
  process.exit(1);
}
console.log('all checks passed');
