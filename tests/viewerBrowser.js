// Opens a viewer page of exportResults --html in headless Chromium, driven
// through the DevTools protocol over a pipe (--remote-debugging-pipe: commands
// on fd 3, answers on fd 4, each message ended by a NUL byte), network off.
//
//   node viewerBrowser.js check PAGE PROJECT COL ROW DAM SLOPE_COL SLOPE_ROW
//       the page's checks against the run in PROJECT (exit status 1 on failure)
//   node viewerBrowser.js time PAGE             time until the first frame, in ms
//   node viewerBrowser.js shoot PAGE DIR COL ROW [JS]
//       screenshots for the docs: the map (after running JS in the page), the panel of a cell
//
// CHROMIUM names the browser (default /usr/bin/chromium).
'use strict';
const { spawn } = require('child_process');
const fs = require('fs');
const os = require('os');
const path = require('path');

function startBrowser(width, height) {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'viewer-chromium-'));
  const args = ['--headless', '--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking',
    '--disable-component-update', '--disable-sync', `--user-data-dir=${profile}`, '--remote-debugging-pipe',
    `--window-size=${width},${height}`, 'about:blank'];
  const child = spawn(process.env.CHROMIUM || '/usr/bin/chromium', args, { stdio: ['ignore', 'ignore', 'ignore', 'pipe', 'pipe'] });
  let nextId = 1, buffer = Buffer.alloc(0);
  const pending = new Map(), listeners = [];
  child.stdio[4].on('data', (chunk) => {
    buffer = Buffer.concat([buffer, chunk]);
    for (let end; (end = buffer.indexOf(0)) >= 0; buffer = buffer.subarray(end + 1)) {
      const message = JSON.parse(buffer.subarray(0, end).toString());
      if (message.id && pending.has(message.id)) {
        const { resolve, reject } = pending.get(message.id);
        pending.delete(message.id);
        message.error ? reject(new Error(JSON.stringify(message.error))) : resolve(message.result);
      } else {
        listeners.forEach((l) => l(message));
      }
    }
  });
  const browser = {
    send(method, params = {}, sessionId) {
      const id = nextId++;
      child.stdio[3].write(JSON.stringify({ id, method, params, sessionId }) + '\0');
      return new Promise((resolve, reject) => pending.set(id, { resolve, reject }));
    },
    on: (l) => listeners.push(l),
    // Ends the browser (by its own command, else by a signal) and removes its profile.
    async close() {
      const exited = new Promise((resolve) => child.once('exit', resolve));
      browser.send('Browser.close').catch(() => {});
      const timer = setTimeout(() => child.kill('SIGKILL'), 5000);
      if (child.exitCode === null && child.signalCode === null) await exited;
      clearTimeout(timer);
      fs.rmSync(profile, { recursive: true, force: true });
    },
  };
  return browser;
}

// A page of the browser at the given size with the page's errors collected.
async function openPage(browser, file, width, height) {
  const { targetId } = await browser.send('Target.createTarget', { url: 'about:blank' });
  const { sessionId } = await browser.send('Target.attachToTarget', { targetId, flatten: true });
  const send = (method, params) => browser.send(method, params, sessionId);
  const errors = [];
  let loaded;
  const load = new Promise((resolve) => (loaded = resolve));
  browser.on((m) => {
    if (m.sessionId !== sessionId) return;
    if (m.method === 'Runtime.exceptionThrown') errors.push(m.params.exceptionDetails.exception?.description || m.params.exceptionDetails.text);
    if (m.method === 'Runtime.consoleAPICalled' && m.params.type === 'error') errors.push(m.params.args.map((a) => a.value).join(' '));
    if (m.method === 'Log.entryAdded' && m.params.entry.level === 'error') errors.push(m.params.entry.text);
    if (m.method === 'Page.loadEventFired') loaded();
  });
  for (const domain of ['Page', 'Runtime', 'Log', 'Network']) await send(`${domain}.enable`);
  await send('Network.emulateNetworkConditions', { offline: true, latency: 0, downloadThroughput: 0, uploadThroughput: 0 });
  await send('Emulation.setDeviceMetricsOverride', { width, height, deviceScaleFactor: 1, mobile: false });
  await send('Page.navigate', { url: 'file://' + path.resolve(file) });
  await load;
  const evaluate = async (expression) => {
    const r = await send('Runtime.evaluate', { expression, returnByValue: true, awaitPromise: true });
    if (r.exceptionDetails) throw new Error(`${expression}: ${r.exceptionDetails.exception?.description || r.exceptionDetails.text}`);
    return r.result.value;
  };
  const click = async (x, y) => {
    for (const type of ['mousePressed', 'mouseReleased'])
      await send('Input.dispatchMouseEvent', { type, x, y, button: 'left', buttons: type === 'mousePressed' ? 1 : 0, clickCount: 1 });
  };
  return { send, evaluate, click, errors };
}

// The values of the cell at COL, ROW (from 1 at the west and south) in every frame of a discharge file.
function cellSeries(file, ncols, nrows, column, row) {
  const values = new Float32Array(Uint8Array.from(fs.readFileSync(file)).buffer);
  const cells = ncols * nrows, index = (row - 1) * ncols + column - 1, out = [];
  for (let f = 0; f * cells < values.length; f++) out.push(values[f * cells + index]);
  return Float32Array.from(out);
}

async function check(page, [file, project, column, row, dam, slopeColumn, slopeRow]) {
  const failures = [];
  const expect = (ok, what) => ok || failures.push(what);
  const meta = await page.evaluate('viewer.meta');
  const { ncols, nrows } = meta.grid;
  const hourly = (c, r) => cellSeries(path.join(project, 'output/dischargeHourlyMean.bin'), ncols, nrows, c, r);
  const same = (a, b) => JSON.stringify(a) === JSON.stringify(b);
  column = Number(column); row = Number(row); slopeColumn = Number(slopeColumn); slopeRow = Number(slopeRow);

  // Opaque discharge, no lines over the cells: a cell's colour is the legend's colour for its value.
  await page.evaluate(`(() => { for (const [id, v] of [['opacity', '100'], ['network', false], ['outlines', false]]) {
      const e = document.getElementById(id); if (typeof v === 'string') e.value = v; else e.checked = v;
      e.dispatchEvent(new Event(typeof v === 'string' ? 'input' : 'change')); } })()`);
  // Off the cell's centre, where a marker may stand.
  const colourAt = (c, r) => page.evaluate(`(() => { viewer.show(${c}, ${r}, 40); const p = viewer.cellPoint(${c}, ${r});
      return viewer.pixelAt(p.x + 14, p.y + 14); })()`);
  const hour = 5;
  await page.evaluate(`viewer.setFrame(${hour})`);
  for (const [c, r] of [[column, row], [slopeColumn, slopeRow]]) {
    const value = hourly(c, r)[hour];
    const drawn = await colourAt(c, r), legend = await page.evaluate(`viewer.legendColour(${value})`);
    expect(same(drawn, legend), `the colour of column ${c}, row ${r} at hour ${hour + 1} is ${drawn}, the legend's for ${value} is ${legend}`);
  }
  // The slider, moved with the keyboard, moves the frame.
  await page.evaluate(`document.getElementById('time').focus()`);
  for (const type of ['keyDown', 'keyUp'])
    await page.send('Input.dispatchKeyEvent', { type, key: 'ArrowRight', code: 'ArrowRight', windowsVirtualKeyCode: 39 });
  const frame = await page.evaluate('viewer.state.frame');
  expect(frame === hour + 1, `the slider moved to frame ${frame}, not ${hour + 1}`);
  const next = await colourAt(column, row), nextLegend = await page.evaluate(`viewer.legendColour(${hourly(column, row)[hour + 1]})`);
  expect(same(next, nextLegend), `after the slider, column ${column}, row ${row} is ${next}, not ${nextLegend}`);

  // A click on the channel cell: its hydrograph holds the file's float32 values.
  const point = await page.evaluate(`(viewer.show(${column}, ${row}, 20), viewer.cellPoint(${column}, ${row}))`);
  await page.click(point.x, point.y);
  const shown = await page.evaluate(`document.querySelector('#hydrograph polyline.hourly')?.dataset.values ?? ''`);
  const expected = hourly(column, row);
  const values = Float32Array.from(shown.split(',').map(Number));
  expect(values.length === expected.length && Buffer.compare(Buffer.from(values.buffer), Buffer.from(expected.buffer)) === 0,
    `the hydrograph of column ${column}, row ${row} is not the file's series: ${shown.slice(0, 80)}`);
  expect((await page.evaluate(`document.querySelector('#cell h2').textContent`)).includes(`column ${column}, row ${row}`), 'the panel names the cell');

  // A click on the dam: its panel shows its table.
  const site = meta.dams.find((d) => d.name === dam);
  const damPoint = await page.evaluate(`(viewer.show(${site.column}, ${site.row}, 20), viewer.cellPoint(${site.column}, ${site.row}))`);
  await page.click(damPoint.x, damPoint.y);
  const rows = await page.evaluate(`Array.from(document.querySelectorAll('#structure-table tbody tr'), (tr) => Array.from(tr.cells, (td) => td.textContent))`);
  const table = fs.readFileSync(path.join(project, 'output/damData', dam + 'IQS.dat'), 'utf8').trim().split('\n').map((l) => l.split('\t'));
  // Columns: hour, end of the hour, inflow, outflow, storage; the file: hour, inflow, outflow, storage.
  const wrong = table.findIndex((line, k) => !rows[k] || Number(rows[k][0]) !== Number(line[0]) ||
    ![1, 2, 3].every((c) => Number(rows[k][c + 1]) === Number(line[c])));
  expect(rows.length === table.length && wrong < 0,
    `the dam's table has ${rows.length} rows, the file ${table.length}; first difference in row ${wrong + 1}: ${rows[wrong]} against ${table[wrong]}`);
  expect(page.errors.length === 0, `errors on the page: ${page.errors.join('; ')}`);
  return failures;
}

async function main() {
  const [mode, file, ...rest] = process.argv.slice(2);
  // Screenshots a little smaller, to keep the pictures small.
  const [width, height] = mode === 'shoot' ? [1200, 760] : [1400, 900];
  const browser = startBrowser(width, height);
  const timeout = setTimeout(() => {
    console.log('FAILED: the browser did not answer in 60 s');
    browser.close().then(() => process.exit(1));
  }, 60000);
  let status = 0;
  try {
    const page = await openPage(browser, file, width, height);
    await page.evaluate(`new Promise((resolve) => { const wait = () => (window.viewer && viewer.firstFrameMs() !== null ? resolve() : setTimeout(wait, 20)); wait(); })`);
    if (mode === 'check') {
      const failures = await check(page, [file, ...rest]);
      failures.forEach((f) => console.log('FAILED: ' + f));
      console.log(failures.length ? `${failures.length} checks failed` : 'all checks passed');
      status = failures.length ? 1 : 0;
    } else if (mode === 'time') {
      const [first, script] = await page.evaluate('[viewer.firstFrameMs(), viewer.scriptStartMs()]');
      console.log(`first frame ${first.toFixed(0)} ms (page read and parsed by ${script.toFixed(0)} ms), ${(fs.statSync(file).size / 1e6).toFixed(2)} MB`);
    } else if (mode === 'shoot') {
      const [dir, column, row, setup] = rest;
      if (setup) await page.evaluate(setup);
      const shot = async (name, clip) => {
        const { data } = await page.send('Page.captureScreenshot', { format: 'png', clip: { ...clip, scale: 1 } });
        fs.writeFileSync(path.join(dir, name), Buffer.from(data, 'base64'));
      };
      await shot('viewer-map.png', { x: 0, y: 0, width, height });
      const p = await page.evaluate(`(viewer.show(${column}, ${row}, viewer.map.scale), viewer.cellPoint(${column}, ${row}))`);
      await page.click(p.x, p.y);
      const box = await page.evaluate(`(() => { const b = document.getElementById('panel').getBoundingClientRect(); return { x: b.x, y: b.y, width: b.width, height: Math.min(b.height, 560) }; })()`);
      await shot('viewer-hydrograph.png', box);
    }
    if (page.errors.length && mode !== 'check') console.log('errors on the page: ' + page.errors.join('; '));
  } catch (e) {
    console.log('FAILED: ' + e.message);
    status = 1;
  }
  clearTimeout(timeout);
  await browser.close();
  process.exit(status);
}
main();
