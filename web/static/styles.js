// The styles page: box geometry 1 to 9.

import { state, api } from './api.js';
import { h, status, heading, editButton, rowsTable } from './dom.js';
import { Fields, BOX_SIDES, isBoxColumn, boxEditor, keepTextBox } from './fields.js';
import { conflict, refusal } from './dialogs.js';

export async function viewStyles() {
  const data = await api('GET', '/api/styles');
  const cards = [];
  for (let n = 1; n <= 9; n++) {
    let loaded = data.styles.find((s) => s.STYLE === n) || null;
    const fields = new Fields(data.columns.filter((c) => isBoxColumn(c.name)), () => ed.redraw());
    const ed = boxEditor(fields, `style ${n} `);
    const msg = h('div', {});
    const keep = keepTextBox(fields);
    fields.set(loaded || {});
    ed.redraw();
    async function save(over) {
      msg.replaceChildren();
      if (!fields.validate()) return fields.focusFirstError();
      const style = fields.values();
      try {
        await api('POST', '/api/style/save', { STYLE: n, base: over || loaded || {}, style, keepAsText: keep.checked() || undefined });
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
        h('div', { class: 'actions' }, state.readOnly ? null : keep, editButton('Save', () => save(), 'small primary'))),
      msg, ed.el);
    card._save = () => save();
    card._dirty = () => fields.dirty();
    cards.push(card);
  }
  return [heading('Styles', 'Box geometry 1 to 9: each side\'s value and its metric twin'), h('div', { class: 'styles' }, cards)];
}
