// Modal dialogs and the refusals shown above a form.

import { api, query } from './api.js';
import { $, h, show, status, notice, plural } from './dom.js';
import { Fields } from './fields.js';

// A modal form; `action` runs on submit and the dialog stays open (input kept) when it fails.
// `cancel: null` for a dialog that only tells: one button closes it.
export function openDialog({ title, text, fields = [], columns = [], confirm = 'OK', cancel = 'Cancel', danger = false, action }) {
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

export async function confirmRemove(what, r, extra) {
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

// A refusal of a stale save: what is stored now next to what the user typed; the input stays.
export function conflict(where, text, table, { overwrite, reload }) {
  where.replaceChildren(notice('bad', 'Not saved: someone else changed this in the meantime',
    h('p', {}, text), table,
    h('div', { class: 'actions' },
      h('button', { type: 'button', class: 'danger', onclick: overwrite }, 'Save mine over theirs'),
      h('button', { type: 'button', onclick: reload }, 'Discard mine, show theirs'))));
  where.scrollIntoView({ block: 'nearest' });
}

// Shows a refusal next to its field when it names one, else above the form.
export function refusal(where, fields, e) {
  if (!(e.data && e.data.field && fields && fields.error(e.data.field, e.message))) {
    where.replaceChildren(notice('bad', e.status === 403 ? 'Not allowed' : 'Not saved', e.message));
  } else {
    fields.focusFirstError();
  }
  status('Not saved: ' + e.message, true);
}
