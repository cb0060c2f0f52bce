// Building the page: elements from plain values (catalogue data only ever as
// text), the status line and the small pieces every view uses.

import { state } from './api.js';

export const $ = (sel, root = document) => root.querySelector(sel);

export function h(tag, attrs, ...children) {
  const el = document.createElement(tag);
  for (const [k, v] of Object.entries(attrs || {})) {
    if (v == null || v === false) continue;
    if (k.startsWith('on')) el.addEventListener(k.slice(2), v);
    else if (k === 'class') el.className = v;
    else if (k === 'text') el.textContent = v;
    else if (k === 'value' || k === 'maxLength' || k === 'readOnly' || k === 'disabled') el[k] = v;
    else el.setAttribute(k, v === true ? '' : String(v));
  }
  for (const c of children.flat(Infinity)) if (c != null && c !== false) el.append(c instanceof Node ? c : String(c));
  return el;
}

export function svg(tag, attrs, text) {
  const el = document.createElementNS('http://www.w3.org/2000/svg', tag);
  for (const [k, v] of Object.entries(attrs || {})) el.setAttribute(k, String(v));
  if (text != null) el.textContent = text;
  return el;
}

export const chars = (s) => [...(s ?? '')].length;
export const show = (v) => (v == null ? '' : String(v));

let statusTimer;
export function status(text, bad = false) {
  const el = $('#status');
  el.textContent = text;
  el.className = 'status show' + (bad ? ' bad' : '');
  clearTimeout(statusTimer);
  statusTimer = setTimeout(() => { el.className = 'status'; }, bad ? 6000 : 2500);
}

// A refusal speaks of the page it came from; once the user has gone elsewhere it only misleads.
// Good news ("Removed.") is often given just before the page changes, so it stays.
export function dropRefusal() {
  const el = $('#status');
  if (el.classList.contains('bad')) { clearTimeout(statusTimer); el.className = 'status'; }
}

export function heading(title, sub, ...actions) {
  return h('div', { class: 'head' }, h('h1', {}, title), sub ? h('span', { class: 'sub' }, sub) : null,
    h('div', { class: 'actions' }, actions));
}

export const editButton = (text, onclick, cls = '') => (state.readOnly ? null : h('button', { type: 'button', class: cls, onclick }, text));

export function notice(kind, title, ...body) {
  return h('div', { class: 'notice ' + kind, role: kind === 'bad' ? 'alert' : null }, h('h3', {}, title), body);
}

export function rowsTable(columns, rows) {
  return h('table', {},
    h('tr', {}, columns.map((c) => h('th', {}, c))),
    rows.map((r) => h('tr', {}, columns.map((c) => h('td', {}, show(r[c]))))));
}

export function plural(n, one, many = one + 's') { return `${n} ${n === 1 ? one : many}`; }

export const guarded = (f) => async (...a) => { try { await f(...a); } catch (e) { status(e.message, true); } };
