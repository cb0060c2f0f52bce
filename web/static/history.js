// The catalogue's history in the editor: a module's changes beside it, each
// with an Undo, and the page of recent changes for the whole catalogue.
// Catalogue data goes in only as text.

import { state, api, query } from './api.js';
import { h, show, status, notice } from './dom.js';
import { crumbs } from './routes.js';
import { loadTree } from './tree.js';

// Shows the current page anew after an Undo (the page's render, set once).
let reload = () => {};
export function setHistoryReload(render) { reload = render; }

// "RATING 0-10 V → 4-20 mA; DESCRIPTION …" for an update, the row for the others.
function changedFields(row) {
  const before = row.before || {}, after = row.after || {};
  if (row.op === 'create' || row.op === 'drop') return row.op === 'create' ? 'table created' : 'table removed';
  if (row.op === 'insert') return 'added';
  if (row.op === 'delete') return 'removed';
  return Object.keys(after).filter((k) => before[k] !== after[k])
    .map((k) => `${k}: ${show(before[k])} → ${show(after[k])}`).join('; ');
}

function rowLabel(row) {
  let what = row.code != null ? row.code : row.table;
  if (row.position != null) what += ` #${row.position}`;
  return what;
}

async function undoChange(id) {
  try {
    const done = await api('POST', '/api/history/revert', { ids: [id] });
    status(`Undone as change ${done.change}.`);
  } catch (e) {
    if (e.status !== 409) { status(e.message, true); return; }
    if (!window.confirm(`${e.message}\n\nUndo it anyway?`)) return;
    try { await api('POST', '/api/history/revert', { ids: [id], force: true }); status('Undone.'); } catch (f) { status(f.message, true); return; }
  }
  await loadTree();
  reload();
}

// The changes as a list, newest first, each with an Undo.
function historyList(changes) {
  if (!changes.length) return h('p', { class: 'hint' }, 'No changes recorded.');
  return h('ol', { class: 'history' }, changes.map((c) => h('li', { 'data-change': c.id },
    h('div', { class: 'history-head' },
      h('strong', {}, `#${c.id}`), ' ', h('time', {}, c.at.replace('T', ' ').replace(/\.\d+Z$/, ' UTC')), ' · ', c.by,
      c.what ? h('span', { class: 'hint' }, ` · ${c.what}`) : null,
      c.reverts.length ? h('span', { class: 'badge' }, `undoes #${c.reverts.join(', #')}`) : null,
      state.readOnly ? null : h('button', { type: 'button', class: 'small', onclick: () => undoChange(c.id) }, 'Undo')),
    h('ul', {}, c.rows.slice(0, 20).map((r) => h('li', {}, h('code', {}, rowLabel(r)), ' ', changedFields(r))),
      c.rows.length > 20 ? h('li', { class: 'hint' }, `and ${c.rows.length - 20} more rows`) : null))));
}

// A module's history, filled in when it arrives.
export function moduleHistory(r) {
  const box = h('section', { class: 'module-history' }, h('p', { class: 'hint' }, 'Reading the history…'));
  const load = async () => {
    try {
      const data = await api('GET', '/api/history' + query({ m: r.m, s: r.s, t: r.t, code: r.code, limit: 50 }));
      box.replaceChildren(data.on ? historyList(data.history) : h('p', { class: 'hint' }, 'This catalogue keeps no history.'));
    } catch (e) {
      box.replaceChildren(notice('bad', 'Cannot read the history', e.message));
    }
  };
  load();
  return box;
}

export async function viewRecent() {
  const data = await api('GET', '/api/history' + query({ limit: 100 }));
  return [crumbs({}), h('div', { class: 'head' }, h('h1', {}, 'Recent changes')),
    data.on ? historyList(data.history) : notice('warn', 'No history', 'This catalogue keeps no history.')];
}
