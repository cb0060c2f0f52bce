// Hash routes: a page's address from its place in the catalogue and back.

import { h } from './dom.js';

export const enc = encodeURIComponent;

// The address the page shows now: a hashchange to it is the page's own doing
// (a save that re-keys a module), not the user's.
let shown = location.hash;
export const shownHash = () => shown;
export function acceptHash() { shown = location.hash; }
export function replaceHash(hash) { history.replaceState(null, '', hash); shown = location.hash; }
export function href(m, s, t, code) {
  let r = '#/m/' + enc(m);
  if (s != null) r += '/s/' + enc(s);
  if (t != null) r += '/t/' + enc(t);
  if (code != null) r += '/' + enc(code);
  return r;
}

export function parseRoute(hash) {
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

export function crumbs(r) {
  const parts = [h('a', { href: '#/' }, 'Catalogue')];
  if (r.m != null) parts.push(h('a', { href: href(r.m) }, r.m));
  if (r.s != null) parts.push(h('a', { href: href(r.m, r.s) }, r.s));
  if (r.t != null && r.code != null) parts.push(h('a', { href: href(r.m, r.s, r.t) }, r.t));
  return h('div', { class: 'crumbs' }, parts.flatMap((a, i) => (i ? [h('span', { class: 'sep' }, '›'), a] : [a])));
}
