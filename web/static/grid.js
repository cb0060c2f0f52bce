// The terminal rows of a module as an editable grid.

import { state, api, query } from './api.js';
import { h, show, status, rowsTable } from './dom.js';
import { Fields } from './fields.js';
import { conflict, refusal } from './dialogs.js';

// The terminal rows as an editable grid; saved as a whole.
export function terminalGrid(r, ctx, rows, columns) {
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
