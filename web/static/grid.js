// The terminal rows of a module as an editable grid that edits like a
// spreadsheet: paste a block, Enter and Tab to move, insert and move rows,
// fill down or a series, undo; ATTRIBUTES of the KEY=value;KEY=value form
// shown as one column per key.

import { state, api, query } from './api.js';
import { h, show, status, rowsTable, plural } from './dom.js';
import { Fields } from './fields.js';
import { openDialog, conflict, refusal } from './dialogs.js';

// ---- texts the grid reads and writes ------------------------------------------

const KEY = /^[A-Za-z_][A-Za-z0-9_]*$/;

// The pairs of an ATTRIBUTES text, in its order; [] for none; null when the
// text is not exactly KEY=value joined by ";" (then joinAttributes would not
// give it back as it was).
export function parseAttributes(text) {
  if (text == null || text === '') return [];
  const pairs = [];
  for (const part of text.split(';')) {
    const at = part.indexOf('=');
    const key = part.slice(0, at);
    if (at < 0 || !KEY.test(key) || pairs.some(([k]) => k === key)) return null;
    pairs.push([key, part.slice(at + 1)]);
  }
  return pairs;
}

export const joinAttributes = (pairs) => pairs.map(([k, v]) => `${k}=${v}`).join(';');

// The value `k` steps after `first` in a series: a bit address (a letter
// prefix, a byte, a bit 0 to 7) counts its bits on into the next byte;
// otherwise the last whole number in the text counts on, keeping its leading
// zeros; a text without a number repeats.
export function seriesValue(first, k) {
  const bit = /^(.*[^\d.])(\d+)\.([0-7])$/.exec(first);
  if (bit) {
    const n = Number(bit[2]) * 8 + Number(bit[3]) + k;
    return `${bit[1]}${Math.floor(n / 8)}.${n % 8}`;
  }
  const num = /^(.*?)(\d+)(\D*)$/.exec(first);
  if (!num) return first;
  return num[1] + String(Number(num[2]) + k).padStart(num[2].length, '0') + num[3];
}

// A block copied from a spreadsheet: rows by line, cells by tab; a cell in
// double quotes may hold tabs, line breaks and doubled quotes.  The line end
// after the last row is not a row of its own.
export function parseBlock(text) {
  const rows = [[]];
  let cell = '', i = 0;
  while (i < text.length) {
    const c = text[i];
    if (c === '"' && cell === '') {
      const end = /^"((?:[^"]|"")*)"(?=\t|\r?\n|$)/.exec(text.slice(i));
      if (end) { cell = end[1].replace(/""/g, '"'); i += end[0].length; continue; }
    }
    if (c === '\t') { rows.at(-1).push(cell); cell = ''; i++; continue; }
    if (c === '\n' || (c === '\r' && text[i + 1] === '\n')) {
      rows.at(-1).push(cell); cell = ''; rows.push([]); i += c === '\r' ? 2 : 1; continue;
    }
    cell += c; i++;
  }
  if (cell !== '' || rows.at(-1).length) rows.at(-1).push(cell);
  if (!rows.at(-1).length) rows.pop();
  return rows;
}

// The keys to show as columns (in the order they first appear) when every
// text has the pair form and one has a pair at all; else null.
function keyColumns(texts) {
  const keys = [];
  for (const t of texts) {
    const pairs = parseAttributes(t);
    if (!pairs) return null;
    for (const [k] of pairs) if (!keys.includes(k)) keys.push(k);
  }
  return keys.length ? keys : null;
}

// ---- the grid -------------------------------------------------------------------------

// The terminal rows as an editable grid; saved as a whole, in the grid's order.
export function terminalGrid(r, ctx, rows, columns) {
  const widths = Object.fromEntries(columns.map((c) => [c.name, c.width]));
  const numbers = Object.fromEntries(columns.map((c) => [c.name, c.number ?? null]));
  // The range of SEQUENCE the catalogue takes, as the server serves it.
  const seqRange = columns.find((c) => c.name === 'SEQUENCE');
  const msg = h('div', {});
  const thead = h('thead', {});
  const tbody = h('tbody', {});
  const countText = h('span', {});
  let base = rows;
  let byKeys = true;    // the user's choice: ATTRIBUTES by key when they allow it
  let keys = null;      // the keys shown as columns, or null: the raw text
  let undo = [];        // snapshots before each edit, the last on top
  let typingIn = null;  // the cell whose typing the top snapshot covers
  let sel = null;       // { col, from, to }: selected rows of one column

  // The columns shown, in order, set with `keys`; a key column edits one pair of ATTRIBUTES.
  let shown = [];
  const cols = () => shown;
  function setKeys(list) {
    keys = list;
    shown = [{ name: 'SEQUENCE', cls: 'seq' }, { name: 'BLOCK', cls: 'block' },
      ...(keys ? keys.map((k) => ({ name: 'ATTRIBUTES', key: k, cls: 'attr' })) : [{ name: 'ATTRIBUTES', cls: 'attrs' }])];
  }
  const trs = () => [...tbody.children];
  // A key column's input is named apart from SEQUENCE and BLOCK, whatever the key.
  const fname = (c) => (c.key ? `ATTRIBUTES ${c.key}` : c.name);
  const cellsOf = (tr) => tr._cells;
  const pairsOf = (text) => new Map(parseAttributes(text) || []);
  // The stored value a cell started from: a changed cell is marked.
  const startValue = (tr, c) => (tr._new ? null : show(c.key ? pairsOf(tr._row.ATTRIBUTES).get(c.key) : tr._row[c.name]));
  const mark = (tr, i) => { const el = tr._cells[i]; el.classList.toggle('changed', el.value !== startValue(tr, cols()[i])); };
  const setCell = (tr, i, v) => { tr._cells[i].value = v; mark(tr, i); };

  // What a row saves: ATTRIBUTES by key write back the row's own keys in its
  // order, then keys it gains; a stored NULL left empty stays NULL.
  function current(tr) {
    const keep = (v, n) => (v === '' && tr._row[n] == null ? tr._row[n] ?? null : v);
    const c = cellsOf(tr), row = { SEQUENCE: c[0].value, BLOCK: keep(c[1].value, 'BLOCK') };
    if (!keys) return { ...row, ATTRIBUTES: keep(c[2].value, 'ATTRIBUTES') };
    const values = new Map(keys.map((k, i) => [k, c[2 + i].value]));
    const own = tr._keys.map((k) => [k, values.get(k)]);
    const gained = keys.filter((k) => !tr._keys.includes(k) && values.get(k) !== '').map((k) => [k, values.get(k)]);
    return { ...row, ATTRIBUTES: keep(joinAttributes([...own, ...gained]), 'ATTRIBUTES') };
  }

  function rowEl(row, cur = row, isNew = false) {
    const tr = h('tr', {});
    Object.assign(tr, { _row: row, _new: isNew, _keys: (parseAttributes(cur.ATTRIBUTES) || []).map(([k]) => k) });
    const fields = new Fields(cols().map((c) => ({ name: fname(c), width: c.key ? null : widths[c.name], number: c.key ? null : numbers[c.name] })));
    tr._fields = fields;
    const curPairs = pairsOf(cur.ATTRIBUTES);
    tr._cells = cols().map((c, i) => {
      const el = fields.input(fname(c), { label: `${c.key || c.name} of row ${show(cur.SEQUENCE)}` });
      if (c.name === 'SEQUENCE') { el.inputMode = 'numeric'; el.className = 'mono'; }
      el.value = show(c.key ? curPairs.get(c.key) : cur[c.name]);
      el._col = i;
      return el;
    });
    // Each cell's contents in a box of their own that the browser lays out
    // only near the screen (app.css): a thousand rows cost little more than
    // the few in sight.
    tr.append(...cols().map((c, i) => h('td', { class: c.cls }, h('div', { class: 'cell' }, tr._cells[i], fields.errs.get(fname(c))))),
      h('td', { class: 'tools' }, state.readOnly ? null : h('div', { class: 'cell' },
        h('button', { type: 'button', class: 'icon', 'data-move': -1, title: 'Move up (Alt+↑)', 'aria-label': 'Move row up', onclick: () => move(tr, -1, true) }, '↑'),
        h('button', { type: 'button', class: 'icon', 'data-move': 1, title: 'Move down (Alt+↓)', 'aria-label': 'Move row down', onclick: () => move(tr, 1, true) }, '↓'),
        h('button', { type: 'button', class: 'icon', title: 'Remove row', 'aria-label': 'Remove row', onclick: () => removeRow(tr) }, '✕'))));
    cols().forEach((_, i) => mark(tr, i));
    return tr;
  }

  function head() {
    const label = (c) => (c.key ? c.key : c.name === 'SEQUENCE' ? 'SEQUENCE' : `${c.name} (≤ ${widths[c.name] ?? '–'})`);
    thead.replaceChildren(h('tr', {}, cols().map((c) => h('th', { class: c.cls, title: c.key ? 'a key of ATTRIBUTES' : null }, label(c))), h('th', { class: 'tools' }, '')));
  }

  // ---- snapshots: undo and redrawing --------------------------------------------

  const snapshot = () => trs().map((tr) => ({ row: tr._row, isNew: tr._new, cur: current(tr) }));
  function draw(snap) {
    setKeys(byKeys ? keyColumns(snap.map((x) => x.cur.ATTRIBUTES)) : null);
    head();
    tbody.replaceChildren(...snap.map((x) => rowEl(x.row, x.cur, x.isNew)));
    select(null);
    count();
  }
  // Called before every edit of the grid; typing in one cell is one edit.
  function remember(cell = null) {
    if (cell && cell === typingIn) return;
    undo.push(snapshot());
    if (undo.length > 200) undo.shift();
    typingIn = cell;
  }
  function undoLast() {
    const snap = undo.pop();
    if (!snap) return status('Nothing to undo since the rows were loaded or saved.');
    const at = cursor();
    draw(snap);
    typingIn = null;
    if (at) focusCell(Math.min(at.row, trs().length - 1), at.col);
  }

  // ---- moving around ----------------------------------------------------------------

  const cursor = () => {
    const el = document.activeElement;
    const tr = el && el.closest && el.closest('tr');
    return tr && tr.parentNode === tbody && el._col != null ? { tr, row: trs().indexOf(tr), col: el._col } : null;
  };
  function focusCell(row, col) {
    const tr = trs()[row];
    if (!tr) return;
    const el = tr._cells[Math.max(0, Math.min(col, tr._cells.length - 1))];
    el.focus();
    el.select();
  }
  function select(range) {
    tbody.querySelectorAll('input.sel').forEach((el) => el.classList.remove('sel'));
    sel = range && range.from !== range.to ? range : null;
    if (sel) trs().slice(Math.min(sel.from, sel.to), Math.max(sel.from, sel.to) + 1).forEach((tr) => tr._cells[sel.col].classList.add('sel'));
  }
  // The selected rows of one column, top down; the cursor's cell alone without a selection.
  function selected() {
    if (sel) return { col: sel.col, rows: trs().slice(Math.min(sel.from, sel.to), Math.max(sel.from, sel.to) + 1) };
    const at = cursor();
    return at ? { col: at.col, rows: [at.tr] } : null;
  }

  const nextSequence = () => Math.max(0, ...trs().map((tr) => Number(tr._cells[0].value) || 0)) + 1;
  // A new row has no stored cells: an empty one is saved as an empty text.
  const newRow = (seq) => rowEl({ SEQUENCE: seq, BLOCK: '', ATTRIBUTES: '' }, undefined, true);

  function addRow(col = 1) {
    remember();
    tbody.append(newRow(nextSequence()));
    count();
    focusCell(trs().length - 1, col);
  }
  // The new row takes the cursor row's SEQUENCE; that row and those after it
  // move one on, as far as they would collide.
  function insertAbove(tr, col = 1) {
    remember();
    const text = tr._cells[0].value.trim();
    const seq = text !== '' && Number.isInteger(Number(text)) ? Number(text) : nextSequence();
    let expect = seq + 1;
    for (let t = tr; t && Number(t._cells[0].value) < expect && Number(t._cells[0].value) >= seq; t = t.nextElementSibling, expect++)
      setCell(t, 0, String(expect));
    const added = newRow(seq);
    tr.before(added);
    count();
    focusCell(trs().indexOf(added), col);
  }
  // A row changes places with its neighbour, and SEQUENCE values with it,
  // so that the grid's order and the numbering stay one.
  function move(tr, d, byButton = false) {
    const sib = d < 0 ? tr.previousElementSibling : tr.nextElementSibling;
    if (!sib) return;
    const col = cursor()?.col ?? 1;
    remember();
    const [a, b] = [tr._cells[0].value, sib._cells[0].value];
    d < 0 ? sib.before(tr) : sib.after(tr);
    setCell(tr, 0, b);
    setCell(sib, 0, a);
    if (byButton) tr.querySelector(`button[data-move="${d}"]`).focus();
    else focusCell(trs().indexOf(tr), col);
  }
  function removeRow(tr) {
    remember();
    const n = tr.nextElementSibling || tr.previousElementSibling;
    tr.remove();
    count();
    if (n) n._cells[1].focus();
  }
  function renumber() {
    remember();
    trs().forEach((tr, i) => { if (tr._cells[0].value !== String(i + 1)) setCell(tr, 0, String(i + 1)); });
  }
  function fill(series) {
    const s = selected();
    if (!s || s.rows.length < 2) return status('Select cells of one column first: Shift+↓ or Shift+click.', true);
    remember();
    const first = s.rows[0]._cells[s.col].value;
    s.rows.forEach((tr, k) => { if (k) setCell(tr, s.col, series ? seriesValue(first, k) : first); });
    status(`${plural(s.rows.length - 1, 'cell')} filled.`);
  }
  function clearCells() {
    const s = selected();
    remember();
    s.rows.forEach((tr) => setCell(tr, s.col, ''));
  }

  // A block of cells at the cursor, after saying what it will do.
  async function paste(text, at) {
    const block = parseBlock(text);
    const width = cols().length - at.col;
    const cut = Math.max(0, ...block.map((b) => b.length)) - width;
    const adds = Math.max(0, at.row + block.length - trs().length);
    const ok = await openDialog({
      title: 'Paste rows', confirm: 'Paste', action: () => true,
      text: `${plural(block.length, 'row')} from the clipboard go in from row ${at.row + 1}: ${block.length - adds} changed, ${adds} added` +
        `${cut > 0 ? `; ${plural(cut, 'column')} beyond the grid's last left out` : ''}.`,
    });
    if (!ok) return focusCell(at.row, at.col);
    remember();
    let seq = nextSequence();
    const added = [];
    for (let i = 0; i < adds; i++) added.push(newRow(seq++));
    tbody.append(...added);
    const list = trs();
    block.forEach((cells, i) => cells.slice(0, width).forEach((v, j) => setCell(list[at.row + i], at.col + j, v)));
    count();
    select({ col: at.col, from: at.row, to: at.row + block.length - 1 });
    status(`Pasted: ${plural(block.length - adds, 'row')} changed, ${plural(adds, 'row')} added.`);
    focusCell(at.row, at.col);
  }

  tbody.addEventListener('paste', (e) => {
    const text = e.clipboardData && e.clipboardData.getData('text/plain');
    const at = cursor();
    if (!at || state.readOnly || !text || !/[\t\n]/.test(text.replace(/\r?\n$/, ''))) return;
    e.preventDefault();
    e.stopPropagation();
    paste(text, at);
  }, true);
  tbody.addEventListener('beforeinput', (e) => { if (e.target._col != null) remember(e.target); });
  tbody.addEventListener('input', (e) => { const tr = e.target.closest('tr'); if (tr && e.target._col != null) mark(tr, e.target._col); });
  // The buttons above the grid act on the cell the cursor was in last.
  let lastCell = null;
  tbody.addEventListener('focusin', (e) => { if (e.target !== typingIn) typingIn = null; if (e.target._col != null) lastCell = e.target; });
  tbody.addEventListener('mousedown', (e) => {
    const at = cursor();
    const tr = e.target.closest('tr');
    if (!e.shiftKey || !at || e.target._col == null) return;
    e.preventDefault();
    select({ col: at.col, from: at.row, to: trs().indexOf(tr) });
  });
  tbody.addEventListener('keydown', (e) => {
    const at = cursor();
    if (!at || state.readOnly) return;
    const el = e.target, ctrl = e.ctrlKey || e.metaKey, n = trs().length;
    const key = (ctrl ? 'Ctrl+' : '') + (e.altKey ? 'Alt+' : '') + (e.shiftKey ? 'Shift+' : '') + e.key;
    const whole = el.selectionStart === 0 && el.selectionEnd === el.value.length;
    const act = {
      Enter: () => (at.row + 1 < n ? focusCell(at.row + 1, at.col) : addRow(at.col)),
      Tab: () => (at.col + 1 < at.tr._cells.length ? focusCell(at.row, at.col + 1) : at.row + 1 < n ? focusCell(at.row + 1, 0) : false),
      'Shift+Tab': () => (at.col > 0 ? focusCell(at.row, at.col - 1) : at.row > 0 ? focusCell(at.row - 1, at.tr._cells.length - 1) : false),
      ArrowDown: () => focusCell(at.row + 1, at.col),
      ArrowUp: () => focusCell(at.row - 1, at.col),
      'Shift+ArrowDown': () => { const s = sel || { col: at.col, from: at.row, to: at.row }; select({ ...s, to: Math.min(n - 1, s.to + 1) }); },
      'Shift+ArrowUp': () => { const s = sel || { col: at.col, from: at.row, to: at.row }; select({ ...s, to: Math.max(0, s.to - 1) }); },
      Insert: () => insertAbove(at.tr, at.col),
      'Alt+ArrowUp': () => move(at.tr, -1),
      'Alt+ArrowDown': () => move(at.tr, 1),
      Delete: () => (sel || whole || el.value === '' ? clearCells() : false),
      'Ctrl+z': () => undoLast(),
      'Ctrl+d': () => fill(false),
    }[key];
    if (!act || act() === false) return;
    e.preventDefault();
    if (!/Shift\+Arrow|Delete|Ctrl\+d/.test(key)) select(null);
  });

  function count() {
    countText.textContent = trs().length;
  }
  function load(list) {
    base = list;
    undo = [];
    typingIn = null;
    draw(list.map((row) => ({ row, cur: row, isNew: false })));
  }
  // The rows read back after a save: when they are what the grid shows, in
  // its order, they become the rows it started from, without drawing a
  // thousand rows again.
  function settle(saved, sent) {
    if (stored(saved) !== stored(sent)) return load(saved);
    base = saved;
    undo = [];
    typingIn = null;
    trs().forEach((tr, i) => {
      Object.assign(tr, { _row: saved[i], _new: false, _keys: (parseAttributes(saved[i].ATTRIBUTES) || []).map(([k]) => k) });
      tr._cells.forEach((_, c) => mark(tr, c));
    });
  }
  const stored = (list) => JSON.stringify(list.map((x) => [show(x.SEQUENCE), x.BLOCK ?? null, x.ATTRIBUTES ?? null]));
  function collect() {
    let ok = true;
    const seen = new Set();
    const out = trs().map((tr) => {
      const f = tr._fields;
      ok = f.validate() && ok;
      const row = current(tr);
      const seqEl = tr._cells[0];
      const seq = Number(row.SEQUENCE);
      const refuse = (text) => { seqEl.title = text; ok = !f.error('SEQUENCE', text); };
      if (!Number.isInteger(seq) || seq < seqRange.min || seq > seqRange.max || row.SEQUENCE.trim() === '') refuse(`SEQUENCE is a whole number from ${seqRange.min} to ${seqRange.max}`);
      else if (seen.has(seq)) refuse(`SEQUENCE ${seq} is used twice`);
      seen.add(seq);
      const attrs = row.ATTRIBUTES ?? '';
      if (keys && widths.ATTRIBUTES && [...attrs].length > widths.ATTRIBUTES)
        ok = !f.error(`ATTRIBUTES ${keys[0]}`, `ATTRIBUTES holds at most ${widths.ATTRIBUTES} characters; these keys make ${[...attrs].length}.`);
      const semicolon = keys ? keys.find((k, i) => tr._cells[2 + i].value.includes(';')) : null;
      if (semicolon) ok = !f.error(`ATTRIBUTES ${semicolon}`, 'A value of ATTRIBUTES cannot hold ";": edit them as text.');
      return { ...row, SEQUENCE: seq };
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
    settle(fresh.terminals, list);
    status('Terminal rows saved.');
  }
  function toggleKeys() {
    const snap = snapshot();
    byKeys = !byKeys;
    draw(snap);
    if (byKeys && !keys) status('Not every row\'s ATTRIBUTES is KEY=value;KEY=value: they stay text.', true);
  }
  load(rows);
  const cursorRow = () => (cursor() || { tr: trs()[0] }).tr;
  const el = h('section', { class: 'terms' }, msg,
    h('table', { class: 'grid terms' }, thead, tbody),
    state.readOnly ? null : h('div', { class: 'savebar' },
      h('button', { type: 'button', class: 'primary', onclick: () => save() }, 'Save terminal rows'),
      h('button', { type: 'button', onclick: () => { msg.replaceChildren(); load(base); } }, 'Revert'),
      h('span', { class: 'hint' }, 'Enter, Tab, Insert, Alt+↑/↓, Delete, Ctrl+Z; paste a block from a spreadsheet at a cell. The module\'s rows become the rows of this grid, in its order.')));
  el._save = () => save();
  el._dirty = () => stored(snapshot().map((x) => x.cur)) !== stored(base);
  const atCursor = (f) => (e) => { if (lastCell && lastCell.isConnected) lastCell.focus(); f(e); };
  const actions = state.readOnly ? [] : [
    h('button', { type: 'button', class: 'small', onclick: () => addRow() }, '+ Add row'),
    h('button', { type: 'button', class: 'small', title: 'Insert a row above the cursor (Insert)', onclick: atCursor(() => { const tr = cursorRow(); if (tr) insertAbove(tr, cursor()?.col ?? 1); else addRow(); }) }, 'Insert row'),
    h('button', { type: 'button', class: 'small', title: 'Fill the selected cells with the first one (Ctrl+D)', onclick: atCursor(() => fill(false)) }, 'Fill down'),
    h('button', { type: 'button', class: 'small', title: 'Count on from the first selected cell: E0.0, E0.1 … E0.7, E1.0; 1, 2, 3; DI0, DI1', onclick: atCursor(() => fill(true)) }, 'Fill series'),
    h('button', { type: 'button', class: 'small', title: 'Show ATTRIBUTES as one text, or as a column per key', onclick: toggleKeys }, 'ATTRIBUTES as text / by key'),
    h('button', { type: 'button', class: 'small', onclick: renumber, title: 'Number the rows 1, 2, 3 … in the order shown' }, 'Renumber')];
  return { el, actions, countText, count: () => trs().length };
}
