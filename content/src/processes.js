// The busiest processes panel: /processes.json every two seconds, and only while the panel is
// open, since every read makes the monitor walk the process list.

import { formatBytes, MISSING } from './units.js?v=1';

export const PROCESSES_URL = '/processes.json';
export const PROCESSES_INTERVAL = 2000;
const KEY_OPEN = 'tarnivo.processes.open';

const share = (value) => (typeof value === 'number' && Number.isFinite(value) ? `${value.toFixed(1)} %` : MISSING);

/** The table rows of one list: texts in column order, the process id as the row's key. */
export function processRows(list) {
    return (Array.isArray(list) ? list : []).map((p) => ({
        key: String(p.pid),
        cells: [String(p.name || '(no name)'), String(p.pid), share(p.core), share(p.machine), formatBytes(p.resident)],
    }));
}

function fill(body, rows) {
    while (body.children.length > rows.length) body.lastChild.remove();
    rows.forEach((row, i) => {
        let tr = body.children[i];
        if (!tr) {
            tr = document.createElement('tr');
            for (let c = 0; c < row.cells.length; c++) tr.append(document.createElement('td'));
            body.append(tr);
        }
        tr.dataset.pid = row.key;
        row.cells.forEach((text, c) => {
            if (tr.children[c].textContent !== text) tr.children[c].textContent = text;
        });
    });
}

export function startProcessesPanel(fetchJson) {
    const $ = (id) => document.getElementById(id);
    const details = $('processes-panel');
    const state = $('processes-state');
    if (!details) return;
    let timer = null;
    const read = async () => {
        timer = null;
        try {
            const doc = await fetchJson(PROCESSES_URL);
            fill($('processes-cpu'), processRows(doc.byProcessor));
            fill($('processes-memory'), processRows(doc.byMemory));
            state.textContent = doc.interval === null
                ? 'Measuring processor use: the first figures follow in two seconds.'
                : `Processor use over the last ${doc.interval.toFixed(1)} seconds; ${doc.cores} logical processors make 100 % of the machine.`;
        } catch {
            state.textContent = 'The monitor did not answer; the lists shown may be out of date.';
        }
        if (details.open) timer = setTimeout(read, PROCESSES_INTERVAL);
    };
    const toggle = () => {
        try {
            localStorage.setItem(KEY_OPEN, String(details.open));
        } catch {
            // Private windows may refuse storage; the panel then starts closed.
        }
        if (details.open && timer === null) read();
        if (!details.open && timer !== null) {
            clearTimeout(timer);
            timer = null;
        }
    };
    // Started when the panel is first opened, or at once when the browser left it open.
    try {
        if (localStorage.getItem(KEY_OPEN) === 'true') details.open = true;
    } catch {
        // Without storage the panel starts as the page has it.
    }
    details.addEventListener('toggle', toggle);
    if (details.open) toggle();
}
