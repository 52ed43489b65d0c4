// The ensemble section, in the page only when the run has output/ensemble.nc
// (runEnsemble): it fills in viewer.js's Ensemble placeholder.
//  - Per threshold a map of the probability that a cell's hourly mean
//    discharge exceeds it in at least one hour of the event: the members over
//    it out of the members counted, 0-100 %, no colour at 0 %.
//  - In the panel of every cell the probabilities; at the kept cells (points,
//    dams, reservoirs) a chart of the members' hourly means as thin lines over
//    the 5-95 % and 25-75 % bands and the median, with this run's hourly mean.
// The entry in the page's data:
//   { file, members, counted, finished: [1 or 0 per member], quantiles: [levels],
//     thresholds: [{ name, about, count: blob, members over it + 1 per cell, 0 no value }],
//     points: [{ name, kind, column, row, cell, hourly: blob f32 members x hours,
//                quantileSeries: blob f32 levels x hours }] }
Ramps.probability = ramp([[255, 247, 188], [254, 196, 79], [236, 112, 20], [204, 76, 2], [153, 52, 4], [90, 20, 60]]);

Ensemble.install = (ensemble, hooks) => {
  const { Blobs } = hooks;
  const counted = Math.max(ensemble.counted, 1), hours = () => window.viewer.meta.hours;
  const scale = new LinearScale(100, Ramps.probability, true);
  const percent = (c) => (100 * c) / counted;
  const fmt = (v) => String(Number(v.toPrecision(3)));
  const esc = (s) => String(s).replace(/&/g, '&amp;').replace(/</g, '&lt;').replace(/>/g, '&gt;').replace(/"/g, '&quot;');
  const counts = (t) => Blobs.get(t.count);
  Ensemble.scale = scale;
  // The legend's colour for a probability in %: the pixel of the bar at its level.
  Ensemble.legendColour = (p) => {
    const level = scale.level(p);
    if (level === 0) return [0, 0, 0, 0];
    return Array.from(document.getElementById('legend-bar').getContext('2d').getImageData(level - 1, 0, 1, 1).data);
  };

  ensemble.thresholds.forEach((t, k) => {
    let levels = null;
    hooks.layers.push({
      id: `probability-${k}`, name: `Probability above ${t.name} (ensemble)`, animated: false, palette: scale.palette,
      levels: () => levels || (levels = Uint8Array.from(counts(t), (c) => (c ? scale.level(percent(c - 1)) : 0))),
      legend: () => hooks.linearLegend(`Probability of more than ${t.name} in any hour, % of ${ensemble.counted} members`, scale, (v) => `${v} %`),
    });
  });

  // The chart of a kept cell: members, bands, median and this run's hourly mean.
  function spreadSvg(point, control, start) {
    const W = 960, H = 420, L = 86, R = 876, T = 60, B = 320, n = hours();
    const all = Blobs.get(point.hourly), q = Blobs.get(point.quantileSeries);
    const members = [];
    ensemble.finished.forEach((f, m) => f && members.push(all.subarray(m * n, (m + 1) * n)));
    const at = (level) => {
      const k = ensemble.quantiles.findIndex((l) => Math.abs(l - level) < 1e-9);
      return k < 0 ? null : q.subarray(k * n, (k + 1) * n);
    };
    let top = 0;
    for (const s of members.concat(control ? [control] : [])) for (const v of s) top = Math.max(top, v);
    const step = Hydrograph.niceStep(Math.max(top, 1e-9), 5), qTop = Math.max(Math.ceil(top / step), 1) * step;
    const x = (h) => L + ((R - L) * h) / n, y = (v) => B - ((B - T) * v) / qTop, px = (v) => v.toFixed(1);
    const points = (s) => Array.from(s, (v, k) => `${px(x(k + 1))},${px(y(v))}`).join(' ');
    const text = (tx, ty, content, anchor = 'middle', extra = '') =>
      `<text x="${px(tx)}" y="${px(ty)}" text-anchor="${anchor}" font-size="13"${extra}>${esc(content)}</text>`;
    const out = [`<svg id="ensemble-spread" xmlns="http://www.w3.org/2000/svg" viewBox="0 0 ${W} ${H}" font-family="DejaVu Sans, Arial, Helvetica, sans-serif" fill="#222">`,
      '<rect width="100%" height="100%" fill="white"/>',
      text(L, 24, `Ensemble at ${point.name} (column ${point.column}, row ${point.row}): ${members.length} members`, 'start', ' font-size="16" font-weight="bold"')];
    let peakLow = Infinity, peakHigh = 0;
    for (const s of members) {
      let peak = 0;
      for (const v of s) peak = Math.max(peak, v);
      peakLow = Math.min(peakLow, peak);
      peakHigh = Math.max(peakHigh, peak);
    }
    out.push(text(L, 44, `Highest hourly mean of a member: ${fmt(peakLow)} to ${fmt(peakHigh)} m³/s`, 'start', ' fill="#555"'));
    const hourStep = [1, 2, 3, 6, 12, 24, 48, 72, 168].find((s) => n / s <= 12) || 168;
    for (let h = 0; h <= n; h += hourStep) {
      out.push(`<line x1="${px(x(h))}" y1="${T}" x2="${px(x(h))}" y2="${B}" stroke="#e3e3e3"/>`);
      const d = start ? new Date(start.getTime() + h * 3600000) : null;
      out.push(text(x(h), B + 18, d ? `${String(d.getUTCDate()).padStart(2, '0')} ${String(d.getUTCHours()).padStart(2, '0')}:00` : `${h} h`));
    }
    out.push(text((L + R) / 2, B + 40, start ? 'Day and hour (UTC), end of each hourly mean' : 'Hours since the start of the event'));
    for (let v = 0; v <= qTop + step * 1e-9; v += step) {
      out.push(`<line x1="${L}" y1="${px(y(v))}" x2="${R}" y2="${px(y(v))}" stroke="#e3e3e3"/>`);
      out.push(text(L - 8, y(v) + 4.5, String(Number(v.toPrecision(6))), 'end'));
    }
    out.push(`<text x="${L - 62}" y="${(T + B) / 2}" text-anchor="middle" font-size="14" transform="rotate(-90 ${L - 62} ${(T + B) / 2})">Discharge (m³/s)</text>`);
    const entries = [];
    const band = (low, high, colour, cls, label) => {
      if (!low || !high) return;
      const upper = Array.from(high, (v, k) => `${px(x(k + 1))},${px(y(v))}`), lower = Array.from(low, (v, k) => `${px(x(k + 1))},${px(y(v))}`).reverse();
      out.push(`<polygon class="${cls}" fill="${colour}" points="${upper.concat(lower).join(' ')}" data-low="${Array.from(low).join(',')}" data-high="${Array.from(high).join(',')}"/>`);
      entries.push({ label, colour, bar: true });
    };
    band(at(0.05), at(0.95), '#e4d4ec', 'band-90', '5-95 % of the members');
    band(at(0.25), at(0.75), '#c2a5cf', 'band-50', '25-75 %');
    members.forEach((s, k) => out.push(`<polyline class="member" fill="none" stroke="#7b3294" stroke-opacity="0.55" stroke-width="0.8" points="${points(s)}" data-member="${k}" data-values="${Array.from(s).join(',')}"/>`));
    if (members.length) entries.push({ label: 'Members', colour: '#7b3294', width: 0.8 });
    const median = at(0.5);
    if (median) {
      out.push(`<polyline class="median" fill="none" stroke="#40004b" stroke-width="2" stroke-dasharray="6 3" points="${points(median)}" data-values="${Array.from(median).join(',')}"/>`);
      entries.push({ label: 'Median', colour: '#40004b', width: 2, dash: '6 3' });
    }
    if (control) {
      out.push(`<polyline class="control" fill="none" stroke="#1b4f9c" stroke-width="2.2" points="${points(control)}"/>`);
      entries.push({ label: 'This run (hourly mean)', colour: '#1b4f9c', width: 2.2 });
    }
    out.push(`<rect x="${L}" y="${T}" width="${R - L}" height="${B - T}" fill="none" stroke="#222"/>`);
    let lx = (L + R) / 2 - entries.reduce((a, e) => a + 60 + 7 * e.label.length, 0) / 2;
    for (const e of entries) {
      out.push(e.bar ? `<rect x="${px(lx)}" y="${B + 62}" width="26" height="12" fill="${e.colour}"/>`
        : `<line x1="${px(lx)}" y1="${B + 68}" x2="${px(lx + 26)}" y2="${B + 68}" stroke="${e.colour}" stroke-width="${e.width}"${e.dash ? ` stroke-dasharray="${e.dash}"` : ''}/>`);
      out.push(text(lx + 32, B + 72.5, e.label, 'start'));
      lx += 60 + 7 * e.label.length;
    }
    out.push('</svg>');
    return out.join('\n');
  }

  // The panel of a cell: its probabilities, and the chart where the ensemble kept the cell.
  hooks.panelSections.push((cell) => {
    const meta = window.viewer.meta;
    let html = `<h3>Ensemble: ${ensemble.counted} of ${ensemble.members} members counted (${esc(ensemble.file)})</h3><ul class="ensemble">`;
    for (const t of ensemble.thresholds) {
      const c = counts(t)[cell];
      html += `<li>${esc(t.name)} (${esc(t.about)}): ${c ? `${c - 1} of ${ensemble.counted} members exceed it in at least one hour, ${fmt(percent(c - 1))} %` : 'no threshold at this cell'}</li>`;
    }
    html += '</ul>';
    const point = ensemble.points.find((p) => p.cell === cell);
    if (!point) return html + (ensemble.points.length ? `<p class="note">The members' hourly series are kept at ${ensemble.points.map((p) => esc(p.name)).join(', ')} (purple circles for points).</p>` : '');
    const e = Array.from(Blobs.get(meta.exact.cells)).indexOf(cell);
    const control = e >= 0 ? Blobs.get(meta.exact.hourly).subarray(e * meta.hours, (e + 1) * meta.hours) : null;
    return html + `<div id="ensemble-chart">${spreadSvg(point, control, meta.start ? new Date(meta.start + 'Z') : null)}</div>` +
      '<p class="note">Members: hourly means of every member that finished, exact (float32 of output/ensemble.nc); bands and median: the hourly quantiles runEnsemble computed over those members.</p>';
  });

  // After the start: markers at the points, the members' count under the pointer, a line in the footer.
  queueMicrotask(() => {
    const viewer = window.viewer, canvas = document.getElementById('map'), tip = document.getElementById('hover');
    // A point on a cell that already has a marker (a gauge) joins its label instead of covering it.
    for (const p of ensemble.points) {
      if (p.kind !== 'point') continue;
      const shared = viewer.map.markers.find((m) => m.cell === p.cell);
      if (shared) shared.label += ` · ${p.name}`;
      else viewer.map.markers.push({ cell: p.cell, label: p.name, shape: 'circle', colour: '#7b3294' });
    }
    viewer.map.draw();
    canvas.addEventListener('pointermove', (event) => {
      const k = /^probability-(\d+)$/.exec(viewer.state.layer), cell = viewer.map.cellAt(event.offsetX, event.offsetY);
      if (!k || cell < 0 || tip.style.display === 'none') return;
      const t = ensemble.thresholds[Number(k[1])], c = counts(t)[cell];
      if (c) tip.textContent += `, ${c - 1} of ${ensemble.counted} members above ${t.name} (${fmt(percent(c - 1))} %)`;
    });
    document.getElementById('about').textContent += ` Ensemble (${ensemble.file}): ${ensemble.counted} of ${ensemble.members} members counted; ` +
      `probability maps of ${ensemble.thresholds.map((t) => t.name).join(', ') || 'no threshold'} in the Map menu` +
      (ensemble.points.length ? `; the members' spread in the panels of ${ensemble.points.map((p) => p.name).join(', ')}.` : '.');
  });
};
