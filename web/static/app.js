// The catalogue editor: one page, hash routes, plain DOM.  Catalogue data is
// only ever placed with textContent / value / setAttribute, never as markup.
'use strict';

const state = { session: '', token: '', readOnly: false, name: '', tree: null, indexWidths: {}, open: new Set() };
const $ = (sel, root = document) => root.querySelector(sel);

function h(tag, attrs, ...children) {
  const el = document.createElement(tag);
  for (const [k, v] of Object.entries(attrs || {})) {
    if (v == null || v === false) continue;
    if (k.startsWith('on')) el.addEventListener(k.slice(2), v);
    else if (k === 'class') el.className = v;
    else if (k === 'text') el.textContent = v;
    else if (k === 'value' || k === 'maxLength' || k === 'readOnly' || k === 'disabled') el[k] = v;
    else el.setAttribute(k, v === true ? '' : String(v));
  }
  for (const c of children.flat(Infinity)) if (c != null && c !== false) el.append(c instanceof Node ? c : String(c));
  return el;
}

function svg(tag, attrs, text) {
  const el = document.createElementNS('http://www.w3.org/2000/svg', tag);
  for (const [k, v] of Object.entries(attrs || {})) el.setAttribute(k, String(v));
  if (text != null) el.textContent = text;
  return el;
}

const chars = (s) => [...(s ?? '')].length;
const show = (v) => (v == null ? '' : String(v));

// ---- the server --------------------------------------------------------------

class ApiError extends Error {
  constructor(status, data) {
    super((data && data.error) || `The server answered ${status}.`);
    this.status = status;
    this.data = data || {};
  }
}

async function api(method, path, body) {
  const headers = { Accept: 'application/json' };
  if (state.session) headers['X-Kiv-Session'] = state.session;
  if (state.token) headers.Authorization = 'Bearer ' + state.token;
  const init = { method, headers };
  if (body !== undefined) {
    headers['Content-Type'] = 'application/json';
    init.body = typeof body === 'string' ? body : JSON.stringify(body);
  }
  let res;
  try { res = await fetch(path, init); } catch { throw new ApiError(0, { error: 'The server cannot be reached.' }); }
  if (path === '/api/export' && res.ok) return res.blob();
  const text = await res.text();
  let data = null;
  try { data = text ? JSON.parse(text) : null; } catch { data = { error: text }; }
  if (!res.ok) throw new ApiError(res.status, data);
  return data;
}

const query = (o) => '?' + new URLSearchParams(Object.entries(o).filter(([, v]) => v != null)).toString();

// ---- routes ------------------------------------------------------------------

const enc = encodeURIComponent;
function href(m, s, t, code) {
  let r = '#/m/' + enc(m);
  if (s != null) r += '/s/' + enc(s);
  if (t != null) r += '/t/' + enc(t);
  if (code != null) r += '/' + enc(code);
  return r;
}

function parseRoute(hash) {
  let p;
  try { p = hash.replace(/^#\/?/, '').split('/').map(decodeURIComponent); } catch { return { view: 'home' }; }
  if (p[0] === 'styles') return { view: 'styles' };
  if (p[0] === 'history') return { view: 'history' };
  if (p[0] !== 'm' || p.length < 2) return { view: 'home' };
  const r = { view: 'manufacturer', m: p[1] };
  if (p[2] === 's' && p.length >= 4) Object.assign(r, { view: 'series', s: p[3] });
  if (r.s != null && p[4] === 't' && p.length >= 6) Object.assign(r, { view: 'type', t: p[5] });
  if (r.t != null && p.length >= 7) Object.assign(r, { view: 'module', code: p.slice(6).join('/') });
  return r;
}

// ---- small pieces --------------------------------------------------------------

let statusTimer;
function status(text, bad = false) {
  const el = $('#status');
  el.textContent = text;
  el.className = 'status show' + (bad ? ' bad' : '');
  clearTimeout(statusTimer);
  statusTimer = setTimeout(() => { el.className = 'status'; }, bad ? 6000 : 2500);
}

// A refusal speaks of the page it came from; once the user has gone elsewhere it only misleads.
// Good news ("Removed.") is often given just before the page changes, so it stays.
function dropRefusal() {
  const el = $('#status');
  if (el.classList.contains('bad')) { clearTimeout(statusTimer); el.className = 'status'; }
}

function crumbs(r) {
  const parts = [h('a', { href: '#/' }, 'Catalogue')];
  if (r.m != null) parts.push(h('a', { href: href(r.m) }, r.m));
  if (r.s != null) parts.push(h('a', { href: href(r.m, r.s) }, r.s));
  if (r.t != null && r.code != null) parts.push(h('a', { href: href(r.m, r.s, r.t) }, r.t));
  return h('div', { class: 'crumbs' }, parts.flatMap((a, i) => (i ? [h('span', { class: 'sep' }, '›'), a] : [a])));
}

function heading(title, sub, ...actions) {
  return h('div', { class: 'head' }, h('h1', {}, title), sub ? h('span', { class: 'sub' }, sub) : null,
    h('div', { class: 'actions' }, actions));
}

const editButton = (text, onclick, cls = '') => (state.readOnly ? null : h('button', { type: 'button', class: cls, onclick }, text));

function notice(kind, title, ...body) {
  return h('div', { class: 'notice ' + kind, role: kind === 'bad' ? 'alert' : null }, h('h3', {}, title), body);
}

function rowsTable(columns, rows) {
  return h('table', {},
    h('tr', {}, columns.map((c) => h('th', {}, c))),
    rows.map((r) => h('tr', {}, columns.map((c) => h('td', {}, show(r[c]))))));
}

// ---- fields that know their column's width --------------------------------------

const tooLongText = (col) => `${col.name} holds at most ${col.width} characters`;

// Inputs for a set of columns: width limits, refusals next to the field, what changed.
class Fields {
  constructor(columns, onChange) {
    this.cols = new Map(columns.map((c) => [c.name, c]));
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

// ---- box values and their sketch -------------------------------------------------

const BOX_SIDES = [['RIGHT', 'right'], ['LEFT', 'left'], ['TOP', 'top'], ['BOTTOM', 'bottom'], ['SPLIT_TOP', 'split top'], ['SPLIT_BOTTOM', 'split bottom']];
const isBoxColumn = (n) => /^(METRIC_)?BOX_/.test(n);

// The box drawn to scale when its four sides are numbers, else as a plain outline;
// each side labelled with its value and metric twin.
function boxSketch(v) {
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
function boxEditor(fields, prefix = '') {
  const err = h('div', { class: 'err field', id: 'err-box-' + Math.random().toString(36).slice(2) });
  const pic = h('div', {});
  const table = h('table', {},
    h('tr', {}, h('th', {}, ''), h('th', {}, 'value'), h('th', {}, 'metric')),
    BOX_SIDES.map(([k, text]) => h('tr', {}, h('th', {}, text),
      ['BOX_', 'METRIC_BOX_'].map((p) => h('td', {}, fields.input(p + k, { errEl: err, label: `${prefix}${p}${k}` }))))));
  const redraw = () => pic.replaceChildren(boxSketch(Object.fromEntries([...fields.inputs].map(([n, el]) => [n, el.value]))));
  return { el: h('div', { class: 'box-editor' }, h('div', {}, table, err), pic), redraw };
}

// ---- dialogs -----------------------------------------------------------------------

// A modal form; `action` runs on submit and the dialog stays open (input kept) when it fails.
// `cancel: null` for a dialog that only tells: one button closes it.
function openDialog({ title, text, fields = [], columns = [], confirm = 'OK', cancel = 'Cancel', danger = false, action }) {
  const dlg = $('#dialog');
  const f = new Fields(columns);
  const general = h('div', {});
  const form = h('form', { method: 'dialog' }, h('h3', {}, title), text ? h('p', {}, text) : null,
    fields.map(([name, label, value]) => { const el = f.field(name, { label }); return el; }),
    general,
    h('div', { class: 'buttons' },
      cancel ? h('button', { type: 'button', onclick: () => dlg.close() }, cancel) : null,
      h('button', { type: 'submit', class: danger ? 'danger' : 'primary' }, confirm)));
  f.set(Object.fromEntries(fields.map(([n, , v]) => [n, v ?? ''])));
  dlg.replaceChildren(form);
  return new Promise((resolve) => {
    dlg.onclose = () => resolve(null);
    form.addEventListener('submit', async (e) => {
      e.preventDefault();
      general.replaceChildren();
      if (!f.validate()) return f.focusFirstError();
      try {
        const result = await action(f.values());
        dlg.onclose = null;
        dlg.close();
        resolve(result ?? true);
      } catch (err) {
        if (!(err.data && f.error(err.data.field, err.message))) general.replaceChildren(notice('bad', 'Not done', err.message));
      }
    });
    dlg.showModal();
    (form.querySelector('input') || form.querySelector('button[type=submit]')).focus();
  });
}

function plural(n, one, many = one + 's') { return `${n} ${n === 1 ? one : many}`; }

async function confirmRemove(what, r, extra) {
  const impact = extra || await api('GET', '/api/impact' + query({ m: r.m, s: r.s, t: r.t }));
  const goes = [];
  if (r.t == null && impact.types) goes.push(plural(impact.types, 'type'));
  if (impact.modules != null) goes.push(plural(impact.modules, 'module'));
  goes.push(plural(impact.terminals || 0, 'terminal row'));
  return openDialog({
    title: `Remove ${what}?`, danger: true, confirm: 'Remove',
    text: `This also removes ${goes.join(', ')}. The removal can be undone from the history (Recent changes).`,
    action: () => api('POST', r.code != null ? '/api/module/remove' : '/api/index/remove', r),
  });
}

// ---- tree --------------------------------------------------------------------------

const sum = (xs, f) => xs.reduce((a, x) => a + f(x), 0);
const seriesCount = (s) => sum(s.types, (t) => t.modules || 0);
const makerCount = (m) => sum(m.series, seriesCount);

async function loadTree() {
  const tree = await api('GET', '/api/tree');
  state.tree = tree.manufacturers;
  for (const c of tree.columns || []) state.indexWidths[c.name] = c.width;
  renderTree();
}

function renderTree() {
  const r = parseRoute(location.hash);
  const key = (...k) => k.join('\u0000');
  if (r.m != null) state.open.add(key(r.m));
  if (r.s != null) state.open.add(key(r.m, r.s));
  const node = (link, count, current, leaf = false, badge = null) => h('span', { class: 'node' + (current ? ' current' : '') },
    h('span', { class: 'twisty', 'aria-hidden': 'true' }, leaf ? '' : '▶'), link,
    h('span', { class: 'count' }, count.toLocaleString()), badge);
  const branch = (k, summary, children) => {
    const d = h('details', { open: state.open.has(k) }, h('summary', {}, summary), h('ul', {}, children));
    d.addEventListener('toggle', () => (d.open ? state.open.add(k) : state.open.delete(k)));
    return h('li', {}, d);
  };
  const ul = h('ul', {}, state.tree.map((m) => branch(key(m.name),
    node(h('a', { href: href(m.name) }, m.name), makerCount(m), r.view === 'manufacturer' && r.m === m.name),
    m.series.map((s) => branch(key(m.name, s.name),
      node(h('a', { href: href(m.name, s.name) }, s.name), seriesCount(s), r.view === 'series' && r.m === m.name && r.s === s.name),
      s.types.map((t) => h('li', {}, node(h('a', { href: href(m.name, s.name, t.name) }, t.name), t.modules || 0,
        r.m === m.name && r.s === s.name && r.t === t.name, true,
        t.tablesMissing ? h('span', { class: 'badge bad', title: 'The type is listed but its tables are not in the catalogue' }, 'tables missing') : null))))))));
  if (!state.tree.length) ul.append(h('li', { class: 'empty' }, 'The catalogue has no manufacturers yet.'));
  $('#tree').replaceChildren(ul);
  const cur = $('#tree .current');
  if (cur) cur.scrollIntoView({ block: 'nearest' });
}

const findMaker = (m) => state.tree.find((x) => x.name === m);
const findSeries = (m, s) => (findMaker(m)?.series || []).find((x) => x.name === s);

// Index forms: the name's column width comes with the tree.
const indexColumns = () => ['MANUFACTURER', 'SERIES', 'TYPE'].map((n) => ({ name: n, width: state.indexWidths[n] ?? 255 }));
const LEVEL = { m: ['MANUFACTURER', 'manufacturer'], s: ['SERIES', 'series'], t: ['TYPE', 'type'] };

async function addIndex(r, level) {
  const [col, word] = LEVEL[level];
  const done = await openDialog({
    title: `Add a ${word}` + (level === 'm' ? '' : ` to ${level === 's' ? r.m : r.s}`), confirm: 'Add',
    columns: indexColumns(), fields: [[col, 'Name']],
    action: async (v) => { const body = { ...r, [level]: v[col] }; await api('POST', '/api/index/add', body); return body; },
  });
  if (!done) return;
  await loadTree();
  location.hash = href(done.m, done.s, done.t);
}

async function renameIndex(r, level) {
  const [col, word] = LEVEL[level];
  const done = await openDialog({
    title: `Rename ${word} “${r[level]}”`, confirm: 'Rename', columns: indexColumns(), fields: [[col, 'New name', r[level]]],
    action: async (v) => { await api('POST', '/api/index/rename', { m: r.m, s: r.s, t: r.t, to: v[col] }); return { ...r, [level]: v[col] }; },
  });
  if (!done) return;
  await loadTree();
  location.replace(href(done.m, done.s, done.t));
}

async function removeIndex(r, level) {
  if (!await confirmRemove(`${LEVEL[level][1]} “${r[level]}”`, r)) return;
  await loadTree();
  location.hash = level === 'm' ? '#/' : href(r.m, level === 't' ? r.s : null);
  status('Removed.');
}

const guarded = (f) => async (...a) => { try { await f(...a); } catch (e) { status(e.message, true); } };

// ---- views ------------------------------------------------------------------------

function viewHome() {
  const ms = state.tree;
  const series = sum(ms, (m) => m.series.length), types = sum(ms, (m) => sum(m.series, (s) => s.types.length));
  return [
    heading(state.name || 'Catalogue', `${plural(ms.length, 'manufacturer')} · ${plural(series, 'series', 'series')} · ${plural(types, 'type')} · ${plural(sum(ms, makerCount), 'module')}`,
      editButton('Add manufacturer', guarded(() => addIndex({}, 'm')), 'primary')),
    ms.length ? h('table', { class: 'grid' },
      h('thead', {}, h('tr', {}, h('th', {}, 'Manufacturer'), h('th', { class: 'num' }, 'Series'), h('th', { class: 'num' }, 'Modules'))),
      h('tbody', {}, ms.map((m) => h('tr', {}, h('td', {}, h('a', { href: href(m.name) }, m.name)),
        h('td', { class: 'num' }, m.series.length), h('td', { class: 'num' }, makerCount(m).toLocaleString())))))
      : h('p', { class: 'empty' }, 'Nothing here yet: add a manufacturer, or import a catalogue document.'),
  ];
}

function viewManufacturer(r) {
  const m = findMaker(r.m);
  if (!m) return [crumbs({}), notice('bad', 'Not in the catalogue', `There is no manufacturer “${r.m}”.`)];
  return [crumbs({}),
    heading(m.name, plural(m.series.length, 'series', 'series'),
      editButton('Add series', guarded(() => addIndex(r, 's')), 'primary'),
      editButton('Rename', guarded(() => renameIndex(r, 'm'))),
      editButton('Remove', guarded(() => removeIndex(r, 'm')), 'danger')),
    h('table', { class: 'grid' },
      h('thead', {}, h('tr', {}, h('th', {}, 'Series'), h('th', { class: 'num' }, 'Types'), h('th', { class: 'num' }, 'Modules'))),
      h('tbody', {}, m.series.map((s) => h('tr', {}, h('td', {}, h('a', { href: href(m.name, s.name) }, s.name)),
        h('td', { class: 'num' }, s.types.length), h('td', { class: 'num' }, seriesCount(s).toLocaleString())))))];
}

function viewSeries(r) {
  const s = findSeries(r.m, r.s);
  if (!s) return [crumbs({ m: r.m }), notice('bad', 'Not in the catalogue', `There is no series “${r.s}” of “${r.m}”.`)];
  return [crumbs({ m: r.m }),
    heading(s.name, plural(s.types.length, 'type'),
      editButton('Add type', guarded(() => addIndex(r, 't')), 'primary'),
      editButton('Rename', guarded(() => renameIndex(r, 's'))),
      editButton('Remove', guarded(() => removeIndex(r, 's')), 'danger')),
    h('table', { class: 'grid' },
      h('thead', {}, h('tr', {}, h('th', {}, 'Type'), h('th', {}, 'Table'), h('th', { class: 'num' }, 'Modules'))),
      h('tbody', {}, s.types.map((t) => h('tr', {}, h('td', {}, h('a', { href: href(r.m, s.name, t.name) }, t.name)),
        h('td', { class: 'mono' }, t.table, t.tablesMissing ? [' ', h('span', { class: 'badge bad' }, 'tables missing')] : null),
        h('td', { class: 'num' }, (t.modules || 0).toLocaleString())))))];
}

const LIST_COLUMNS = ['CODE', 'POINTS', 'TYPE', 'DESCRIPTION', 'RATING'];

async function viewType(r) {
  const data = await api('GET', '/api/type' + query({ m: r.m, s: r.s, t: r.t }));
  const sort = { col: 'CODE', dir: 1 };
  const filter = h('input', { type: 'search', placeholder: 'Filter these modules', 'aria-label': 'Filter these modules', class: 'filter' });
  const tbody = h('tbody', {});
  const heads = LIST_COLUMNS.map((c) => h('th', { 'aria-sort': 'none', class: c === 'POINTS' ? 'num' : null },
    h('button', { type: 'button', class: 'sort', onclick: () => { sort.dir = sort.col === c ? -sort.dir : 1; sort.col = c; fill(); } }, c)));
  const collator = new Intl.Collator(undefined, { numeric: true, sensitivity: 'base' });
  function fill() {
    const q = filter.value.trim().toLowerCase();
    const rows = data.modules.filter((m) => !q || LIST_COLUMNS.some((c) => show(m[c]).toLowerCase().includes(q)))
      .sort((a, b) => sort.dir * collator.compare(show(a[sort.col]), show(b[sort.col])));
    heads.forEach((th, i) => th.setAttribute('aria-sort', LIST_COLUMNS[i] === sort.col ? (sort.dir > 0 ? 'ascending' : 'descending') : 'none'));
    tbody.replaceChildren(...rows.map((m) => h('tr', {},
      h('td', { class: 'code' }, h('a', { href: href(r.m, r.s, r.t, m.CODE) }, m.CODE)),
      h('td', { class: 'num' }, show(m.POINTS)), h('td', {}, show(m.TYPE)), h('td', {}, show(m.DESCRIPTION)), h('td', {}, show(m.RATING)))));
    if (!rows.length) tbody.append(h('tr', {}, h('td', { colspan: 5, class: 'empty' }, data.modules.length ? 'No module matches the filter.' : 'This type has no modules yet.')));
  }
  filter.addEventListener('input', fill);
  fill();
  const addModule = guarded(async () => {
    const done = await openDialog({
      title: `Add a module to ${r.t}`, confirm: 'Add', columns: data.columns,
      fields: LIST_COLUMNS.map((c) => [c, c]),
      action: async (v) => { await api('POST', '/api/module/add', { m: r.m, s: r.s, t: r.t, module: v }); return v; },
    });
    if (!done) return;
    await loadTree();
    location.hash = href(r.m, r.s, r.t, done.CODE);
  });
  const type = findSeries(r.m, r.s)?.types.find((t) => t.name === r.t);
  return [crumbs({ m: r.m, s: r.s }),
    heading(r.t, `${plural(data.modules.length, 'module')} · table ${data.table}`,
      editButton('Add module', addModule, 'primary'),
      editButton('Rename', guarded(() => renameIndex(r, 't'))),
      editButton('Remove', guarded(() => removeIndex(r, 't')), 'danger')),
    type && type.tablesMissing ? notice('warn', 'Tables missing', `The index lists this type, but its table ${type.table} or its terminal table is not in the catalogue.`) : null,
    h('div', { class: 'savebar' }, filter),
    h('table', { class: 'grid' }, h('thead', {}, h('tr', {}, heads)), tbody)];
}

// A refusal of a stale save: what is stored now next to what the user typed; the input stays.
function conflict(where, text, table, { overwrite, reload }) {
  where.replaceChildren(notice('bad', 'Not saved: someone else changed this in the meantime',
    h('p', {}, text), table,
    h('div', { class: 'actions' },
      h('button', { type: 'button', class: 'danger', onclick: overwrite }, 'Save mine over theirs'),
      h('button', { type: 'button', onclick: reload }, 'Discard mine, show theirs'))));
  where.scrollIntoView({ block: 'nearest' });
}

// Shows a refusal next to its field when it names one, else above the form.
function refusal(where, fields, e) {
  if (!(e.data && e.data.field && fields && fields.error(e.data.field, e.message))) {
    where.replaceChildren(notice('bad', e.status === 403 ? 'Not allowed' : 'Not saved', e.message));
  } else {
    fields.focusFirstError();
  }
  status('Not saved: ' + e.message, true);
}

const GROUPS = [
  ['Module', ['CODE', 'POINTS', 'TYPE', 'RATING', 'CATEGORY', 'DESCRIPTION']],
  ['Address and drawing', ['ADDRESS_BASE', 'ADDRESS_FORMAT', 'OPTIONAL_BLOCK', 'LISP']],
];

async function viewModule(r) {
  const data = await api('GET', '/api/module' + query({ m: r.m, s: r.s, t: r.t, code: r.code }));
  const ctx = { code: data.module.CODE };
  const names = data.columns.map((c) => c.name);
  const box = new Fields(data.columns.filter((c) => isBoxColumn(c.name)), () => boxEd.redraw());
  const spec = new Fields(data.columns.filter((c) => !isBoxColumn(c.name)));
  const boxEd = boxEditor(box);
  const grouped = new Set(GROUPS.flatMap(([, ns]) => ns));
  const others = names.filter((n) => !grouped.has(n) && !isBoxColumn(n));
  const sets = [...GROUPS, ['Other', others]].map(([title, ns]) => [title, ns.filter((n) => names.includes(n))]).filter(([, ns]) => ns.length);
  const specMsg = h('div', {});
  const setModule = (mod) => { spec.set(mod); box.set(mod); boxEd.redraw(); subtitle.textContent = show(mod.DESCRIPTION); };
  const title = h('h1', {}, ctx.code);
  const subtitle = h('span', { class: 'sub' });

  async function saveModule(base) {
    specMsg.replaceChildren();
    if (!(spec.validate() & box.validate())) { spec.focusFirstError(); box.focusFirstError(); status('Not saved: a value is too long for its column.', true); return; }
    const module = { ...spec.values(), ...box.values() };
    try {
      await api('POST', '/api/module/save', { m: r.m, s: r.s, t: r.t, code: ctx.code, base: base || { ...spec.base, ...box.base }, module });
    } catch (e) {
      if (e.status !== 409) return refusal(specMsg, e.data && box.inputs.has(e.data.field) ? box : spec, e);
      // The stored row as the server tells it, keyed as this page loaded it.
      const cur = { CODE: ctx.code, ...(e.data.current || {}) };
      const differs = names.filter((n) => show(cur[n]) !== show(module[n]));
      conflict(specMsg, 'Your edits are kept in the form below. The stored values now are:',
        h('table', {}, h('tr', {}, h('th', {}, 'Field'), h('th', {}, 'Stored now'), h('th', {}, 'Yours')),
          differs.map((n) => h('tr', {}, h('th', {}, n), h('td', {}, show(cur[n])), h('td', {}, show(module[n]))))), {
          overwrite: () => saveModule(cur),
          reload: () => { specMsg.replaceChildren(); setModule(cur); },
        });
      status('Not saved: someone else changed this module.', true);
      return;
    }
    const fresh = await api('GET', '/api/module' + query({ m: r.m, s: r.s, t: r.t, code: module.CODE ?? ctx.code }));
    if (fresh.module.CODE !== ctx.code) {
      ctx.code = fresh.module.CODE;
      title.textContent = ctx.code;
      history.replaceState(null, '', href(r.m, r.s, r.t, ctx.code));
      currentHash = location.hash;
    }
    setModule(fresh.module);
    status('Saved.');
  }

  const specSection = h('section', { class: 'spec' },
    specMsg,
    sets.map(([legend, ns]) => h('fieldset', {}, h('legend', {}, legend),
      h('div', { class: 'form' }, ns.map((n) => spec.field(n, { wide: n === 'DESCRIPTION' || n === 'LISP', multiline: n === 'LISP' }))))),
    h('fieldset', { class: 'box' }, h('legend', {}, 'Box'), boxEd.el),
    state.readOnly ? null : h('div', { class: 'savebar' },
      h('button', { type: 'button', class: 'primary', onclick: () => saveModule() }, 'Save module'),
      h('button', { type: 'button', onclick: () => { specMsg.replaceChildren(); setModule({ ...spec.base, ...box.base }); } }, 'Revert'),
      h('span', { class: 'hint' }, 'Ctrl+S saves. A changed CODE re-keys the module and its terminal rows.')));
  specSection._save = () => saveModule();
  specSection._dirty = () => spec.dirty() || box.dirty();
  setModule(data.module);

  const removeModule = guarded(async () => {
    const rr = { m: r.m, s: r.s, t: r.t, code: ctx.code };
    if (!await confirmRemove(`module “${ctx.code}”`, rr, { terminals: terms.count() })) return;
    await loadTree();
    location.hash = href(r.m, r.s, r.t);
    status('Removed.');
  });
  const terms = terminalGrid(r, ctx, data.terminals, data.terminalColumns);
  return [crumbs({ m: r.m, s: r.s, t: r.t, code: ctx.code }),
    h('div', { class: 'head' }, title, subtitle,
      h('div', { class: 'actions' }, editButton('Remove module', removeModule, 'danger'))),
    h('h2', {}, 'Specification'), specSection,
    h('h2', {}, 'Terminal rows', h('span', { class: 'badge' }, terms.countText),
      h('div', { class: 'actions' }, terms.actions)),
    terms.el,
    h('h2', {}, 'History'), moduleHistory({ m: r.m, s: r.s, t: r.t, code: ctx.code })];
}

// The terminal rows as an editable grid; saved as a whole.
function terminalGrid(r, ctx, rows, columns) {
  const widths = Object.fromEntries(columns.map((c) => [c.name, c.width]));
  const msg = h('div', {});
  const tbody = h('tbody', {});
  const countText = h('span', {});
  let base = rows;

  const refuse = (el, text) => { el.setAttribute('aria-invalid', 'true'); el.title = text; return text; };
  function rowEl(row) {
    const tr = h('tr', {});
    tr._row = row;
    const cell = (name, cls) => {
      const f = new Fields([{ name, width: widths[name] }]);
      const el = f.input(name, { label: `${name} of row ${show(row.SEQUENCE)}` });
      if (name === 'SEQUENCE') { el.type = 'number'; el.min = 1; el.max = 32767; el.className = 'mono'; }
      el.value = show(row[name]);
      el.addEventListener('input', () => { el.classList.add('changed'); count(); });
      tr['_' + name] = f;
      return h('td', { class: cls }, el, f.errs.get(name));
    };
    const move = (d) => {
      const sib = d < 0 ? tr.previousElementSibling : tr.nextElementSibling;
      if (!sib) return;
      d < 0 ? sib.before(tr) : sib.after(tr);
      tr.querySelector(`button[data-move="${d}"]`).focus();
      tr._SEQUENCE.inputs.get('SEQUENCE').classList.add('changed');
    };
    tr.append(cell('SEQUENCE', 'seq'), cell('BLOCK', 'block'), cell('ATTRIBUTES', 'attrs'),
      h('td', { class: 'tools' }, state.readOnly ? null : [
        h('button', { type: 'button', class: 'icon', 'data-move': -1, title: 'Move up', 'aria-label': 'Move row up', onclick: () => move(-1) }, '↑'),
        h('button', { type: 'button', class: 'icon', 'data-move': 1, title: 'Move down', 'aria-label': 'Move row down', onclick: () => move(1) }, '↓'),
        h('button', { type: 'button', class: 'icon', title: 'Remove row', 'aria-label': 'Remove row', onclick: () => { const n = tr.nextElementSibling || tr.previousElementSibling; tr.remove(); dirtyRemoved = true; count(); if (n) n.querySelector('input').focus(); } }, '✕')]));
    return tr;
  }
  let dirtyRemoved = false;
  const trs = () => [...tbody.children].filter((tr) => tr._row);
  function count() {
    countText.textContent = trs().length;
  }
  function load(list) {
    base = list;
    dirtyRemoved = false;
    tbody.replaceChildren(...list.map(rowEl));
    count();
  }
  function collect() {
    let ok = true;
    const seen = new Set();
    const out = trs().map((tr) => {
      const get = (n) => { const f = tr['_' + n]; ok = f.check(n) && ok; return f.inputs.get(n); };
      const seqEl = get('SEQUENCE'), blockEl = get('BLOCK'), attrEl = get('ATTRIBUTES');
      const seq = Number(seqEl.value);
      if (!Number.isInteger(seq) || seq < 1 || seq > 32767 || seqEl.value.trim() === '') ok = !tr._SEQUENCE.error('SEQUENCE', refuse(seqEl, 'SEQUENCE is a whole number from 1 to 32767'));
      else if (seen.has(seq)) ok = !tr._SEQUENCE.error('SEQUENCE', refuse(seqEl, `SEQUENCE ${seq} is used twice`));
      seen.add(seq);
      const keep = (el, n) => (el.value === '' && tr._row[n] == null ? tr._row[n] ?? null : el.value);
      return { SEQUENCE: seq, BLOCK: keep(blockEl, 'BLOCK'), ATTRIBUTES: keep(attrEl, 'ATTRIBUTES') };
    });
    return ok ? out : null;
  }
  async function save(over) {
    msg.replaceChildren();
    const list = collect();
    if (!list) { status('Not saved: see the marked terminal rows.', true); const bad = tbody.querySelector('[aria-invalid]'); if (bad) bad.focus(); return; }
    try {
      await api('POST', '/api/terminals/save', { m: r.m, s: r.s, t: r.t, code: ctx.code, base: over || base, rows: list });
    } catch (e) {
      if (e.status !== 409) return refusal(msg, null, e);
      const cur = e.data.current || [];
      conflict(msg, 'Your rows are kept in the grid below. The stored rows now are:', rowsTable(['SEQUENCE', 'BLOCK', 'ATTRIBUTES'], cur), {
        overwrite: () => save(cur), reload: () => { msg.replaceChildren(); load(cur); },
      });
      status('Not saved: someone else changed these terminal rows.', true);
      return;
    }
    const fresh = await api('GET', '/api/module' + query({ m: r.m, s: r.s, t: r.t, code: ctx.code }));
    load(fresh.terminals);
    status('Terminal rows saved.');
  }
  function addRow() {
    const next = Math.max(0, ...trs().map((tr) => Number(tr._SEQUENCE.inputs.get('SEQUENCE').value) || 0)) + 1;
    // A new row has no stored cells: an empty one is saved as an empty text.
    const tr = rowEl({ SEQUENCE: next, BLOCK: '', ATTRIBUTES: '' });
    tr.querySelectorAll('input').forEach((i) => i.classList.add('changed'));
    tbody.append(tr);
    count();
    tr.querySelector('td.block input').focus();
  }
  function renumber() {
    trs().forEach((tr, i) => {
      const el = tr._SEQUENCE.inputs.get('SEQUENCE');
      if (el.value !== String(i + 1)) { el.value = String(i + 1); el.classList.add('changed'); }
    });
  }
  load(rows);
  const el = h('section', { class: 'terms' }, msg,
    h('table', { class: 'grid terms' },
      h('thead', {}, h('tr', {}, h('th', {}, 'SEQUENCE'), h('th', {}, `BLOCK (≤ ${widths.BLOCK ?? '–'})`),
        h('th', {}, 'ATTRIBUTES' + (widths.ATTRIBUTES ? ` (≤ ${widths.ATTRIBUTES})` : '')), h('th', {}, ''))),
      tbody),
    state.readOnly ? null : h('div', { class: 'savebar' },
      h('button', { type: 'button', class: 'primary', onclick: () => save() }, 'Save terminal rows'),
      h('button', { type: 'button', onclick: () => { msg.replaceChildren(); load(base); } }, 'Revert'),
      h('span', { class: 'hint' }, 'The module\'s rows become the rows of this grid, in its order.')));
  el._save = () => save();
  el._dirty = () => dirtyRemoved || !!tbody.querySelector('.changed');
  const actions = state.readOnly ? [] : [
    h('button', { type: 'button', class: 'small', onclick: addRow }, '+ Add row'),
    h('button', { type: 'button', class: 'small', onclick: renumber, title: 'Number the rows 1, 2, 3 … in the order shown' }, 'Renumber')];
  return { el, actions, countText, count: () => trs().length };
}

async function viewStyles() {
  const data = await api('GET', '/api/styles');
  const cards = [];
  for (let n = 1; n <= 9; n++) {
    let loaded = data.styles.find((s) => s.STYLE === n) || null;
    const fields = new Fields(data.columns.filter((c) => isBoxColumn(c.name)), () => ed.redraw());
    const ed = boxEditor(fields, `style ${n} `);
    const msg = h('div', {});
    fields.set(loaded || {});
    ed.redraw();
    async function save(over) {
      msg.replaceChildren();
      if (!fields.validate()) return fields.focusFirstError();
      const style = fields.values();
      try {
        await api('POST', '/api/style/save', { STYLE: n, base: over || loaded || {}, style });
      } catch (e) {
        if (e.status !== 409) return refusal(msg, fields, e);
        const cur = e.data.current || {};
        conflict(msg, 'Your values are kept below. The stored ones now are:',
          rowsTable(['side', 'value', 'metric'], BOX_SIDES.map(([k, t]) => ({ side: t, value: cur['BOX_' + k], metric: cur['METRIC_BOX_' + k] }))), {
            overwrite: () => save(cur), reload: () => { msg.replaceChildren(); loaded = cur; fields.set(cur); ed.redraw(); },
          });
        return;
      }
      const fresh = (await api('GET', '/api/styles')).styles.find((s) => s.STYLE === n) || null;
      loaded = fresh;
      fields.set(fresh || {});
      ed.redraw();
      status(`Style ${n} saved.`);
    }
    const card = h('section', { class: 'style', 'aria-label': `Style ${n}` },
      h('header', {}, h('h3', {}, `Style ${n}`), loaded ? null : h('span', { class: 'badge' }, 'not defined'),
        h('div', { class: 'actions' }, editButton('Save', () => save(), 'small primary'))),
      msg, ed.el);
    card._save = () => save();
    card._dirty = () => fields.dirty();
    cards.push(card);
  }
  return [heading('Styles', 'Box geometry 1 to 9: each side\'s value and its metric twin'), h('div', { class: 'styles' }, cards)];
}

// ---- rendering and navigation --------------------------------------------------------

let currentHash = location.hash;
let renderSeq = 0;

const isDirty = () => [...document.querySelectorAll('main section')].some((s) => s._dirty && s._dirty());

async function render() {
  const seq = ++renderSeq;
  const r = parseRoute(location.hash);
  const main = $('#main');
  renderTree();
  const views = { home: viewHome, manufacturer: viewManufacturer, series: viewSeries, type: viewType, module: viewModule, styles: viewStyles, history: (rr) => viewRecent(rr) };
  let content;
  try {
    content = await views[r.view](r);
  } catch (e) {
    content = [crumbs(r.code != null ? { m: r.m, s: r.s, t: r.t, code: r.code } : {}),
      notice('bad', e.status === 404 ? 'Not in the catalogue' : 'Cannot show this page', e.message)];
  }
  if (seq !== renderSeq) return;
  main.replaceChildren(...[content].flat().filter(Boolean));
  main.scrollTop = 0;
  const h1 = $('h1', main);
  document.title = `${h1 ? h1.textContent + ' · ' : ''}${state.name || 'PLC catalogue'}`;
}

window.addEventListener('hashchange', () => {
  if (location.hash === currentHash) return;
  if (isDirty() && !window.confirm('This page has changes that are not saved. Leave it and lose them?')) {
    history.replaceState(null, '', currentHash);
    return;
  }
  currentHash = location.hash;
  dropRefusal();
  render();
  $('#main').focus({ preventScroll: true });
});

window.addEventListener('beforeunload', (e) => { if (isDirty()) e.preventDefault(); });

document.addEventListener('keydown', (e) => {
  const typing = /^(INPUT|TEXTAREA|SELECT)$/.test(document.activeElement.tagName);
  if (e.key === '/' && !typing && !e.ctrlKey && !e.metaKey) { e.preventDefault(); $('#find').focus(); }
  if ((e.ctrlKey || e.metaKey) && e.key === 's') {
    e.preventDefault();
    const sec = document.activeElement.closest('main section') || $('main section');
    if (sec && sec._save && !state.readOnly) sec._save();
  }
});

// ---- find --------------------------------------------------------------------------

function setupFind() {
  const input = $('#find'), list = $('#find-results');
  let timer, controller, active = -1;
  const options = () => [...list.querySelectorAll('li[role=option]')];
  const close = () => { list.hidden = true; input.setAttribute('aria-expanded', 'false'); input.removeAttribute('aria-activedescendant'); };
  const mark = (i) => {
    const opts = options();
    active = Math.max(-1, Math.min(i, opts.length - 1));
    opts.forEach((o, j) => o.setAttribute('aria-selected', String(j === active)));
    if (active >= 0) { input.setAttribute('aria-activedescendant', opts[active].id); opts[active].scrollIntoView({ block: 'nearest' }); }
  };
  const go = (o) => { close(); location.hash = o.dataset.href; };
  async function run() {
    const q = input.value.trim();
    if (controller) controller.abort();
    if (!q) return close();
    controller = new AbortController();
    const headers = { Accept: 'application/json', 'X-Kiv-Session': state.session };
    if (state.token) headers.Authorization = 'Bearer ' + state.token;
    let data;
    try {
      const res = await fetch('/api/find' + query({ q, limit: 50 }), { headers, signal: controller.signal });
      data = await res.json();
      if (!res.ok) throw new Error(data.error);
    } catch (e) {
      if (e.name === 'AbortError') return;
      list.replaceChildren(h('li', { class: 'note' }, 'Search failed: ' + e.message));
      list.hidden = false;
      return;
    }
    list.replaceChildren(...data.results.map((x, i) => {
      const li = h('li', { role: 'option', id: 'find-' + i, 'aria-selected': 'false' },
        h('div', {}, h('span', { class: 'code' }, x.CODE), h('span', { class: 'desc' }, show(x.DESCRIPTION))),
        h('div', { class: 'where' }, `${x.m} › ${x.s} › ${x.t}`));
      li.dataset.href = href(x.m, x.s, x.t, x.CODE);
      li.addEventListener('mousedown', (e) => { e.preventDefault(); go(li); });
      return li;
    }));
    if (!data.results.length) list.append(h('li', { class: 'note' }, `No module code or description holds “${q}”.`));
    if (data.truncated) list.append(h('li', { class: 'note' }, `The first ${data.results.length} matches; type more to narrow them.`));
    list.hidden = false;
    input.setAttribute('aria-expanded', 'true');
    mark(data.results.length ? 0 : -1);
  }
  input.addEventListener('input', () => { clearTimeout(timer); timer = setTimeout(run, 120); });
  input.addEventListener('keydown', (e) => {
    if (e.key === 'ArrowDown') { e.preventDefault(); if (list.hidden) run(); else mark(active + 1); }
    else if (e.key === 'ArrowUp') { e.preventDefault(); mark(active - 1); }
    else if (e.key === 'Enter') { e.preventDefault(); const o = options()[active]; if (o) go(o); }
    else if (e.key === 'Escape') { if (!list.hidden) { e.preventDefault(); close(); } else input.blur(); }
  });
  input.addEventListener('blur', () => setTimeout(close, 150));
  input.addEventListener('focus', () => { if (input.value.trim() && list.children.length) { list.hidden = false; input.setAttribute('aria-expanded', 'true'); } });
}

// ---- import and export -------------------------------------------------------------

function setupTransfer() {
  $('#export').addEventListener('click', guarded(async () => {
    const blob = await api('GET', '/api/export');
    const a = h('a', { href: URL.createObjectURL(blob), download: (state.name || 'catalogue').replace(/[^\w.-]+/g, '_').replace(/\.\w+$/, '') + '.json' });
    document.body.append(a);
    a.click();
    a.remove();
    setTimeout(() => URL.revokeObjectURL(a.href), 10000);
  }));
  $('#import').addEventListener('change', guarded(async (e) => {
    const file = e.target.files[0];
    e.target.value = '';
    if (!file) return;
    const text = await file.text();
    let answer;
    try {
      answer = await api('POST', '/api/import', text);
    } catch (err) {
      answer = { error: err.message, messages: (err.data && err.data.messages) || [] };
    }
    await loadTree();
    render();
    const messages = answer.messages || [];
    openDialog({
      title: answer.error ? 'Import refused' : 'Imported', confirm: 'Close', cancel: null, action: () => true,
      text: answer.error || `${file.name}: ${plural(answer.added || 0, 'module')} added.`,
    });
    if (messages.length) $('#dialog form .buttons').before(h('ul', { class: 'messages' }, messages.map((m) => h('li', {}, m))));
  }));
}

// ---- start -------------------------------------------------------------------------

async function start() {
  const params = new URLSearchParams(location.search);
  state.token = params.get('token') || sessionStorage.getItem('kiv-token') || '';
  if (params.has('token')) {
    sessionStorage.setItem('kiv-token', state.token);
    history.replaceState(null, '', location.pathname + location.hash);
  }
  try {
    const s = await api('GET', '/api/session');
    Object.assign(state, { session: s.session, readOnly: !!s.readOnly, name: s.catalogue || '' });
    $('#catalogue').textContent = state.name;
    $('#readonly').hidden = !state.readOnly;
    document.body.classList.toggle('readonly', state.readOnly);
    if (state.readOnly) { $('#add-manufacturer').hidden = true; $('#import-label').hidden = true; }
    await loadTree();
  } catch (e) {
    $('#main').replaceChildren(notice('bad', 'The catalogue cannot be opened', e.message,
      e.status === 401 ? ' Open the address that the server printed, with its ?token=…' : ''));
    return;
  }
  $('#add-manufacturer').addEventListener('click', guarded(() => addIndex({}, 'm')));
  setupFind();
  setupTransfer();
  render();
}

start();
