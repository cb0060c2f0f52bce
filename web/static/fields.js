// Inputs that know their column's width, and the box editor built on them.

import { state } from './api.js';
import { h, svg, chars, show, status } from './dom.js';

export const tooLongText = (col) => `${col.name} holds at most ${col.width} characters`;

// Columns whose values mean numbers, though the catalogue stores them as
// text: 'whole' or 'decimal' as the column table the page is served says.
// The patterns follow the server's rule (a sign, digits, for decimals one
// point), so that what the page lets through the server takes.
const numberKind = (col) => col.number ?? null;
const NUMBER = { whole: /^[+-]?\d+$/, decimal: /^[+-]?(\d+(\.\d*)?|\.\d+)$/ };
export const isNumber = (v, kind) => NUMBER[kind].test(v);

// Inputs for a set of columns: width limits, refusals next to the field, what changed.
export class Fields {
  constructor(columns, onChange) {
    this.cols = new Map(columns.map((c) => [c.name, { ...c, number: numberKind(c) }]));
    this.keepText = false;  // the user's "keep as text": values that are not numbers go as typed
    this.inputs = new Map();
    this.errs = new Map();
    this.base = {};
    this.onChange = onChange;
  }

  input(name, { multiline = false, errEl = null, label = name } = {}) {
    const col = this.cols.get(name) || { name, width: null };
    const el = h(multiline ? 'textarea' : 'input', { name, 'aria-label': label, readOnly: state.readOnly, rows: multiline ? 2 : null });
    if (!multiline) el.type = 'text';
    if (col.width) el.maxLength = col.width;
    const err = errEl || h('div', { class: 'err', id: 'err-' + Math.random().toString(36).slice(2) });
    el.setAttribute('aria-describedby', err.id || '');
    // The browser's maxlength stops the text silently; say why it stopped.
    const refuseIfTooLong = (added) => {
      if (!col.width || added == null) return;
      const kept = chars(el.value) - chars(el.value.slice(el.selectionStart, el.selectionEnd));
      if (kept + chars(added) > col.width) {
        el.refused = true;
        this.error(name, tooLongText(col) + '; the rest was not taken.');
      }
    };
    el.addEventListener('beforeinput', (e) => { if (e.inputType.startsWith('insert') && e.inputType !== 'insertFromPaste') refuseIfTooLong(e.data); });
    el.addEventListener('paste', (e) => refuseIfTooLong(e.clipboardData && e.clipboardData.getData('text')));
    el.addEventListener('input', () => {
      // A refusal of what was just typed stays in sight until the next edit.
      if (!el.refused) this.check(name);
      el.refused = false;
      el.classList.toggle('changed', this.value(name) !== this.base[name]);
      if (this.onChange) this.onChange(name);
    });
    this.inputs.set(name, el);
    this.errs.set(name, err);
    return el;
  }

  field(name, opts = {}) {
    const col = this.cols.get(name) || { name, width: null };
    const el = this.input(name, opts);
    return h('div', { class: 'field' + (opts.wide ? ' wide' : '') },
      h('label', { for: 'f-' + name }, h('span', { class: 'name' }, opts.label || name),
        h('span', {}, col.width ? `≤ ${col.width}` : 'long text')),
      Object.assign(el, { id: 'f-' + name }), this.errs.get(name));
  }

  value(name) {
    const v = this.inputs.get(name).value;
    return v === '' && this.base[name] == null ? this.base[name] ?? null : v;
  }

  values() {
    return Object.fromEntries([...this.inputs.keys()].map((n) => [n, this.value(n)]));
  }

  set(values, asBase = true) {
    // Every input has a base value, null when `values` has none: an
    // untouched empty input then reads as unchanged (value() gives null).
    if (asBase) this.base = { ...Object.fromEntries([...this.inputs.keys()].map((n) => [n, null])), ...values };
    for (const [n, el] of this.inputs) {
      el.value = show(values[n]);
      el.classList.toggle('changed', !asBase && this.value(n) !== this.base[n]);
    }
    this.clearErrors();
  }

  error(name, text) {
    const el = this.inputs.get(name);
    const err = this.errs.get(name);
    if (!el) return false;
    el.setAttribute('aria-invalid', 'true');
    err.textContent = text;
    return true;
  }

  check(name) {
    const col = this.cols.get(name);
    const v = this.inputs.get(name).value;
    const el = this.inputs.get(name);
    if (col && col.width && chars(v) > col.width) return !this.error(name, `${tooLongText(col)}; this is ${chars(v)}.`);
    if (col && col.number && !this.keepText && v.trim() !== '' && !isNumber(v, col.number))
      return !this.error(name, `${name}: “${v}” is not a ${col.number === 'whole' ? 'whole number' : 'number (with a point for decimals)'}.`);
    if (el.getAttribute('aria-invalid')) { el.removeAttribute('aria-invalid'); this.errs.get(name).textContent = ''; }
    return true;
  }

  validate() {
    let ok = true;
    for (const n of this.inputs.keys()) ok = this.check(n) && ok;
    return ok;
  }

  clearErrors() {
    for (const [n, el] of this.inputs) { el.removeAttribute('aria-invalid'); this.errs.get(n).textContent = ''; }
  }

  dirty() {
    return [...this.inputs.keys()].some((n) => this.value(n) !== this.base[n]);
  }

  focusFirstError() {
    const el = [...this.inputs.values()].find((i) => i.getAttribute('aria-invalid'));
    if (el) el.focus();
  }
}

// A check box that lets values that are not numbers go as text in every one of `fieldSets`.
export function keepTextBox(...fieldSets) {
  const box = h('input', { type: 'checkbox' });
  box.addEventListener('change', () => fieldSets.forEach((f) => { f.keepText = box.checked; f.validate(); }));
  const el = h('label', { class: 'keep', title: 'The catalogue stores these values as text; keep ones that are not numbers' }, box, ' keep as text');
  el.checked = () => box.checked;
  return el;
}

// ---- box values and their sketch -------------------------------------------------

export const BOX_SIDES = [['RIGHT', 'right'], ['LEFT', 'left'], ['TOP', 'top'], ['BOTTOM', 'bottom'], ['SPLIT_TOP', 'split top'], ['SPLIT_BOTTOM', 'split bottom']];
export const isBoxColumn = (n) => /^(METRIC_)?BOX_/.test(n);

// The box drawn to scale when its four sides are numbers, else as a plain outline;
// each side labelled with its value and metric twin.
export function boxSketch(v) {
  const num = (k) => parseFloat(v['BOX_' + k]);
  const [l, r, t, b, st, sb] = ['LEFT', 'RIGHT', 'TOP', 'BOTTOM', 'SPLIT_TOP', 'SPLIT_BOTTOM'].map(num);
  const label = (k) => `${show(v['BOX_' + k]) || '–'} / ${show(v['METRIC_BOX_' + k]) || '–'}`;
  let w = 60, ht = 120;
  const scaled = r > l && t > b;
  if (scaled) {
    const k = Math.min(80 / (r - l), 120 / (t - b));
    w = Math.max(24, (r - l) * k); ht = Math.max(24, (t - b) * k);
  }
  const x0 = 105 - w / 2, y0 = 30 + (120 - ht) / 2, y1 = y0 + ht;
  const yOf = (val, dflt) => (scaled && val > b && val < t ? y1 - ((val - b) / (t - b)) * ht : y0 + dflt * ht);
  const g = svg('svg', { class: 'sketch', viewBox: '0 0 300 180', role: 'img', 'aria-label': 'Box sketch' });
  g.append(svg('rect', { class: 'box', x: x0, y: y0, width: w, height: ht }));
  const text = (x, y, anchor, s, cls = '') => g.append(svg('text', { x, y, 'text-anchor': anchor, class: cls }, s));
  const ySt = yOf(st, 0.15), ySb = yOf(sb, 0.85);
  for (const [y, k, dy] of [[ySt, 'SPLIT_TOP', -3], [ySb, 'SPLIT_BOTTOM', 10]]) {
    g.append(svg('line', { class: 'split', x1: x0, x2: x0 + w + 6, y1: y, y2: y }));
    text(x0 + w + 8, y + dy + (dy < 0 ? 0 : -3), 'start', (k === 'SPLIT_TOP' ? 'split top ' : 'split bottom ') + label(k), 's');
  }
  text(105, y0 - 6, 'middle', 'top ' + label('TOP'));
  text(105, y1 + 14, 'middle', 'bottom ' + label('BOTTOM'));
  text(x0 - 5, (y0 + y1) / 2 - 2, 'end', 'left');
  text(x0 - 5, (y0 + y1) / 2 + 10, 'end', label('LEFT'));
  text(x0 + w + 5, (y0 + y1) / 2 - 2, 'start', 'right');
  text(x0 + w + 5, (y0 + y1) / 2 + 10, 'start', label('RIGHT'));
  return g;
}

// The twelve box inputs as a table (value and metric twin per side) beside the sketch.
export function boxEditor(fields, prefix = '') {
  const err = h('div', { class: 'err field', id: 'err-box-' + Math.random().toString(36).slice(2) });
  const pic = h('div', {});
  const table = h('table', {},
    h('tr', {}, h('th', {}, ''), h('th', {}, 'value'), h('th', {}, 'metric')),
    BOX_SIDES.map(([k, text]) => h('tr', {}, h('th', {}, text),
      ['BOX_', 'METRIC_BOX_'].map((p) => h('td', {}, fields.input(p + k, { errEl: err, label: `${prefix}${p}${k}` }))))));
  const redraw = () => pic.replaceChildren(boxSketch(Object.fromEntries([...fields.inputs].map(([n, el]) => [n, el.value]))));
  // Each metric value from its inch twin, only when asked and only where
  // the inch value is a number; the others are named and left alone.
  const metricFromInch = () => {
    const filled = [], skipped = [];
    for (const [k] of BOX_SIDES) {
      const inch = fields.inputs.get('BOX_' + k).value, metric = fields.inputs.get('METRIC_BOX_' + k);
      if (inch.trim() === '') continue;
      if (!isNumber(inch, 'decimal')) { skipped.push('BOX_' + k); continue; }
      metric.value = String(Number((Number(inch) * 25.4).toFixed(4)));
      metric.dispatchEvent(new Event('input'));
      filled.push('METRIC_BOX_' + k);
    }
    status(`${filled.length} metric values filled from inch (× 25.4)` + (skipped.length ? `; not a number: ${skipped.join(', ')}` : '') + '.', skipped.length > 0);
  };
  const button = state.readOnly ? null : h('button', { type: 'button', class: 'small', title: 'METRIC_BOX_… = BOX_… × 25.4 for each side', onclick: metricFromInch }, 'Metric from inch');
  return { el: h('div', { class: 'box-editor' }, h('div', {}, table, err, button), pic), redraw };
}
