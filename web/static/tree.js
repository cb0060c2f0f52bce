// The catalogue's tree, its index entries (add, rename, remove) and the
// pages of a manufacturer, a series and a type.

import { state, api, query } from './api.js';
import { $, h, show, status, heading, editButton, notice, plural, guarded } from './dom.js';
import { href, parseRoute, crumbs } from './routes.js';
import { openDialog, confirmRemove } from './dialogs.js';

export const sum = (xs, f) => xs.reduce((a, x) => a + f(x), 0);
export const seriesCount = (s) => sum(s.types, (t) => t.modules || 0);
export const makerCount = (m) => sum(m.series, seriesCount);

export async function loadTree() {
  const tree = await api('GET', '/api/tree');
  state.tree = tree.manufacturers;
  for (const c of tree.columns || []) state.indexWidths[c.name] = c.width;
  renderTree();
}

export function renderTree() {
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

export const findMaker = (m) => state.tree.find((x) => x.name === m);
export const findSeries = (m, s) => (findMaker(m)?.series || []).find((x) => x.name === s);

// Index forms: the name's column width comes with the tree.
export const indexColumns = () => ['MANUFACTURER', 'SERIES', 'TYPE'].map((n) => ({ name: n, width: state.indexWidths[n] ?? 255 }));
export const LEVEL = { m: ['MANUFACTURER', 'manufacturer'], s: ['SERIES', 'series'], t: ['TYPE', 'type'] };

export async function addIndex(r, level) {
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

export async function renameIndex(r, level) {
  const [col, word] = LEVEL[level];
  const done = await openDialog({
    title: `Rename ${word} “${r[level]}”`, confirm: 'Rename', columns: indexColumns(), fields: [[col, 'New name', r[level]]],
    action: async (v) => { await api('POST', '/api/index/rename', { m: r.m, s: r.s, t: r.t, to: v[col] }); return { ...r, [level]: v[col] }; },
  });
  if (!done) return;
  await loadTree();
  location.replace(href(done.m, done.s, done.t));
}

export async function removeIndex(r, level) {
  if (!await confirmRemove(`${LEVEL[level][1]} “${r[level]}”`, r)) return;
  await loadTree();
  location.hash = level === 'm' ? '#/' : href(r.m, level === 't' ? r.s : null);
  status('Removed.');
}

export function viewHome() {
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

export function viewManufacturer(r) {
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

export function viewSeries(r) {
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

export const LIST_COLUMNS = ['CODE', 'POINTS', 'TYPE', 'DESCRIPTION', 'RATING'];

export async function viewType(r) {
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
