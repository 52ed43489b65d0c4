'use strict';
// The viewer: the run's description from "viewer-meta", the time line, the
// map layers, and the panel of the selected cell. window.viewer exposes the
// state and a few accessors (used by the page's browser test).

// The ensemble section: when the page's data hold an "ensemble" entry (from
// output/ensemble.nc), its exceedance probability maps become layers and each
// of its points shows the members' spread in the cell panel. The entry's shape:
//   { thresholds: [m3/s...], probability: [blob per threshold: u8, 0..255 = 0..1, per cell],
//     points: [{ cell, members, hourly: blob f32 members x hours }] }
const Ensemble = {
  install(ensemble, hooks) {
    const palette = new LinearScale(255, Ramps.rain, true).palette;
    ensemble.thresholds.forEach((threshold, k) => {
      hooks.layers.push({
        id: `probability-${k}`, name: `Probability above ${threshold} m³/s`, animated: false, palette,
        levels: () => hooks.Blobs.get(ensemble.probability[k]),
        legend: () => hooks.linearLegend(`Probability of more than ${threshold} m³/s`, new LinearScale(1, Ramps.rain, true), (v) => v),
      });
    });
  },
};
const viewer = (() => {
  const scriptStartMs = performance.now();
  const meta = JSON.parse(document.getElementById('viewer-meta').textContent);
  const grid = meta.grid, cells = grid.ncols * grid.nrows, hours = meta.hours;
  const info = Blobs.get(meta.info);
  const scale = new LogScale(meta.scale.qMin, meta.scale.qMax);
  const start = meta.start ? new Date(meta.start + 'Z') : null;
  const $ = (id) => document.getElementById(id);
  const kindNames = ['not computed', 'slope', 'channel', 'dam', 'reservoir'];

  // ---- Per-cell lookups -------------------------------------------------------
  const exactCells = Blobs.get(meta.exact.cells);
  const exactSlot = new Int32Array(cells).fill(-1);
  exactCells.forEach((cell, e) => (exactSlot[cell] = e));
  // The slot of each cell's block in a set of maps, -1 where the block holds no slope.
  function blockSlots(maps) {
    if (!maps) return null;
    const k = maps.factor, blockCols = Math.ceil(grid.ncols / k);
    const blocks = Blobs.get(maps.blocks), slotOfBlock = new Map();
    blocks.forEach((b, s) => slotOfBlock.set(b, s));
    const slots = new Int32Array(cells).fill(-1);
    for (let r = 0; r < grid.nrows; r++)
      for (let c = 0; c < grid.ncols; c++) {
        const s = slotOfBlock.get(Math.floor(r / k) * blockCols + Math.floor(c / k));
        if (s !== undefined) slots[r * grid.ncols + c] = s;
      }
    return slots;
  }
  const maps = { hourly: meta.maps.hourly, tenMinute: meta.maps.tenMinute };
  const slots = { hourly: blockSlots(maps.hourly), tenMinute: null };

  // ---- Time -----------------------------------------------------------------------
  const state = { tenMinute: false, frame: 0, layer: 'discharge', playing: false, cell: -1, firstFrameMs: null };
  const frameCount = () => (state.tenMinute ? hours * 6 : hours);
  const frameMinutes = () => (state.tenMinute ? 10 : 60);
  function timeText(minutes) {
    if (!start) return `${(minutes / 60).toFixed(minutes % 60 ? 2 : 0)} h after the start`;
    return new Date(start.getTime() + minutes * 60000).toISOString().slice(0, 16).replace('T', ' ');
  }

  // ---- Layers ----------------------------------------------------------------------
  // Each layer gives the level of every cell for a frame, its palette and its
  // legend. An ensemble section adds its probability maps here.
  const levels = new Uint8Array(cells);
  const rain = {
    cellPoint: Blobs.get(meta.rain.cellPoint),
    series: Blobs.get(meta.rain.series),
    perPoint: meta.rain.points ? Blobs.get(meta.rain.series).length / meta.rain.points : 0,
  };
  const rainObsPerHour = 60 / meta.rainInterval;
  let rainTop = 0;
  for (const v of rain.series) if (v > rainTop) rainTop = v;
  const rainScale = new LinearScale(rainTop, Ramps.rain, true);
  const hourScale = new LinearScale(hours, Ramps.time, true);
  const totalScale = new LinearScale(meta.maps.rainTotalMax, Ramps.total, false);

  // Discharge of frame f: slopes from their block's level, exact cells from their series.
  function dischargeLevels(f) {
    let frame, slot;
    const ten = state.tenMinute;
    if (ten && maps.tenMinute) {
      if (!slots.tenMinute) slots.tenMinute = blockSlots(maps.tenMinute);
      frame = Blobs.get(maps.tenMinute.frames[f]);
      slot = slots.tenMinute;
    } else {
      frame = Blobs.get(maps.hourly.frames[ten ? Math.floor(f / 6) : f]);
      slot = slots.hourly;
    }
    const n = ten ? hours * 6 : hours;
    const series = ten ? Blobs.get(meta.exact.tenMinute) : Blobs.get(meta.exact.hourly);
    const quantised = ten && !meta.exact.tenMinuteExact;
    for (let i = 0; i < cells; i++) {
      const kind = info[i] & 7, e = exactSlot[i];
      if (e >= 0) {
        const v = series[e * n + f];
        levels[i] = quantised ? v : scale.level(v);
      } else if (kind === 1 && slot[i] >= 0) {
        levels[i] = frame[slot[i]];
      } else {
        levels[i] = 0;
      }
    }
    return levels;
  }
  // Rainfall intensity of each cell's point at frame f (hourly mean, or the observation).
  function rainLevels(f) {
    const perPoint = rain.perPoint, values = new Float64Array(meta.rain.points);
    for (let p = 0; p < values.length; p++) {
      if (state.tenMinute) {
        values[p] = rain.series[p * perPoint + Math.floor((f * 10) / meta.rainInterval)];
      } else {
        let sum = 0;
        for (let k = 0; k < rainObsPerHour; k++) sum += rain.series[p * perPoint + f * rainObsPerHour + k];
        values[p] = sum / rainObsPerHour;
      }
    }
    const pointLevels = Uint8Array.from(values, (v) => rainScale.level(v));
    for (let i = 0; i < cells; i++) levels[i] = pointLevels[rain.cellPoint[i]];
    return levels;
  }
  const layers = [
    { id: 'discharge', name: 'Discharge (mean over the frame)', animated: true, levels: dischargeLevels, palette: scale.palette,
      legend: () => logLegend('Discharge, m³/s (log scale)') },
    { id: 'rain', name: 'Rainfall intensity', animated: true, levels: rainLevels, palette: rainScale.palette,
      legend: () => linearLegend(state.tenMinute ? 'Rainfall, mm/h' : 'Rainfall, hourly mean, mm/h', rainScale, (v) => v) },
    { id: 'peak', name: 'Peak hourly discharge', animated: false, levels: () => Blobs.get(meta.maps.peak), palette: scale.palette,
      legend: () => logLegend('Peak hourly mean discharge, m³/s (log scale)') },
    { id: 'peakTime', name: 'Time of the peak', animated: false, palette: hourScale.palette,
      levels: () => Uint8Array.from(Blobs.get(meta.maps.peakHour), (h) => hourScale.level(h)),
      legend: () => linearLegend('End of the hour of the peak', hourScale, (h) => (start ? timeText(h * 60).slice(5) : `${h} h`)) },
    { id: 'rainTotal', name: 'Event rainfall total', animated: false, palette: totalScale.palette,
      levels: () => Uint8Array.from(Blobs.get(meta.maps.rainTotal), (v) => totalScale.level((v / 65535) * meta.maps.rainTotalMax)),
      legend: () => linearLegend('Event rainfall, mm', totalScale, (v) => v) },
  ];
  const layerOf = (id) => layers.find((l) => l.id === id);

  // ---- Legend ------------------------------------------------------------------------
  const legendBar = $('legend-bar');
  function paintLegend(palette) {
    const ctx = legendBar.getContext('2d'), image = ctx.createImageData(255, 1);
    for (let x = 0; x < 255; x++) image.data.set(palette.subarray((x + 1) * 4, (x + 2) * 4), x * 4);
    ctx.putImageData(image, 0, 0);
  }
  function ticks(list) {
    // Labels centred on their tick, the outermost kept inside the bar.
    const shift = (x) => (x < 20 ? 'translateX(-4px)' : x > 235 ? 'translateX(calc(-100% + 4px))' : 'translateX(-50%)');
    $('legend-ticks').innerHTML = list.map(([x, t]) => `<span style="left:${((x + 0.5) / 255) * 100}%;transform:${shift(x)}">${t}</span>`).join('');
  }
  function logLegend(title) {
    $('legend-title').textContent = title;
    paintLegend(scale.palette);
    const list = [];
    for (let e = Math.ceil(Math.log10(scale.qMin)); e <= Math.floor(Math.log10(scale.qMax)); e++)
      list.push([scale.level(Math.pow(10, e)) - 1, e >= 0 ? String(Math.pow(10, e)) : Math.pow(10, e).toFixed(-e)]);
    ticks(list);
  }
  function linearLegend(title, s, format) {
    $('legend-title').textContent = title;
    paintLegend(s.palette);
    const step = Hydrograph.niceStep(s.top, 4), list = [];
    for (let v = 0; v <= s.top + 1e-9; v += step) list.push([Math.max(s.level(v), 1) - 1, format(Number(v.toPrecision(6)))]);
    ticks(list);
  }
  // The legend's colour for a discharge: the pixel of the bar at its level.
  function legendColour(q) {
    const level = scale.level(q);
    if (level === 0) return [0, 0, 0, 0];
    return Array.from(legendBar.getContext('2d').getImageData(level - 1, 0, 1, 1).data);
  }

  // ---- Map ----------------------------------------------------------------------------
  const map = new MapView($('map'), grid, info);
  map.setRelief(Blobs.get(meta.relief));
  function render() {
    const layer = layerOf(state.layer);
    map.setLayer(layer.levels(state.frame), layer.palette);
    map.draw();
    $('time-label').textContent = layer.animated
      ? `${timeText((state.frame + 1) * frameMinutes())} (${state.tenMinute ? '10 minutes' : 'hour'} ${state.frame + 1} of ${frameCount()})`
      : 'whole event';
    if (state.firstFrameMs === null) state.firstFrameMs = performance.now();
  }
  function redraw() {
    map.draw();
  }
  function setFrame(f) {
    state.frame = Math.min(Math.max(f, 0), frameCount() - 1);
    $('time').value = state.frame;
    render();
  }
  function setTenMinute(on) {
    const minute = (state.frame + 1) * frameMinutes();
    state.tenMinute = on;
    $('time').max = frameCount() - 1;
    setFrame(Math.ceil(minute / frameMinutes()) - 1);
  }
  function setLayer(id) {
    state.layer = id;
    $('layer').value = id;
    layerOf(id).legend();
    render();
  }

  // ---- The selected cell --------------------------------------------------------------
  const kFlowRow = [0, -1, -1, 0, 1, 1, 1, 0, -1], kFlowCol = [0, 0, 1, 1, 1, 0, -1, -1, -1];
  // The cells whose flow reaches `target`, the target included and the outer ring left out.
  function upstreamCells(target) {
    const { nrows, ncols } = grid, seen = new Uint8Array(cells), list = [target];
    seen[target] = 1;
    for (let k = 0; k < list.length; k++) {
      const r = Math.floor(list[k] / ncols), c = list[k] % ncols;
      for (let code = 1; code <= 8; code++) {
        const nr = r - kFlowRow[code], nc = c - kFlowCol[code];
        if (nr <= 0 || nc <= 0 || nr >= nrows - 1 || nc >= ncols - 1) continue;
        const n = nr * ncols + nc;
        if (seen[n] || ((info[n] >> 3) & 15) !== code) continue;
        seen[n] = 1;
        list.push(n);
      }
    }
    return list;
  }
  // Area-weighted mean rainfall over cells, every observation (mm/h).
  function meanRain(list) {
    const rowArea = Blobs.get(meta.rain.rowArea), weight = new Float64Array(meta.rain.points);
    let area = 0;
    for (const i of list) {
      const a = rowArea[Math.floor(i / grid.ncols)];
      weight[rain.cellPoint[i]] += a;
      area += a;
    }
    const mean = new Float64Array(rain.perPoint);
    weight.forEach((w, p) => {
      if (!w) return;
      for (let k = 0; k < rain.perPoint; k++) mean[k] += w * rain.series[p * rain.perPoint + k];
    });
    return Array.from(mean, (v) => v / area);
  }
  const series = (values, minutes) => ({ minutes: Array.from(values, (_, k) => (k + 1) * minutes), values: Array.from(values) });
  // The hourly (or 10-minute) series of a cell: exact, or display values of its block.
  function cellSeries(cell, ten) {
    const n = ten ? hours * 6 : hours, e = exactSlot[cell];
    if (e >= 0) {
      const all = Blobs.get(ten ? meta.exact.tenMinute : meta.exact.hourly);
      const part = all.subarray(e * n, (e + 1) * n);
      return { values: ten && !meta.exact.tenMinuteExact ? Array.from(part, (l) => scale.value(l)) : part, exact: !ten || meta.exact.tenMinuteExact };
    }
    const m = ten && maps.tenMinute ? maps.tenMinute : maps.hourly;
    if (ten && maps.tenMinute && !slots.tenMinute) slots.tenMinute = blockSlots(maps.tenMinute);
    const slot = (m === maps.hourly ? slots.hourly : slots.tenMinute)[cell];
    const values = new Array(n);
    for (let f = 0; f < n; f++) {
      const frame = Blobs.get(m.frames[m === maps.hourly && ten ? Math.floor(f / 6) : f]);
      values[f] = slot >= 0 ? scale.value(frame[slot]) : 0;
    }
    return { values, exact: false, factor: m.factor };
  }
  const fmt = (v) => String(Number(v.toPrecision(6)));
  const structureOf = (cell) =>
    meta.dams.map((d) => ({ ...d, what: 'Dam' })).concat(meta.reservoirs.map((r) => ({ ...r, what: 'Reservoir' }))).find((s) => s.cell === cell);
  const gaugeOf = (cell) => meta.gauges.find((g) => g.cell === cell);
  // Sections of the panel below the hydrograph; an ensemble section adds its own.
  const panelSections = [structureTable];

  function select(cell) {
    state.cell = cell;
    map.selected = cell;
    redraw();
    const box = $('cell');
    $('hint').hidden = true;
    const r = Math.floor(cell / grid.ncols), c = cell % grid.ncols;
    const column = c + 1, row = grid.nrows - r, kind = info[cell] & 7;
    const lon = grid.west + (c + 0.5) * grid.cellDeg, lat = grid.south + (grid.nrows - r - 0.5) * grid.cellDeg;
    const site = structureOf(cell), gauge = gaugeOf(cell);
    const cellText = `column ${column}, row ${row}`;
    const up = upstreamCells(cell);
    const facts = [
      ['Column, row', `${column}, ${row}`],
      ['Longitude, latitude', `${lon.toFixed(4)} E, ${lat.toFixed(4)} N (cell centre)`],
      ['Accumulation', `${Blobs.get(meta.flowAcc)[cell]} cells (flow accumulation); ${up.length} cells upstream`],
      ['Kind', site ? `${site.what.toLowerCase()} ${site.name}` : kindNames[kind]],
    ];
    let html = `<h2>${site ? `${site.what} ${esc(site.name)} (${cellText})` : `Cell ${cellText}`}</h2><dl>`;
    for (const [k, v] of facts) html += `<dt>${k}</dt><dd>${esc(v)}</dd>`;
    html += '</dl>';
    if (kind === 0) {
      box.innerHTML = html + '<p class="note">Not computed: the outer ring, or a river that is not simulated.</p>';
      return;
    }
    const ten = $('panel-ten') ? $('panel-ten').checked : false;
    const hourly = cellSeries(cell, false);
    const plot = {
      start, totalMinutes: hours * 60, rain: meanRain(up), rainInterval: meta.rainInterval,
      hourly: series(hourly.values, 60), tenMinute: null, inflow: null, observed: null, scores: null,
    };
    let notes = hourly.exact
      ? 'Hourly means exact: the float32 values of the discharge file.'
      : `Slope cell: display values, quantised to 254 levels on a log scale${hourly.factor > 1 ? ` and averaged over a block of ${hourly.factor} x ${hourly.factor} cells` : ''}.`;
    if (ten) {
      const t = cellSeries(cell, true);
      plot.tenMinute = series(t.values, 10);
      if (!t.exact) notes += ` 10-minute means: display values (quantised${t.factor > 1 ? `, over a block of ${t.factor} x ${t.factor} cells` : ''}).`;
    }
    if (site) plot.inflow = series(site.inflow, 60);
    if (gauge) {
      plot.observed = { minutes: gauge.minutes, values: gauge.values };
      plot.scores = gauge.scores;
    }
    let peak = 0;
    for (let k = 1; k < plot.hourly.values.length; k++) if (plot.hourly.values[k] > plot.hourly.values[peak]) peak = k;
    const peakTime = start ? timeText((peak + 1) * 60) : `hour ${peak + 1}`;
    plot.title = site ? `${site.what} ${site.name} (${cellText})` : `Discharge at ${cellText}`;
    plot.subtitle = `${lon.toFixed(4)} E, ${lat.toFixed(4)} N;  ${up.length} cells upstream;  peak hourly mean ${site ? 'outflow ' : ''}${plot.hourly.values[peak].toFixed(1)} m³/s, hour ending ${peakTime}`;
    html += `<label><input id="panel-ten" type="checkbox"${ten ? ' checked' : ''}> 10-minute means</label>`;
    html += `<div id="hydrograph">${Hydrograph.svg(plot)}</div><p class="note">${esc(notes)}</p>`;
    if (gauge) html += `<p class="scores">Gauge record ${esc(gauge.file)}: ${esc(gauge.scores)}</p>`;
    for (const section of panelSections) html += section(cell, site);
    box.innerHTML = html;
    $('panel-ten').addEventListener('change', () => select(cell));
  }
  function structureTable(cell, site) {
    if (!site) return '';
    const storage = site.storage !== undefined;
    let html = `<h3>Hourly table (${esc(site.table)})</h3><div class="table-box"><table id="structure-table"><thead><tr><th>Hour</th><th>End</th><th>Inflow m³/s</th><th>Outflow m³/s</th>${storage ? '<th>Storage m³</th>' : ''}</tr></thead><tbody>`;
    for (let h = 0; h < site.inflow.length; h++) {
      html += `<tr><td>${h + 1}</td><td>${timeText((h + 1) * 60)}</td><td>${fmt(site.inflow[h])}</td><td>${fmt(site.outflow[h])}</td>${storage ? `<td>${fmt(site.storage[h])}</td>` : ''}</tr>`;
    }
    return html + '</tbody></table></div>';
  }
  function esc(s) {
    return String(s).replace(/&/g, '&amp;').replace(/</g, '&lt;').replace(/>/g, '&gt;').replace(/"/g, '&quot;');
  }

  // ---- Controls -----------------------------------------------------------------------
  let timer = null;
  function play(on) {
    state.playing = on;
    $('play').innerHTML = on ? '&#10074;&#10074;' : '&#9654;';
    clearInterval(timer);
    if (on) timer = setInterval(() => setFrame((state.frame + 1) % frameCount()), state.tenMinute ? 120 : 300);
  }
  function wire() {
    for (const l of layers) $('layer').add(new Option(l.name, l.id));
    $('layer').addEventListener('change', (e) => setLayer(e.target.value));
    $('time').addEventListener('input', (e) => setFrame(Number(e.target.value)));
    $('play').addEventListener('click', () => play(!state.playing));
    $('back').addEventListener('click', () => setFrame(state.frame - 1));
    $('forward').addEventListener('click', () => setFrame(state.frame + 1));
    $('ten-minute').addEventListener('change', (e) => {
      setTenMinute(e.target.checked);
      if (state.playing) play(true);
      layerOf(state.layer).legend();
    });
    $('opacity').addEventListener('input', (e) => {
      map.opacity = Number(e.target.value) / 100;
      redraw();
    });
    $('network').addEventListener('change', (e) => ((map.showNetwork = e.target.checked), redraw()));
    $('outlines').addEventListener('change', (e) => ((map.showOutlines = e.target.checked), redraw()));
    $('zoom-in').addEventListener('click', () => zoomCentre(1.5));
    $('zoom-out').addEventListener('click', () => zoomCentre(1 / 1.5));
    $('zoom-fit').addEventListener('click', () => (map.fit(), redraw()));
    const canvas = $('map');
    let drag = null;
    canvas.addEventListener('pointerdown', (e) => {
      drag = { x: e.offsetX, y: e.offsetY, moved: false };
      canvas.setPointerCapture(e.pointerId);
    });
    canvas.addEventListener('pointermove', (e) => {
      if (drag) {
        const dx = e.offsetX - drag.x, dy = e.offsetY - drag.y;
        if (drag.moved || Math.abs(dx) + Math.abs(dy) > 3) {
          drag.moved = true;
          map.ox += dx;
          map.oy += dy;
          drag.x = e.offsetX;
          drag.y = e.offsetY;
          redraw();
        }
      }
      hover(e.offsetX, e.offsetY);
    });
    canvas.addEventListener('pointerup', (e) => {
      if (drag && !drag.moved) {
        const cell = map.cellAt(e.offsetX, e.offsetY);
        if (cell >= 0) select(cell);
      }
      drag = null;
    });
    canvas.addEventListener('pointerleave', () => ($('hover').style.display = 'none'));
    canvas.addEventListener('wheel', (e) => {
      e.preventDefault();
      map.zoomAt(Math.pow(1.2, -e.deltaY / 100), e.offsetX, e.offsetY);
      redraw();
    }, { passive: false });
    window.addEventListener('resize', redraw);
    document.addEventListener('keydown', (e) => {
      if (e.target.tagName === 'INPUT' || e.target.tagName === 'SELECT') return;
      if (e.key === ' ') (play(!state.playing), e.preventDefault());
      else if (e.key === 'ArrowRight') setFrame(state.frame + 1);
      else if (e.key === 'ArrowLeft') setFrame(state.frame - 1);
    });
  }
  function zoomCentre(factor) {
    const dpr = window.devicePixelRatio || 1;
    map.zoomAt(factor, map.canvas.width / dpr / 2, map.canvas.height / dpr / 2);
    redraw();
  }
  function hover(x, y) {
    const cell = map.cellAt(x, y), tip = $('hover');
    if (cell < 0) return void (tip.style.display = 'none');
    const r = Math.floor(cell / grid.ncols), c = cell % grid.ncols;
    let text = `column ${c + 1}, row ${grid.nrows - r}: ${kindNames[info[cell] & 7]}`;
    const l = state.layer === 'peak' ? Blobs.get(meta.maps.peak)[cell] : levels[cell];
    if (state.layer === 'discharge' || state.layer === 'peak') {
      const e = exactSlot[cell];
      const exactValue = e >= 0 && state.layer === 'discharge' && !state.tenMinute ? Blobs.get(meta.exact.hourly)[e * hours + state.frame] : null;
      if (exactValue !== null) text += `, ${fmt(exactValue)} m³/s`;
      else if (l) text += `, about ${fmt(scale.value(l))} m³/s`;
    }
    tip.textContent = text;
    tip.style.display = 'block';
    tip.style.left = `${x + 14}px`;
    tip.style.top = `${y + 14}px`;
  }

  // ---- Start ---------------------------------------------------------------------------
  document.title = `Flood results: ${meta.title}`;
  $('title').textContent = `Flood results: ${meta.title}`;
  const notes = [];
  const reduced = [];
  const blocks = (k) => `blocks of ${k} x ${k} cells`;
  if (maps.hourly.factor > 1) reduced.push(`hourly maps of the slopes in ${blocks(maps.hourly.factor)}`);
  if (!maps.tenMinute) reduced.push('no 10-minute maps of the slopes (their hourly maps stand in)');
  else if (maps.tenMinute.factor > 1) reduced.push(`10-minute maps of the slopes in ${blocks(maps.tenMinute.factor)}`);
  if (!meta.exact.tenMinuteExact) reduced.push('10-minute series of channel cells quantised');
  if (reduced.length) {
    $('notice').textContent = `Reduced resolution to keep the page small: ${reduced.join('; ')}. Channel, dam and reservoir cells are drawn cell by cell, their hourly series exact.`;
    $('notice').hidden = false;
  }
  notes.push(`Event start: ${start ? meta.start.replace('T', ' ') : 'unknown'} (${meta.startSource}).`);
  notes.push(`Map colours are display values: discharge on a logarithmic scale of 254 levels from ${fmt(scale.qMin)} to ${fmt(scale.qMax)} m³/s; slope cells quantised to those levels, channel, dam and reservoir cells coloured from their exact values. Cells not computed are transparent.`);
  notes.push(`Grid ${grid.ncols} x ${grid.nrows} cells of ${fmt(grid.cellDeg * 3600)}″, ${hours} hours; column and row numbers count from 1 at the west and south.`);
  $('about').textContent = notes.join(' ');
  map.markers = meta.dams.map((d) => ({ cell: d.cell, label: d.name, shape: 'triangle', colour: '#e07b00' }))
    .concat(meta.reservoirs.map((r) => ({ cell: r.cell, label: r.name, shape: 'square', colour: '#0a8f6a' })))
    .concat(meta.gauges.map((g) => ({ cell: g.cell, label: `gauge ${g.column} ${g.row}`, shape: 'circle', colour: '#111' })));
  if (meta.ensemble) Ensemble.install(meta.ensemble, { layers, panelSections, Blobs, linearLegend });
  wire();
  map.fit();
  map.buildPaths();
  // Open at the hour of the highest hourly mean of any exact cell.
  const exactHourly = Blobs.get(meta.exact.hourly);
  let top = -1, first = 0;
  for (let k = 0; k < exactHourly.length; k++) if (exactHourly[k] > top) (top = exactHourly[k]), (first = k % hours);
  $('time').max = hours - 1;
  $('ten-minute').disabled = false;
  layerOf('discharge').legend();
  setFrame(first);

  return {
    meta, state, map, scale, layers,
    setFrame, setLayer, setTenMinute, select,
    firstFrameMs: () => state.firstFrameMs,
    scriptStartMs: () => scriptStartMs,
    legendColour,
    // The centre of a cell (column and row numbers from 1 at the west and south) in page coordinates.
    cellPoint(column, row) {
      const p = map.pointOf((grid.nrows - row) * grid.ncols + column - 1), box = map.canvas.getBoundingClientRect();
      return { x: box.left + p.x, y: box.top + p.y };
    },
    // The colour drawn at a point of the page.
    pixelAt(x, y) {
      const box = map.canvas.getBoundingClientRect();
      return map.pixel(x - box.left, y - box.top);
    },
    // Puts a cell in the middle of the map at `pixels` CSS pixels per cell.
    show(column, row, pixels) {
      const dpr = window.devicePixelRatio || 1;
      map.scale = pixels;
      map.ox = map.canvas.width / dpr / 2 - (column - 0.5) * pixels;
      map.oy = map.canvas.height / dpr / 2 - (grid.nrows - row + 0.5) * pixels;
      redraw();
    },
  };
})();

window.viewer = viewer;
