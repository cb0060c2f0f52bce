// Find: the search box in the bar and its list of matches.

import { state, api, query } from './api.js';
import { $, h, show } from './dom.js';
import { href } from './routes.js';

export function setupFind() {
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
    if (!data.results.length) list.append(h('li', { class: 'note' }, `No module code, description, terminal block or attribute holds “${q}”.`));
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
