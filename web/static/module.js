// A module's page: its specification, box values and terminal rows.

import { state, api, query } from './api.js';
import { h, show, status, editButton, guarded } from './dom.js';
import { href, crumbs, replaceHash } from './routes.js';
import { Fields, isBoxColumn, boxEditor, keepTextBox } from './fields.js';
import { openDialog, confirmRemove, conflict, refusal } from './dialogs.js';
import { loadTree } from './tree.js';
import { terminalGrid } from './grid.js';
import { moduleHistory } from './history.js';

export const GROUPS = [
  ['Module', ['CODE', 'POINTS', 'TYPE', 'RATING', 'CATEGORY', 'DESCRIPTION']],
  ['Address and drawing', ['ADDRESS_BASE', 'ADDRESS_FORMAT', 'OPTIONAL_BLOCK', 'LISP']],
];

export async function viewModule(r) {
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
  const keep = keepTextBox(spec, box);
  const setModule = (mod) => { spec.set(mod); box.set(mod); boxEd.redraw(); subtitle.textContent = show(mod.DESCRIPTION); };
  const title = h('h1', {}, ctx.code);
  const subtitle = h('span', { class: 'sub' });

  async function saveModule(base) {
    specMsg.replaceChildren();
    if (!(spec.validate() & box.validate())) { spec.focusFirstError(); box.focusFirstError(); status('Not saved: see the marked values.', true); return; }
    const module = { ...spec.values(), ...box.values() };
    try {
      await api('POST', '/api/module/save', { m: r.m, s: r.s, t: r.t, code: ctx.code, base: base || { ...spec.base, ...box.base }, module, keepAsText: keep.checked() || undefined });
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
      replaceHash(href(r.m, r.s, r.t, ctx.code));
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
      h('button', { type: 'button', class: 'primary', onclick: () => saveModule() }, 'Save module'), keep,
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
  // The module and its terminal rows again under a new code, in this type.
  const duplicateModule = guarded(async () => {
    const done = await openDialog({
      title: `Duplicate module “${ctx.code}”`, text: 'The copy takes every value and terminal row; only its CODE differs.',
      confirm: 'Duplicate', columns: data.columns, fields: [['CODE', 'New CODE', ctx.code]],
      action: async (v) => (await api('POST', '/api/module/copy', { m: r.m, s: r.s, t: r.t, code: ctx.code, as: v.CODE })).code,
    });
    if (!done) return;
    await loadTree();
    location.hash = href(r.m, r.s, r.t, done);
    status(`Duplicated as ${done}.`);
  });
  const terms = terminalGrid(r, ctx, data.terminals, data.terminalColumns);
  return [crumbs({ m: r.m, s: r.s, t: r.t, code: ctx.code }),
    h('div', { class: 'head' }, title, subtitle,
      h('div', { class: 'actions' }, editButton('Duplicate…', duplicateModule), editButton('Remove module', removeModule, 'danger'))),
    h('h2', {}, 'Specification'), specSection,
    h('h2', {}, 'Terminal rows', h('span', { class: 'badge' }, terms.countText),
      h('div', { class: 'actions' }, terms.actions)),
    terms.el,
    h('h2', {}, 'History'), moduleHistory({ m: r.m, s: r.s, t: r.t, code: ctx.code })];
}
