// Start-up of the dashboard page: wires the poller to the view and keeps the connection line
// honest about whether the figures are live.

import { ALERTS_INTERVAL, ALERTS_URL, marksOf } from './alerts.js?v=1';
import { ChartBoard } from './charts.js?v=1';
import { DEFAULT_RANGE, HistoryStore, RANGES } from './history.js?v=1';
import { StatusPoller, TIMINGS } from './monitor.js?v=1';
import { HEALTH_INTERVAL, HEALTH_URL } from './disk-health.js?v=1';
import { describeHost, HOST_INTERVAL, HOST_URL } from './host.js?v=1';
import { formatClock } from './units.js?v=1';
import { Dashboard } from './view.js?v=1';
import { watchVolumes } from './volumes.js?v=1';
import { watchJson } from './watch.js?v=1';

const $ = (id) => document.getElementById(id);
const connection = $('connection');
const updated = $('updated');
const rescan = $('rescan');
const problem = $('problem');

function say(text, state) {
    if (connection.textContent !== text) connection.textContent = text;
    document.body.dataset.connection = state;
}

function counted(n, one, many) {
    return `${n} ${n === 1 ? one : many}`;
}

const RANGE_KEY = 'tarnivo.range';
// The peers panel's own key: it is loaded at once when it was left open.
const PEERS_OPEN = 'tarnivo.peers.open';
const PROCESSES_OPEN = 'tarnivo.processes.open';

async function fetchText(url, signal) {
    const response = await fetch(url, { cache: 'no-store', signal });
    if (!response.ok) throw new Error(`HTTP ${response.status}`);
    return response.text();
}

/** This machine's name in the header and the title, and its facts below the header. */
function showHost(host) {
    if (document.title !== host.title) document.title = host.title;
    setText($('host'), host.name);
    setText($('host-address'), host.name === location.host ? '' : location.host);
    setText($('host-system'), host.system);
    const up = $('host-up');
    setText(up, host.up);
    up.title = host.since ? `Started ${host.since.toLocaleString()}` : '';
    const reboot = $('host-reboot');
    reboot.hidden = host.reboot === null;
    setText(reboot, host.reboot?.words ?? '');
    reboot.title = host.reboot?.title ?? '';
    const services = $('host-services');
    setText(services, host.services.words);
    services.title = host.services.title;
    services.dataset.level = host.services.level;
    setText($('host-users'), host.users);
}

function start() {
    // Several machines are often watched side by side: say which one this is, by its address
    // until the monitor has given its name.
    document.title = `Tarnivo · ${location.host}`;
    setText($('host'), location.host);
    let range = DEFAULT_RANGE;
    try {
        range = RANGES[localStorage.getItem(RANGE_KEY)] ?? range;
    } catch {
        // Private windows may refuse storage: the span is then not remembered.
    }
    const board = new ChartBoard(range);
    const dashboard = new Dashboard(board, null);
    let rescanning = false;
    let lastTime = null;

    const poller = new StatusPoller({
        fetchText,
        parseXml: (text) => new DOMParser().parseFromString(text, 'application/xml'),
        clock: {
            now: () => Date.now(),
            setTimeout: (fn, ms) => setTimeout(fn, ms),
            clearTimeout: (id) => clearTimeout(id),
        },
        onStatus(status, { rebuilt, held }) {
            const now = new Date();
            lastTime = now;
            dashboard.show(status, { time: now.getTime() / 1000, held, rebuilt });
            setText(updated, `Updated ${formatClock(now)}`);
            if (rebuilt) {
                busy(false);
                const found = [
                    counted(status.Processor.length, 'processor', 'processors'),
                    counted(status.Network.length, 'network adapter', 'network adapters'),
                    counted(status.Storage.length, 'disk', 'disks'),
                ].join(', ');
                say(`Live. ${rescanning ? 'Devices rescanned' : 'Devices found'}: ${found}.`, 'live');
                rescanning = false;
            }
        },
        onConnection({ state, since }) {
            if (state === 'live') {
                say('Live: figures update every second.', 'live');
            } else if (state === 'down') {
                dashboard.history.markGap(Date.now() / 1000);
                const when = lastTime ? ` Figures shown are from ${formatClock(lastTime)}.` : '';
                say(`Not connected: the monitor is not answering (since ${formatClock(new Date(since))}).` +
                    `${when} Trying again every ${TIMINGS.retry / 1000} seconds.`, 'down');
            } else {
                say('Connecting to the monitor…', 'connecting');
            }
        },
        onProblem(error) {
            problem.hidden = !error;
            if (error) {
                setText(problem, 'The monitor answered, but its status document could not be read; ' +
                    'the figures shown are the last ones that could.');
            }
        },
    });

    // aria-disabled rather than disabled: a disabled button would drop the keyboard focus.
    const busy = (on) => rescan.setAttribute('aria-disabled', on ? 'true' : 'false');
    rescan.addEventListener('click', () => {
        if (rescanning) return;
        rescanning = true;
        busy(true);
        say('Rescanning devices…', document.body.dataset.connection);
        poller.rescan();
    });
    // The monitor's own history fills the charts on open and when the span changes; the
    // figures of every second come from the status document alone.
    const loadHistory = async (store) => {
        const sent = Date.now();
        try {
            const since = Math.floor(sent - (store.range.seconds + 10) * 1000);
            const document = JSON.parse(await fetchText(`/history.json?since=${since}`));
            // The monitor's times on this browser's clock, should the two differ.
            const offset = ((sent + Date.now()) / 2 - document.now) / 1000;
            if (dashboard.history !== store) return;
            store.merge(document, Math.abs(offset) > 1 ? offset : 0);
            dashboard.redraw();
        } catch {
            // Without it the charts fill as the figures come.
        }
    };
    const showRange = () => {
        $('range').querySelector(`[value="${range.id}"]`).checked = true;
        setText($('overview-title'), range.words.replace('the l', 'L'));
        board.setRange(range);
        dashboard.useHistory(new HistoryStore(range));
        loadHistory(dashboard.history);
    };
    $('range').addEventListener('change', (event) => {
        range = RANGES[event.target.value];
        showRange();
        try {
            localStorage.setItem(RANGE_KEY, range.id);
        } catch {}
    });
    showRange();
    poller.start();
    // The panel of other machines fetches its code when it is first opened: not in the first view.
    const peers = $('peers-panel');
    const loadPeers = () => import('./peers-panel.js?v=1');
    try {
        if (localStorage.getItem(PEERS_OPEN) === 'true') loadPeers();
    } catch {}
    peers.addEventListener('toggle', loadPeers, { once: true });
    const fetchJson = async (url) => JSON.parse(await fetchText(url));
    watchVolumes(fetchJson, (volumes, names) => dashboard.showVolumes(volumes, names));
    watchJson(fetchJson, ALERTS_URL, (doc) => dashboard.showMarks(marksOf(doc)), ALERTS_INTERVAL);
    watchJson(fetchJson, HEALTH_URL, (doc) => dashboard.showHealth(Array.isArray(doc?.disks) ? doc.disks : []), HEALTH_INTERVAL);
    watchJson(fetchJson, HOST_URL, (host) => showHost(describeHost(host, location.host)), HOST_INTERVAL);
    // So does the panel of the busiest processes, once: opened by hand or as the browser left it.
    let processes = null;
    const loadProcesses = () => {
        processes ??= import('./processes.js?v=1').then((panel) => panel.startProcessesPanel(fetchJson));
    };
    try {
        if (localStorage.getItem(PROCESSES_OPEN) === 'true') loadProcesses();
    } catch {}
    $('processes-panel').addEventListener('toggle', loadProcesses, { once: true });
}

function setText(node, text) {
    if (node.textContent !== text) node.textContent = text;
}

if (globalThis.uPlot) {
    start();
} else {
    // The chart library is a classic deferred script; it normally runs before this module.
    window.addEventListener('DOMContentLoaded', start, { once: true });
}
