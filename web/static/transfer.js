// Import of a catalogue document and download of the export.

import { state, api } from './api.js';
import { $, h, plural, guarded } from './dom.js';
import { href } from './routes.js';
import { openDialog } from './dialogs.js';
import { loadTree } from './tree.js';

// `render` draws the current page again once an import has changed the catalogue.
export function setupTransfer(render) {
  $('#export').addEventListener('click', guarded(async () => {
    const blob = await api('GET', '/api/export');
    const a = h('a', { href: URL.createObjectURL(blob), download: (state.name || 'catalogue').replace(/[^\w.-]+/g, '_').replace(/\.\w+$/, '') + '.json' });
    document.body.append(a);
    a.click();
    a.remove();
    setTimeout(() => URL.revokeObjectURL(a.href), 10000);
  }));
  $('#import').addEventListener('change', guarded(async (e) => {
    const file = e.target.files[0];
    e.target.value = '';
    if (!file) return;
    const text = await file.text();
    let answer;
    try {
      answer = await api('POST', '/api/import', text);
    } catch (err) {
      answer = { error: err.message, messages: (err.data && err.data.messages) || [] };
    }
    await loadTree();
    render();
    const messages = answer.messages || [];
    openDialog({
      title: answer.error ? 'Import refused' : 'Imported', confirm: 'Close', cancel: null, action: () => true,
      text: answer.error || `${file.name}: ${plural(answer.added || 0, 'module')} added.`,
    });
    if (messages.length) $('#dialog form .buttons').before(h('ul', { class: 'messages' }, messages.map((m) => h('li', {}, m))));
  }));
}
