// Signing in and out of an editor served with --sign-in, and who is working
// on the editor's page.  The password goes only in the sign-in request's
// body; the session lives in an HttpOnly cookie the script never sees.
'use strict';

(() => {
  const $ = (selector) => document.querySelector(selector);
  const params = new URLSearchParams(location.search);
  const token = params.get('token') || sessionStorage.getItem('kiv-token') || '';
  if (params.has('token')) sessionStorage.setItem('kiv-token', token);

  async function call(method, path, session, body) {
    const headers = { Accept: 'application/json' };
    if (token) headers.Authorization = 'Bearer ' + token;
    if (session) headers['X-Kiv-Session'] = session;
    if (body !== undefined) headers['Content-Type'] = 'application/json';
    const res = await fetch(path, { method, headers, body: body === undefined ? undefined : JSON.stringify(body) });
    const reply = await res.json().catch(() => ({}));
    if (!res.ok) throw new Error(reply.error || res.statusText);
    return reply;
  }

  function warnInsecure(session) {
    const warning = $('#insecure');
    if (warning) warning.hidden = !session.insecure;
  }

  async function signInPage() {
    const session = await call('GET', '/api/session');
    $('#catalogue').textContent = session.catalogue || '';
    warnInsecure(session);
    $('#signin').addEventListener('submit', async (event) => {
      event.preventDefault();
      const failure = $('#failure');
      failure.hidden = true;
      const password = $('#password');
      try {
        await call('POST', '/api/signin', session.session, { person: $('#person').value, password: password.value });
        location.replace('/');
      } catch (e) {
        failure.textContent = e.message;
        failure.hidden = false;
      } finally {
        password.value = '';
      }
    });
  }

  // The editor's page: who is signed in, a way out, and why it is read-only.
  async function editorPage() {
    const session = await call('GET', '/api/session');
    // The session ended between the page and this request: sign in again.
    if (session.signIn && !session.signedIn) return location.replace('/');
    const bar = $('header.bar');
    if (session.readOnlyReason) $('#readonly').title = session.readOnlyReason;
    if (!session.person) return;
    const person = document.createElement('span');
    person.id = 'person';
    person.className = 'badge';
    person.textContent = session.person;
    bar.append(person);
    if (session.insecure) {
      const warning = document.createElement('span');
      warning.className = 'badge warn';
      warning.textContent = 'unencrypted';
      warning.title = 'This editor is served without encryption: passwords and changes cross the network readable.';
      bar.append(warning);
    }
    if (!session.signedIn) return;
    const out = document.createElement('button');
    out.type = 'button';
    out.id = 'sign-out';
    out.textContent = 'Sign out';
    out.addEventListener('click', async () => {
      await call('POST', '/api/signout', session.session, {});
      location.replace('/');
    });
    bar.append(out);
  }

  (document.getElementById('signin') ? signInPage() : editorPage()).catch(() => {});
})();
