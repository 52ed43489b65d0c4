'use strict';
// A hydrograph as plotHydrograph draws it: discharge against time in the lower
// 60 % of the plot, the upstream-mean rainfall hanging from the top in the
// upper 30 % with its own axis on the right, time ticks every 1, 2, 3, 6 or
// 12 hours or whole days, the same colours and legend, and the scores line.

const Hydrograph = (() => {
  const W = 960, H = 580, L = 86, R = 876, T = 76, B = 430;
  const colours = { hourly: '#1b4f9c', tenMinute: '#5aa9e0', inflow: '#e07b00', observed: '#111111', rain: '#9bb3cf', grid: '#e3e3e3', text: '#222222' };
  const months = ['Jan', 'Feb', 'Mar', 'Apr', 'May', 'Jun', 'Jul', 'Aug', 'Sep', 'Oct', 'Nov', 'Dec'];

  function niceStep(range, count) {
    if (!(range > 0)) return 1;
    const raw = range / count, magnitude = Math.pow(10, Math.floor(Math.log10(raw)));
    for (const m of [1, 2, 5]) if (raw <= m * magnitude * 1.000001) return m * magnitude;
    return 10 * magnitude;
  }
  function timeStep(total) {
    for (const hours of [1, 2, 3, 6, 12, 24, 48, 72, 168]) if (total / (hours * 60) <= 12) return hours * 60;
    return niceStep(total / 1440, 10) * 1440;
  }
  const label = (v) => String(Number((Math.abs(v) < 1e-12 ? 0 : v).toPrecision(6)));
  const px = (v) => v.toFixed(1);
  const esc = (s) => String(s).replace(/&/g, '&amp;').replace(/</g, '&lt;').replace(/>/g, '&gt;').replace(/"/g, '&quot;');
  const text = (x, y, content, anchor = 'middle', size = 13, extra = '') =>
    `<text x="${px(x)}" y="${px(y)}" text-anchor="${anchor}" font-size="${size}"${extra}>${esc(content)}</text>`;
  const maxOf = (v) => (v.length ? v.reduce((a, b) => (b > a ? b : a), v[0]) : 0);

  // plot: {title, subtitle, start (Date or null), totalMinutes, hourly, tenMinute, inflow, observed
  // (each {minutes, values} or null), rain (mm/h per interval), rainInterval, scores (text or null)}.
  function svg(plot) {
    let qMax = maxOf(plot.hourly.values);
    for (const s of [plot.tenMinute, plot.inflow, plot.observed]) if (s) qMax = Math.max(qMax, maxOf(s.values));
    const qStep = niceStep(Math.max(qMax, 1e-9) / 0.6, 6);
    const rainTop = maxOf(plot.rain), rainStep = niceStep(Math.max(rainTop, 1e-9), 3);
    const total = Math.max(plot.totalMinutes, 1), qTop = Math.ceil(Math.max(qMax, 1e-9) / 0.6 / qStep) * qStep;
    const rainMax = Math.max(rainTop, 1e-9) / 0.3;
    const x = (m) => L + ((R - L) * m) / total, y = (q) => B - ((B - T) * q) / qTop, depth = (r) => ((B - T) * r) / rainMax;
    const out = [];
    out.push(`<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 ${W} ${H}" font-family="DejaVu Sans, Arial, Helvetica, sans-serif" fill="${colours.text}">`);
    out.push('<rect width="100%" height="100%" fill="white"/>');
    out.push(text(L, 30, plot.title, 'start', 18, ' font-weight="bold"'));
    out.push(text(L, 52, plot.subtitle, 'start', 13, ' fill="#555"'));
    // Time axis.
    const step = timeStep(total);
    let lastDay = -1;
    for (let t = 0; t <= total + 1e-9; t += step) {
      const xt = x(t);
      out.push(`<line x1="${px(xt)}" y1="${px(T)}" x2="${px(xt)}" y2="${px(B)}" stroke="${colours.grid}"/>`);
      out.push(`<line x1="${px(xt)}" y1="${px(B)}" x2="${px(xt)}" y2="${px(B + 5)}" stroke="${colours.text}"/>`);
      if (plot.start) {
        const d = new Date(plot.start.getTime() + Math.round(t) * 60000);
        out.push(text(xt, B + 20, `${String(d.getUTCHours()).padStart(2, '0')}:${String(d.getUTCMinutes()).padStart(2, '0')}`));
        if (d.getUTCDate() !== lastDay) {
          out.push(text(xt, B + 36, `${d.getUTCDate()} ${months[d.getUTCMonth()]} ${d.getUTCFullYear()}`, 'middle', 12, ' fill="#555"'));
          lastDay = d.getUTCDate();
        }
      } else {
        out.push(text(xt, B + 20, `${label(t / 60)} h`));
      }
    }
    const startText = plot.start ? plot.start.toISOString().slice(0, 16).replace('T', ' ') : '';
    out.push(text((L + R) / 2, B + 58, plot.start ? `Date and time (event start ${startText})` : 'Hours since the start of the event', 'middle', 14));
    // Discharge axis.
    for (let q = 0; q <= qTop + qStep * 1e-9; q += qStep) {
      const yq = y(q);
      out.push(`<line x1="${px(L)}" y1="${px(yq)}" x2="${px(R)}" y2="${px(yq)}" stroke="${colours.grid}"/>`);
      out.push(`<line x1="${px(L - 5)}" y1="${px(yq)}" x2="${px(L)}" y2="${px(yq)}" stroke="${colours.text}"/>`);
      out.push(text(L - 8, yq + 4.5, label(q), 'end'));
    }
    const mid = (T + B) / 2;
    out.push(`<text x="${px(L - 62)}" y="${px(mid)}" text-anchor="middle" font-size="14" transform="rotate(-90 ${px(L - 62)} ${px(mid)})">Discharge (m³/s)</text>`);
    // Rainfall bars from the top.
    out.push(`<g fill="${colours.rain}" class="rain">`);
    for (let k = 0; k < plot.rain.length; k++) {
      if (plot.rain[k] <= 0) continue;
      const x0 = x(k * plot.rainInterval), x1 = x((k + 1) * plot.rainInterval);
      out.push(`<rect x="${px(x0)}" y="${px(T)}" width="${px(x1 - x0 + 0.2)}" height="${px(depth(plot.rain[k]))}"/>`);
    }
    out.push('</g>');
    for (let r = 0; r <= rainTop + rainStep * 0.999; r += rainStep) {
      const yr = T + depth(r);
      out.push(`<line x1="${px(R)}" y1="${px(yr)}" x2="${px(R + 5)}" y2="${px(yr)}" stroke="${colours.text}"/>`);
      out.push(text(R + 8, yr + 4.5, label(r), 'start'));
    }
    const rmid = T + depth(Math.max(rainTop, rainStep)) / 2;
    out.push(`<text x="${px(R + 62)}" y="${px(rmid)}" text-anchor="middle" font-size="14" transform="rotate(90 ${px(R + 62)} ${px(rmid)})">Rainfall (mm/h)</text>`);
    // Series, clipped to the plot.
    out.push(`<clipPath id="plotArea"><rect x="${px(L)}" y="${px(T)}" width="${px(R - L)}" height="${px(B - T)}"/></clipPath><g clip-path="url(#plotArea)">`);
    const line = (s, colour, width, dash, cls) => {
      const points = s.minutes.map((m, k) => `${px(x(m))},${px(y(s.values[k]))}`).join(' ');
      return `<polyline class="${cls}" fill="none" stroke="${colour}" stroke-width="${width}" stroke-linejoin="round"${dash ? ` stroke-dasharray="${dash}"` : ''} points="${points}" data-values="${s.values.join(',')}"/>`;
    };
    const entries = [{ label: 'Upstream mean rainfall', colour: colours.rain, bar: true }];
    if (plot.inflow) {
      out.push(line(plot.inflow, colours.inflow, 1.8, '6 4', 'inflow'));
      entries.push({ label: 'Inflow (hourly mean)', colour: colours.inflow, dash: '6 4', width: 1.8 });
    }
    if (plot.tenMinute) {
      out.push(line(plot.tenMinute, colours.tenMinute, 1.3, null, 'ten-minute'));
      entries.push({ label: plot.inflow ? 'Outflow (10-minute mean)' : 'Simulated 10-minute mean', colour: colours.tenMinute, width: 1.3 });
    }
    out.push(line(plot.hourly, colours.hourly, 2.2, null, 'hourly'));
    entries.push({ label: plot.inflow ? 'Outflow (hourly mean)' : 'Simulated hourly mean', colour: colours.hourly, width: 2.2 });
    if (plot.observed) {
      out.push(line(plot.observed, colours.observed, 1.0, null, 'observed'));
      if (plot.observed.minutes.length <= 400) {
        out.push(`<g fill="${colours.observed}">`);
        plot.observed.minutes.forEach((m, k) => out.push(`<circle cx="${px(x(m))}" cy="${px(y(plot.observed.values[k]))}" r="2.2"/>`));
        out.push('</g>');
      }
      entries.push({ label: 'Observed', colour: colours.observed, width: 1.0, marker: true });
    }
    out.push('</g>');
    out.push(`<rect x="${px(L)}" y="${px(T)}" width="${px(R - L)}" height="${px(B - T)}" fill="none" stroke="${colours.text}"/>`);
    // Legend, centred under the plot.
    const widths = entries.map((e) => 34 + 7 * e.label.length + 22);
    let lx = (L + R) / 2 - widths.reduce((a, b) => a + b, 0) / 2;
    const ly = B + 88;
    entries.forEach((e, k) => {
      if (e.bar) {
        out.push(`<rect x="${px(lx)}" y="${px(ly - 7)}" width="26" height="12" fill="${e.colour}"/>`);
      } else {
        out.push(`<line x1="${px(lx)}" y1="${px(ly)}" x2="${px(lx + 26)}" y2="${px(ly)}" stroke="${e.colour}" stroke-width="${e.width}"${e.dash ? ` stroke-dasharray="${e.dash}"` : ''}/>`);
        if (e.marker) out.push(`<circle cx="${px(lx + 13)}" cy="${px(ly)}" r="2.6" fill="${e.colour}"/>`);
      }
      out.push(text(lx + 32, ly + 4.5, e.label, 'start'));
      lx += widths[k];
    });
    if (plot.scores) out.push(text((L + R) / 2, B + 120, plot.scores, 'middle', 13, ' class="scores"'));
    out.push('</svg>');
    return out.join('\n');
  }

  return { svg, niceStep };
})();
