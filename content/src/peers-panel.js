// Wires the "Machines on this network" panel of the page to its PeersPanel.

import { FLEET_INTERVAL, FLEET_URL, fleetMap, summaryCells } from './fleet.js?v=1';
import { PeersPanel } from './peers.js?v=1';
import { formatClock } from './units.js?v=1';

const $ = (id) => document.getElementById(id);
// Loaded by the page when the panel opens, or at once when it was left open.
const KEY_OPEN = 'tarnivo.peers.open';
const KEY_AUTO = 'tarnivo.peers.auto';

function remembered(key) {
    try {
        return localStorage.getItem(key) === 'true';
    } catch {
        return false;
    }
}

function remember(key, on) {
    try {
        localStorage.setItem(key, String(on));
    } catch {
        // Private windows may refuse storage; the panel then starts closed and quiet next time.
    }
}

async function fetchJson(url, signal) {
    const response = await fetch(url, { cache: 'no-store', signal });
    if (!response.ok) throw new Error(`HTTP ${response.status}`);
    return response.json();
}

function cell(row, content) {
    const td = document.createElement('td');
    if (typeof content === 'string') td.textContent = content;
    else td.append(content);
    row.append(td);
    return td;
}

function peerRow(peer) {
    const tr = document.createElement('tr');
    tr.dataset.peer = peer.address;
    const name = cell(tr, '');
    name.className = 'peer-address';
    const host = document.createElement('span');
    host.className = 'peer-name';
    name.append(host, peer.address);
    if (peer.thisMachine) {
        tr.classList.add('this-machine');
        const badge = document.createElement('span');
        badge.className = 'badge';
        badge.textContent = 'this machine';
        name.append(' ', badge);
    }
    cell(tr, peer.version ?? 'not known yet');
    if (peer.href) {
        const link = document.createElement('a');
        link.href = peer.href;
        link.textContent = peer.thisMachine ? 'This dashboard' : 'Open its dashboard';
        link.setAttribute('aria-label', `Open the dashboard of ${peer.address}`);
        cell(tr, link);
    } else {
        cell(tr, peer.port === 0 ? 'Its monitor is not running' : 'Port not known yet').className = 'muted';
    }
    cell(tr, peer.lastHeard ? formatClock(peer.lastHeard) : '–').className = 'muted';
    for (const name of ['processor', 'memory', 'volume', 'status']) cell(tr, '–').className = `fleet-${name}`;
    return tr;
}

/** Writes each machine's summary into its row; a row whose monitor was not asked keeps dashes. */
function showFleet(list, fleet) {
    for (const tr of list.children) {
        const cells = summaryCells(fleet.has(tr.dataset.peer) ? fleet.get(tr.dataset.peer) : undefined);
        const [processor, memory, volume, status] = [...tr.children].slice(-4);
        const name = tr.querySelector('.peer-name');
        if (name.textContent !== cells.name) name.textContent = cells.name;
        processor.textContent = cells.processor;
        memory.textContent = cells.memory;
        volume.textContent = cells.volume;
        status.textContent = cells.words;
        status.dataset.level = cells.level;
    }
}

function start() {
    const details = $('peers-panel');
    const button = $('peers-look');
    const auto = $('peers-auto');
    const state = $('peers-state');
    const empty = $('peers-empty');
    const table = $('peers-table');
    const list = $('peers-list');
    if (!details) return;
    // While a look is under way the list may still lack its answers: nothing is concluded
    // from it until the answers have been read.
    let looking = false;
    let lastView = null;
    const conclude = (view) => {
        let text = '';
        if (!view.running) text = 'The monitor is not running, so it cannot look.';
        else if (!view.looked) text = 'Nobody has looked yet. “Look for machines” asks every Tarnivo on this machine’s networks.';
        else if (view.others === 0 && !looking) text = 'No other Tarnivo answered on this network.';
        empty.textContent = text;
        empty.hidden = text === '';
        if (looking) {
            state.textContent = 'Looking for machines…';
        } else if (view.looked) {
            const n = view.answered;
            const silent = view.others - n;
            state.textContent = `Last looked at ${formatClock(view.lastLook)}: ` +
                `${n} other ${n === 1 ? 'machine' : 'machines'} answered` +
                (silent > 0 ? `; ${silent} listed from an earlier look did not.` : '.');
        }
    };

    const panel = new PeersPanel({
        fetchJson,
        clock: { setTimeout: (fn, ms) => setTimeout(fn, ms), clearTimeout: (id) => clearTimeout(id) },
        onView(view) {
            list.replaceChildren(...view.rows.map(peerRow));
            showFleet(list, fleet);
            table.hidden = view.rows.length === 0;
            lastView = view;
            conclude(view);
        },
        onError() {
            state.textContent = 'The monitor did not answer; the list shown may be out of date.';
        },
        onLooking(on) {
            looking = on;
            button.setAttribute('aria-disabled', on ? 'true' : 'false');
            if (on) state.textContent = 'Looking for machines…';
            else if (lastView) conclude(lastView);
        },
    });

    auto.checked = remembered(KEY_AUTO);
    panel.setAuto(auto.checked);
    auto.addEventListener('change', () => {
        remember(KEY_AUTO, auto.checked);
        panel.setAuto(auto.checked);
    });
    button.addEventListener('click', () => {
        if (button.getAttribute('aria-disabled') !== 'true') panel.look();
    });
    // The machines' summaries, fetched by this monitor for us, only while the panel is open.
    let fleet = new Map();
    let fleetTimer = null;
    const readFleet = async () => {
        fleetTimer = null;
        try {
            fleet = fleetMap(await fetchJson(FLEET_URL));
            showFleet(list, fleet);
        } catch {
            // The list's own reads say when the monitor does not answer.
        }
        if (details.open && fleetTimer === null) fleetTimer = setTimeout(readFleet, FLEET_INTERVAL);
    };
    const followFleet = () => {
        clearTimeout(fleetTimer);
        fleetTimer = null;
        if (details.open) readFleet();
    };

    details.open ||= remembered(KEY_OPEN);
    remember(KEY_OPEN, details.open);
    panel.setOpen(details.open);
    followFleet();
    details.addEventListener('toggle', () => {
        remember(KEY_OPEN, details.open);
        panel.setOpen(details.open);
        followFleet();
    });
}

start();
