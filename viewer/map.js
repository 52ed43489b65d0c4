'use strict';
// The data of the page and the map: blobs decoded on first use, the colour
// scales, the layers drawn cell by cell, and the view with zoom and pan.

// A blob is base64 text in a script element, described by {id, type, length}.
const Blobs = {
  cache: new Map(),
  get(desc) {
    if (!desc) return null;
    let array = this.cache.get(desc.id);
    if (array) return array;
    const text = atob(document.getElementById(desc.id).textContent);
    const bytes = new Uint8Array(text.length);
    for (let k = 0; k < text.length; k++) bytes[k] = text.charCodeAt(k);
    const Type = { u8: Uint8Array, u16: Uint16Array, u32: Uint32Array, i32: Int32Array, f32: Float32Array, f64: Float64Array }[desc.type];
    array = new Type(bytes.buffer);
    this.cache.set(desc.id, array);
    return array;
  },
};

// Colours interpolated between evenly spaced stops; t in [0, 1].
function ramp(stops) {
  return (t) => {
    const x = Math.min(Math.max(t, 0), 1) * (stops.length - 1);
    const k = Math.min(Math.floor(x), stops.length - 2), f = x - k;
    return stops[k].map((v, c) => Math.round(v + (stops[k + 1][c] - v) * f));
  };
}
const Ramps = {
  discharge: ramp([[255, 255, 204], [199, 233, 180], [127, 205, 187], [65, 182, 196], [29, 145, 192], [34, 94, 168], [37, 52, 148], [8, 29, 88], [40, 0, 60]]),
  rain: ramp([[222, 235, 247], [158, 202, 225], [107, 174, 214], [66, 146, 198], [33, 113, 181], [84, 39, 143], [63, 0, 125]]),
  time: ramp([[68, 1, 84], [59, 82, 139], [33, 145, 140], [94, 201, 98], [253, 231, 37]]),
  total: ramp([[247, 252, 185], [173, 221, 142], [65, 171, 93], [35, 132, 67], [0, 90, 50], [0, 50, 70]]),
};

// Discharge on the page's logarithmic scale: level 0 no data, 1 at or below
// qMin, 2..255 the logarithm of (qMin, qMax] in 254 equal steps. The same
// rule quantised the maps when the page was written.
class LogScale {
  constructor(qMin, qMax) {
    this.qMin = qMin;
    this.qMax = qMax;
    this.lnMin = Math.log(qMin);
    this.lnSpan = Math.log(qMax) - Math.log(qMin);
    this.palette = new Uint8ClampedArray(256 * 4);
    for (let level = 1; level < 256; level++) this.palette.set([...Ramps.discharge((level - 1) / 254), 255], level * 4);
  }
  level(q) {
    if (q === -9999) return 0;
    if (!(q > this.qMin)) return 1;
    const t = (Math.log(q) - this.lnMin) / this.lnSpan;
    return 2 + Math.min(253, Math.floor(t * 254));
  }
  // The middle of a level's range (geometric), for values known only by their level.
  value(level) {
    if (level <= 1) return level === 1 ? 0 : NaN;
    return Math.exp(this.lnMin + ((level - 2 + 0.5) / 254) * this.lnSpan);
  }
}

// A linear scale of 255 colours over [0, top]; zero is transparent when `clearZero`.
class LinearScale {
  constructor(top, colours, clearZero) {
    this.top = top > 0 ? top : 1;
    this.clearZero = clearZero;
    this.palette = new Uint8ClampedArray(256 * 4);
    for (let level = 1; level < 256; level++) this.palette.set([...colours((level - 1) / 254), 255], level * 4);
  }
  level(v) {
    if (!(v >= 0) || (this.clearZero && v === 0)) return 0;
    return 1 + Math.min(254, Math.floor((v / this.top) * 254));
  }
}

const kFlowRowStep = [0, -1, -1, 0, 1, 1, 1, 0, -1];
const kFlowColStep = [0, 0, 1, 1, 1, 0, -1, -1, -1];

// The map: a relief canvas and a layer canvas at one pixel per cell, drawn
// into the visible canvas at the zoom and offset of the view, with the basin
// outlines, the channel network and the markers on top.
class MapView {
  constructor(canvas, grid, info) {
    this.canvas = canvas;
    this.ctx = canvas.getContext('2d');
    this.grid = grid;
    this.info = info;
    this.scale = 1;
    this.ox = 0;
    this.oy = 0;
    this.opacity = 0.85;
    this.showNetwork = true;
    this.showOutlines = true;
    this.markers = [];
    this.selected = -1;
    this.relief = this.makeCanvas();
    this.layer = this.makeCanvas();
    this.layerImage = this.layer.getContext('2d').createImageData(grid.ncols, grid.nrows);
  }
  makeCanvas() {
    const c = document.createElement('canvas');
    c.width = this.grid.ncols;
    c.height = this.grid.nrows;
    return c;
  }
  setRelief(shade) {
    const ctx = this.relief.getContext('2d');
    const image = ctx.createImageData(this.grid.ncols, this.grid.nrows);
    const px = image.data;
    for (let i = 0; i < shade.length; i++) {
      const v = shade[i];
      px[4 * i] = px[4 * i + 1] = px[4 * i + 2] = v ? 70 + (v * 185) / 255 : 0;
      px[4 * i + 3] = v ? 255 : 0;
    }
    ctx.putImageData(image, 0, 0);
  }
  // Fills the layer from one level per cell (0: transparent) and a palette.
  setLayer(levels, palette) {
    const px = this.layerImage.data;
    for (let i = 0; i < levels.length; i++) {
      const l = levels[i] * 4;
      px[4 * i] = palette[l];
      px[4 * i + 1] = palette[l + 1];
      px[4 * i + 2] = palette[l + 2];
      px[4 * i + 3] = l ? palette[l + 3] : 0;
    }
    this.layer.getContext('2d').putImageData(this.layerImage, 0, 0);
  }
  // Paths in cell units: outlines along cell sides, the network from centre to centre.
  buildPaths() {
    const { ncols, nrows } = this.grid, info = this.info;
    this.outlines = new Path2D();
    this.network = new Path2D();
    for (let r = 0; r < nrows; r++) {
      for (let c = 0; c < ncols; c++) {
        const w = info[r * ncols + c];
        if (w & 0x80) { this.outlines.moveTo(c + 1, r); this.outlines.lineTo(c + 1, r + 1); }
        if (w & 0x100) { this.outlines.moveTo(c, r + 1); this.outlines.lineTo(c + 1, r + 1); }
        const kind = w & 7, code = (w >> 3) & 15;
        if (kind >= 2 && code >= 1 && code <= 8) {
          const rr = r + kFlowRowStep[code], cc = c + kFlowColStep[code];
          if (rr >= 0 && rr < nrows && cc >= 0 && cc < ncols && (info[rr * ncols + cc] & 7) >= 2) {
            this.network.moveTo(c + 0.5, r + 0.5);
            this.network.lineTo(cc + 0.5, rr + 0.5);
          }
        }
      }
    }
  }
  resize() {
    const dpr = window.devicePixelRatio || 1;
    const w = Math.max(1, Math.round(this.canvas.clientWidth * dpr)), h = Math.max(1, Math.round(this.canvas.clientHeight * dpr));
    if (this.canvas.width !== w || this.canvas.height !== h) {
      this.canvas.width = w;
      this.canvas.height = h;
    }
  }
  fit() {
    this.resize();
    const dpr = window.devicePixelRatio || 1;
    // The whole area between the zoom buttons and above the legend.
    const w = this.canvas.width / dpr - 100, h = this.canvas.height / dpr - 90;
    this.scale = Math.max(Math.min(w / this.grid.ncols, h / this.grid.nrows), 0.01);
    this.ox = 50 + (w - this.grid.ncols * this.scale) / 2;
    this.oy = 10 + (h - this.grid.nrows * this.scale) / 2;
  }
  zoomAt(factor, x, y) {
    const s = Math.min(Math.max(this.scale * factor, 0.05), 200);
    this.ox = x - ((x - this.ox) * s) / this.scale;
    this.oy = y - ((y - this.oy) * s) / this.scale;
    this.scale = s;
  }
  // The cell (row-major index) under a point in CSS pixels of the canvas, or -1.
  cellAt(x, y) {
    const c = Math.floor((x - this.ox) / this.scale), r = Math.floor((y - this.oy) / this.scale);
    if (c < 0 || r < 0 || c >= this.grid.ncols || r >= this.grid.nrows) return -1;
    return r * this.grid.ncols + c;
  }
  // The centre of a cell in CSS pixels of the canvas.
  pointOf(cell) {
    const r = Math.floor(cell / this.grid.ncols), c = cell % this.grid.ncols;
    return { x: this.ox + (c + 0.5) * this.scale, y: this.oy + (r + 0.5) * this.scale };
  }
  draw() {
    this.resize();
    const ctx = this.ctx, dpr = window.devicePixelRatio || 1;
    const { ncols, nrows } = this.grid;
    ctx.setTransform(1, 0, 0, 1, 0, 0);
    ctx.clearRect(0, 0, this.canvas.width, this.canvas.height);
    ctx.setTransform(dpr, 0, 0, dpr, 0, 0);
    ctx.imageSmoothingEnabled = false;
    ctx.drawImage(this.relief, this.ox, this.oy, ncols * this.scale, nrows * this.scale);
    ctx.globalAlpha = this.opacity;
    ctx.drawImage(this.layer, this.ox, this.oy, ncols * this.scale, nrows * this.scale);
    ctx.globalAlpha = 1;
    ctx.setTransform(dpr * this.scale, 0, 0, dpr * this.scale, dpr * this.ox, dpr * this.oy);
    if (this.showNetwork) {
      ctx.strokeStyle = 'rgba(10, 30, 90, 0.45)';
      ctx.lineWidth = Math.max(0.12, 0.8 / this.scale);
      ctx.lineCap = 'round';
      ctx.stroke(this.network);
    }
    if (this.showOutlines) {
      ctx.strokeStyle = 'rgba(120, 20, 20, 0.85)';
      ctx.lineWidth = Math.max(0.08, 1.2 / this.scale);
      ctx.stroke(this.outlines);
    }
    ctx.setTransform(dpr, 0, 0, dpr, 0, 0);
    if (this.selected >= 0) {
      const p = this.pointOf(this.selected), half = Math.max(this.scale / 2, 4);
      ctx.strokeStyle = '#e0007a';
      ctx.lineWidth = 2;
      ctx.strokeRect(p.x - half - 1, p.y - half - 1, 2 * half + 2, 2 * half + 2);
    }
    ctx.font = '12px DejaVu Sans, Arial, sans-serif';
    for (const m of this.markers) {
      const p = this.pointOf(m.cell);
      ctx.fillStyle = m.colour;
      ctx.strokeStyle = 'white';
      ctx.lineWidth = 1.5;
      ctx.beginPath();
      if (m.shape === 'triangle') {
        ctx.moveTo(p.x, p.y - 7); ctx.lineTo(p.x + 6, p.y + 5); ctx.lineTo(p.x - 6, p.y + 5); ctx.closePath();
      } else if (m.shape === 'square') {
        ctx.rect(p.x - 5, p.y - 5, 10, 10);
      } else {
        ctx.arc(p.x, p.y, 5, 0, 2 * Math.PI);
      }
      ctx.fill();
      ctx.stroke();
      ctx.lineWidth = 3;
      ctx.strokeText(m.label, p.x + 9, p.y + 4);
      ctx.fillStyle = '#111';
      ctx.fillText(m.label, p.x + 9, p.y + 4);
    }
  }
  // The colour at a point of the canvas (CSS pixels), as drawn.
  pixel(x, y) {
    const dpr = window.devicePixelRatio || 1;
    return Array.from(this.ctx.getImageData(Math.floor(x * dpr), Math.floor(y * dpr), 1, 1).data);
  }
}
