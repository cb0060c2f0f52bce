// The server's JSON API: the page's session state and one call per request.

import { status } from './dom.js';

export const state = { session: '', token: '', readOnly: false, name: '', tree: null, indexWidths: {}, open: new Set() };

export class ApiError extends Error {
  constructor(status, data) {
    super((data && data.error) || `The server answered ${status}.`);
    this.status = status;
    this.data = data || {};
  }
}

export async function api(method, path, body) {
  const headers = { Accept: 'application/json' };
  if (state.session) headers['X-Kiv-Session'] = state.session;
  if (state.token) headers.Authorization = 'Bearer ' + state.token;
  const init = { method, headers };
  if (body !== undefined) {
    headers['Content-Type'] = 'application/json';
    init.body = typeof body === 'string' ? body : JSON.stringify(body);
  }
  let res;
  try { res = await fetch(path, init); } catch { throw new ApiError(0, { error: 'The server cannot be reached.' }); }
  if (path === '/api/export' && res.ok) return res.blob();
  const text = await res.text();
  let data = null;
  try { data = text ? JSON.parse(text) : null; } catch { data = { error: text }; }
  if (!res.ok) throw new ApiError(res.status, data);
  return data;
}

export const query = (o) => '?' + new URLSearchParams(Object.entries(o).filter(([, v]) => v != null)).toString();
