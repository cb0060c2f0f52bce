// The catalogue editor: one page, hash routes, plain DOM.  Catalogue data is
// only ever placed with textContent / value / setAttribute, never as markup.

import { state, api } from './api.js';
import { $, show, dropRefusal, notice, guarded } from './dom.js';
import { parseRoute, crumbs, shownHash, acceptHash } from './routes.js';
import { loadTree, renderTree, addIndex, viewHome, viewManufacturer, viewSeries, viewType } from './tree.js';
import { viewModule } from './module.js';
import { viewStyles } from './styles.js';
import { setupFind } from './find.js';
import { setupTransfer } from './transfer.js';
import { viewRecent, setHistoryReload } from './history.js';

let renderSeq = 0;

const isDirty = () => [...document.querySelectorAll('main section')].some((s) => s._dirty && s._dirty());

async function render() {
  const seq = ++renderSeq;
  const r = parseRoute(location.hash);
  const main = $('#main');
  renderTree();
  const views = { home: viewHome, manufacturer: viewManufacturer, series: viewSeries, type: viewType, module: viewModule, styles: viewStyles, history: viewRecent };
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
  if (location.hash === shownHash()) return;
  // Before the tree has come there is no page yet: start() draws the one the
  // address names once it has.
  if (!state.tree) return acceptHash();
  if (isDirty() && !window.confirm('This page has changes that are not saved. Leave it and lose them?')) {
    history.replaceState(null, '', shownHash());
    return;
  }
  acceptHash();
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

setHistoryReload(render);

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
  setupTransfer(render);
  render();
}

start();
