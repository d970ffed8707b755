// Start-up of the dashboard page: wires the poller to the view and keeps the connection line
// honest about whether the figures are live.

import { ChartBoard } from './charts.js?v=1';
import { HistoryStore } from './history.js?v=1';
import { StatusPoller, TIMINGS } from './monitor.js?v=1';
import { formatClock } from './units.js?v=1';
import { Dashboard } from './view.js?v=1';
import { startProcessesPanel } from './processes.js?v=1';
import { watchVolumes } from './volumes.js?v=1';

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

async function fetchText(url, signal) {
    const response = await fetch(url, { cache: 'no-store', signal });
    if (!response.ok) throw new Error(`HTTP ${response.status}`);
    return response.text();
}

function start() {
    // Several machines are often watched side by side: say which one this is.
    document.title = `Tarnivo · ${location.host}`;
    setText($('host'), location.host);
    const history = new HistoryStore();
    const board = new ChartBoard();
    const dashboard = new Dashboard(board, history);
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
                history.markGap(Date.now() / 1000);
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
    poller.start();
    const fetchJson = async (url) => JSON.parse(await fetchText(url));
    watchVolumes(fetchJson, (volumes) => dashboard.showVolumes(volumes));
    startProcessesPanel(fetchJson);
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
