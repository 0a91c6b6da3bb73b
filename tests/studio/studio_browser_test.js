'use strict';
// trackloom studio in a real browser (Debian's chromium, driven by playwright-core):
// a user adds videos by the picker and by drag and drop, previews a moment, makes
// the disc, cancels a second run, reloads, and reaches every control by keyboard.
//   node studio_browser_test.js --trackloom PATH [--screenshots DIR]
// Exits 77 (skipped) when playwright-core or chromium is missing.
const assert = require('assert');
const fs = require('fs');
const os = require('os');
const path = require('path');
const { spawn, execFileSync, spawnSync } = require('child_process');

const args = process.argv.slice(2);
const option = (name, fallback) => {
  const i = args.indexOf(name);
  return i >= 0 ? args[i + 1] : fallback;
};
const trackloom = option('--trackloom', 'trackloom');
const shots = option('--screenshots', '');
const chromiumPath = process.env.CHROMIUM || '/usr/bin/chromium';

let chromium;
try {
  ({ chromium } = require('playwright-core'));
} catch (e) {
  console.log('SKIP: playwright-core is not installed (npm ci in tests/studio)');
  process.exit(77);
}
if (!fs.existsSync(chromiumPath)) {
  console.log(`SKIP: no browser at ${chromiumPath}`);
  process.exit(77);
}

const root = fs.mkdtempSync(path.join(os.tmpdir(), 'trackloom-studio-test-'));
const media = path.join(root, 'media');
const project = path.join(root, 'project');
fs.mkdirSync(media);
fs.mkdirSync(project);

function ffmpeg(...a) {
  execFileSync('ffmpeg', ['-nostdin', '-v', 'error', '-y', ...a]);
}

// Short clips with sound; a longer one to cancel in the middle of.
function makeClips() {
  const clip = (name, seconds, source) => ffmpeg(
    '-f', 'lavfi', '-i', `${source}=size=320x180:rate=25:duration=${seconds}`,
    '-f', 'lavfi', '-i', `sine=frequency=440:duration=${seconds}`,
    '-c:v', 'libx264', '-preset', 'veryfast', '-pix_fmt', 'yuv420p', '-c:a', 'aac', '-shortest',
    path.join(media, name));
  clip('one.mp4', 3, 'testsrc2');
  clip('two.mp4', 3, 'smptebars');
  clip('dropped.mp4', 2, 'testsrc');
  clip('long.mp4', 90, 'testsrc2');
  // The first track of a disc: any valid track does for the player's check here.
  const first = path.join(root, 'first');
  execFileSync(trackloom, ['encode', path.join(media, 'two.mp4'), '-o', first, '-q']);
  fs.copyFileSync(path.join(first, 'VDN Track 01.wav'), path.join(media, 'first.wav'));
}

function startStudio() {
  const env = Object.assign({}, process.env, { XDG_CONFIG_HOME: path.join(root, 'config') });
  const server = spawn(trackloom, ['studio', project, '--no-browser', '--port', '0'],
                       { env, stdio: ['ignore', 'pipe', 'inherit'] });
  return new Promise((resolve, reject) => {
    let out = '';
    server.stdout.on('data', (d) => {
      out += d;
      const line = out.split('\n')[0];
      if (out.includes('\n')) resolve({ server, address: line });
    });
    server.on('exit', (code) => reject(new Error(`trackloom studio ended with ${code}`)));
  });
}

async function shot(page, name) {
  if (!shots) return;
  fs.mkdirSync(shots, { recursive: true });
  await page.screenshot({ path: path.join(shots, name + '.png'), fullPage: true });
}

function inspect(file) {
  return spawnSync(trackloom, ['inspect', file], { encoding: 'utf8' });
}

async function inFolder(page, folder) {
  await page.waitForFunction((f) => document.getElementById('picker-dir').textContent === f, folder);
}

async function pick(page, names) {
  await inFolder(page, project);
  await page.click('#picker-up');
  await inFolder(page, root);
  await page.click('#picker-list button.folder:has-text("media")');
  await inFolder(page, media);
  for (const name of names) await page.click(`#picker-list button.file:text-is("${name}")`);
}

async function addByPickerAndDrop(page) {
  await page.click('#add-videos');
  await pick(page, ['one.mp4', 'two.mp4']);
  await shot(page, '02-picker');
  await page.click('#picker-add');
  await page.waitForFunction(() => document.querySelectorAll('#video-list li').length === 2);
  const bytes = fs.readFileSync(path.join(media, 'dropped.mp4')).toString('base64');
  await page.evaluate((data) => {
    const raw = Uint8Array.from(atob(data), (c) => c.charCodeAt(0));
    const transfer = new DataTransfer();
    transfer.items.add(new File([raw], 'dropped.mp4', { type: 'video/mp4' }));
    document.getElementById('drop-zone').dispatchEvent(
      new DragEvent('drop', { dataTransfer: transfer, bubbles: true, cancelable: true }));
  }, bytes);
  await page.waitForFunction(() => document.querySelectorAll('#video-list li').length === 3);
  assert.ok(fs.existsSync(path.join(project, 'dropped.mp4')), 'the dropped video is in the project');
  assert.deepStrictEqual(fs.readdirSync(project).filter((n) => n.startsWith('.trackloom-upload-')), []);
  // Reordered by the Down and Up buttons, which keep the focus on the moved video.
  const order = () => page.$$eval('#video-list .name', (names) => names.map((n) => n.textContent));
  await page.click('#video-list li:nth-child(1) button.down');
  assert.deepStrictEqual(await order(), ['two.mp4', 'one.mp4', 'dropped.mp4']);
  await page.keyboard.press('Enter');
  assert.deepStrictEqual(await order(), ['two.mp4', 'dropped.mp4', 'one.mp4']);
  await page.focus('#video-list li:nth-child(3) button.up');
  await page.keyboard.press('Enter');
  await page.keyboard.press('Enter');
  assert.deepStrictEqual(await order(), ['one.mp4', 'two.mp4', 'dropped.mp4']);
  await page.selectOption('#video-list li:nth-child(1) select.fit', 'crop');
  await page.selectOption('#video-list li:nth-child(2) select.levels', 'adaptive');
  await shot(page, '03-videos');
}

async function preview(page) {
  await page.selectOption('#preview-video', { label: 'one.mp4' });
  await page.$eval('#preview-time', (e) => { e.value = '1.5'; e.dispatchEvent(new Event('input')); });
  await page.waitForFunction(() => {
    const img = document.getElementById('preview-img');
    return !img.hidden && img.dataset.at === '1.5' && img.complete && img.naturalWidth > 0;
  });
  const lit = await page.$eval('#preview-img', (img) => {
    const canvas = document.createElement('canvas');
    canvas.width = img.naturalWidth;
    canvas.height = img.naturalHeight;
    const context = canvas.getContext('2d');
    context.drawImage(img, 0, 0);
    const pixels = context.getImageData(0, 0, canvas.width, canvas.height).data;
    let bright = 0;
    for (let i = 0; i < pixels.length; i += 4) if (pixels[i] + pixels[i + 1] + pixels[i + 2] > 150) bright++;
    return bright;
  });
  assert.ok(lit > 1000, `the preview shows a picture (${lit} lit pixels)`);
  await shot(page, '04-preview');
  // Once the video has been read through, the same moment comes from the pictures kept.
  const quick = () => page.evaluate(() => fetch('/api/quick?fit=crop&path=' +
    encodeURIComponent(document.getElementById('preview-video').value),
  { headers: { 'X-Trackloom-Page': '1' } }).then((r) => r.json()).then((j) => j.state || j.message));
  for (let i = 0; i < 300 && await quick() !== 'ready'; i++) await new Promise((r) => setTimeout(r, 100));
  assert.strictEqual(await quick(), 'ready');
  // The page, which asks twice a second, stops telling of it.
  await page.waitForSelector('#preview-quick', { state: 'hidden', timeout: 5000 });
}

// The page saves in the background after showing a change: the settings file is read
// until it names the expected first track or five seconds have passed.
async function savedFirst(expected) {
  const file = path.join(root, 'config', 'trackloom', 'studio.json');
  let first = '';
  for (let tries = 0; tries < 50 && first !== expected; tries++) {
    if (tries) await new Promise((resolve) => setTimeout(resolve, 100));
    try { first = path.basename(JSON.parse(fs.readFileSync(file, 'utf8')).first || ''); } catch (e) { /* not written yet */ }
  }
  return first;
}

async function makeDisc(page) {
  await page.click('#choose-first');
  await pick(page, ['first.wav']);
  await page.click('#picker-add');
  await page.waitForFunction(() => document.getElementById('first-name').textContent === 'first.wav');
  assert.strictEqual(await savedFirst('first.wav'), 'first.wav', 'the first track is remembered');
  // A name a cue sheet cannot hold is refused at its field, before anything is encoded.
  await page.fill('#disc-name', 'my "film"');
  await page.press('#disc-name', 'Tab');
  await page.waitForFunction(() => /quotes/.test(document.getElementById('disc-name').validationMessage));
  assert.ok(!fs.existsSync(path.join(project, 'disc', 'disc-tracks')), 'nothing was encoded');
  await page.fill('#disc-name', 'disc');
  await page.press('#disc-name', 'Tab');
  // The silence that fills a short disc is on the list and told beside the minutes.
  assert.strictEqual(await page.textContent('#disc-tracks li:last-child'), 'Silence, to fill the disc to 41:20');
  assert.match(await page.textContent('#disc-minutes'), /filled with silence to 41:20, the least players need$/);
  await shot(page, '05-disc');
  await page.click('#make');
  await page.waitForFunction(() => document.getElementById('overall').value > 0, null, { timeout: 60000 });
  await shot(page, '06-making');
  await page.waitForFunction(() => !document.getElementById('result-section').hidden,
                             null, { timeout: 90000 });
  assert.strictEqual(await page.$eval('#overall', (e) => e.value), 100);
  const verdict = await page.textContent('#result-verdict');
  assert.match(verdict, /disc\.cue: passes the check \(6 tracks, 0:\d\d of video; the disc plays 41:20, filled with silence to the least players need\)/);
  assert.strictEqual(await page.textContent('#notice'), '', 'the refusal went with the save that passed');
  const cue = path.join(project, 'disc', 'disc.cue');
  const checked = inspect(cue);
  assert.strictEqual(checked.status, 0, checked.stdout + checked.stderr);
  // The second video's tracks carry the levels chosen for them, the first's the standard.
  const made = await page.evaluate(() => fetch('/api/status').then((r) => r.json()));
  const levelsOf = (video) => inspect(made.tracks.find((t) => t.includes(video))).stdout.match(/levels +(.*)/)[1];
  assert.strictEqual(levelsOf('video-01'), 'standard');
  assert.strictEqual(levelsOf('video-02'), "the track's own");
  // Watch asked for twice at once: one render, both answered.
  const twice = await page.evaluate(() => Promise.all([1, 2].map(() =>
    fetch('/api/watch?track=2').then((r) => r.status))));
  assert.deepStrictEqual(twice, [200, 200]);
  // Cancelled as soon as it is begun: said so at once, and begun again by the next start.
  const restarted = await page.evaluate(async (track) => {
    const ask = (method, url, body) => fetch(url, {
      method, headers: { 'X-Trackloom-Page': '1', 'Content-Type': 'application/json' },
      body: body && JSON.stringify(body) }).then((r) => r.json());
    await ask('POST', '/api/watch/start', { track });
    const states = [(await ask('POST', '/api/watch/cancel', { track })).state,
                    (await ask('GET', `/api/watch/status?track=${track}`)).state];
    let status = await ask('POST', '/api/watch/start', { track });
    while (status.state === 'making') {
      await new Promise((resolve) => setTimeout(resolve, 100));
      status = await ask('GET', `/api/watch/status?track=${track}`);
    }
    return [...states, status.state];
  }, made.tracks.length);
  assert.deepStrictEqual(restarted, ['cancelled', 'cancelled', 'ready']);
  // A Watch button tells how its video comes along beside it, then plays it.
  await page.evaluate(() => {
    window.watchLines = [];
    new MutationObserver(() => {
      for (const line of document.querySelectorAll('#result-tracks .watch-line'))
        if (line.textContent) window.watchLines.push(line.textContent);
    }).observe(document.getElementById('result-tracks'), { subtree: true, childList: true, characterData: true });
  });
  await page.click('#result-tracks li:first-child button');
  await page.waitForFunction(() => document.getElementById('watch').readyState >= 1,
                             null, { timeout: 60000 });
  const lines = await page.evaluate(() => window.watchLines);
  assert.ok(lines.some((l) => /^Making the video of one\.mp4(, part 1 of \d+)?: \d+ %$/.test(l)), lines.join('\n'));
  await shot(page, '07-result');
}

// Keep your discs: the disc just made, picked as an image and ripped into the project
// folder as an archival .mkv of every record.
async function ripDisc(page) {
  await page.click('#rip');
  await page.click('#rip-choose');
  await inFolder(page, project);
  await page.click('#picker-list button.folder:has-text("disc")');
  await page.click('#picker-list button.file:text-is("disc.cue")');
  await page.click('#picker-add');
  await page.waitForFunction(() => document.getElementById('rip-source').textContent === 'disc.cue');
  await page.click('#rip-start');
  await page.waitForFunction(() => /^Done/.test(document.getElementById('rip-state').textContent),
                             null, { timeout: 60000 });
  assert.match(await page.textContent('#rip-summary'), /Wrote .*disc\.mkv: \d+ chapters/);
  assert.ok(fs.existsSync(path.join(project, 'disc.mkv')), 'the video is in the project folder');
  await shot(page, '07b-rip');
  await page.click('#rip-close');
}

async function cancelMidway(page) {
  await page.click('#add-videos');
  await pick(page, ['long.mp4']);
  await page.click('#picker-add');
  await page.waitForFunction(() => document.querySelectorAll('#video-list li').length === 4);
  await page.selectOption('#video-list li:nth-child(4) select.breaks', 'every');
  await page.fill('#video-list li:nth-child(4) input.every', '0:05');
  await page.press('#video-list li:nth-child(4) input.every', 'Tab');
  await page.click('#make');
  await page.waitForFunction(() => /long\.mp4: encoding/.test(document.getElementById('video-progress').textContent),
                             null, { timeout: 90000 });
  await page.click('#cancel');
  await page.waitForFunction(() => /Stopped/.test(document.getElementById('result-message').textContent),
                             null, { timeout: 60000 });
  await shot(page, '08-cancelled');
  const status = await page.evaluate(() => fetch('/api/status').then((r) => r.json()));
  assert.strictEqual(status.state, 'cancelled');
  const long = status.tracks.filter((t) => t.includes('video-04'));
  assert.ok(long.length < 18, `the cancelled encode stopped early (${long.length} tracks)`);
  for (const track of status.tracks) {
    const checked = inspect(track);
    assert.strictEqual(checked.status, 0, `${track}: ${checked.stdout}${checked.stderr}`);
  }
}

async function reloadKeepsProject(page) {
  await page.reload();
  await page.waitForFunction(() => document.querySelectorAll('#video-list li').length === 4);
  assert.strictEqual(await page.textContent('#first-name'), 'first.wav');
  assert.strictEqual(await page.$eval('#video-list li:nth-child(1) select.fit', (e) => e.value), 'crop');
  const saved = JSON.parse(fs.readFileSync(path.join(project, 'trackloom-project.json'), 'utf8'));
  assert.strictEqual(saved.videos.length, 4);
}

// Tab from the top reaches every control on the page; Enter and Space work them.
async function keyboardOnly(page) {
  await page.evaluate(() => document.activeElement && document.activeElement.blur());
  const reached = new Set();
  for (let i = 0; i < 200; i++) {
    await page.keyboard.press('Tab');
    const id = await page.evaluate(() => {
      const e = document.activeElement;
      if (!e || e === document.body) return '';
      if (!e.dataset.k) e.dataset.k = String(Math.random());
      return e.dataset.k;
    });
    if (id) reached.add(id);
  }
  const missed = await page.evaluate((keys) => {
    const controls = document.querySelectorAll('main button, main select, main input, main [tabindex], header button');
    return Array.from(controls)
      .filter((e) => !e.disabled && e.offsetParent !== null && !keys.includes(e.dataset.k))
      .map((e) => e.id || e.className || e.tagName);
  }, Array.from(reached));
  assert.deepStrictEqual(missed, [], 'every control is reached by Tab');
  await page.focus('#add-videos');
  await page.keyboard.press('Enter');
  await page.waitForFunction(() => document.getElementById('picker').open);
  await page.waitForFunction(() => document.activeElement.closest('#picker-list') !== null);
  await page.keyboard.press('Escape');
  await page.waitForFunction(() => !document.getElementById('picker').open);
  await page.focus('#split');
  await page.keyboard.press('Space');
  assert.strictEqual(await page.$eval('#split', (e) => e.checked), true);
  await shot(page, '09-keyboard');
}

async function main() {
  makeClips();
  const { server, address } = await startStudio();
  console.log(address.replace(/token=.*/, 'token=…'));
  const browser = await chromium.launch({
    executablePath: chromiumPath, headless: true,
    args: process.getuid && process.getuid() === 0 ? ['--no-sandbox'] : [] });
  const exited = new Promise((resolve) => server.on('exit', resolve));
  try {
    const page = await browser.newPage({ viewport: { width: 1100, height: 900 } });
    page.on('pageerror', (e) => { throw e; });
    // As the studio opens the browser: a file of its user's that goes on to the address
    // (another site to the browser), so the key is never on a command line.
    const launcher = path.join(root, 'open.html');
    fs.writeFileSync(launcher, `<!doctype html><meta http-equiv=refresh content="0;url=${address}">`);
    await page.goto('file://' + launcher);
    await page.waitForURL((url) => url.protocol === 'http:' && url.pathname === '/' && url.search === '');
    await page.waitForSelector('#add-videos');
    await shot(page, '01-start');
    await addByPickerAndDrop(page);
    await preview(page);
    await makeDisc(page);
    await ripDisc(page);
    await cancelMidway(page);
    await reloadKeepsProject(page);
    await keyboardOnly(page);
    await page.click('#quit');
    assert.strictEqual(await exited, 0, 'Quit stops the studio');
  } finally {
    await browser.close();
    server.kill('SIGINT');
    fs.rmSync(root, { recursive: true, force: true });
  }
  console.log('studio in the browser: all steps passed');
}

main().catch((e) => {
  console.error(e);
  process.exit(1);
});
