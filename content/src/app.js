// Start-up of the dashboard page: wires the poller to the view and keeps the connection line
// honest about whether the figures are live.

import { ChartBoard } from './charts.js?v=1';
import { DEFAULT_RANGE, HistoryStore, RANGES } from './history.js?v=1';
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

const RANGE_KEY = 'tarnivo.range';
const TITLES = { '5m': 'Last 5 minutes', '1h': 'Last hour', '24h': 'Last 24 hours' };

function rememberedRange() {
    try {
        return RANGES[localStorage.getItem(RANGE_KEY)] ?? DEFAULT_RANGE;
    } catch {
        // Storage refused (a private window, a policy): the default span.
        return DEFAULT_RANGE;
    }
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
    let range = rememberedRange();
    const board = new ChartBoard(range);
    const dashboard = new Dashboard(board, new HistoryStore(range));
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
    // The monitor's own history fills the charts at once, on open and when the span changes;
    // from then on the figures come from the status document alone.
    const loadHistory = async (store) => {
        const sent = Date.now();
        // A little more than the span, for a monitor whose clock runs behind this one's.
        const since = Math.floor(sent - (store.range.seconds + 10) * 1000);
        try {
            const document = JSON.parse(await fetchText(`/history.json?since=${since}`));
            if (dashboard.history !== store) return;
            // The monitor's times on this browser's clock, when the two clocks differ.
            const offset = ((sent + Date.now()) / 2 - document.now) / 1000;
            store.merge(document, Math.abs(offset) > 1 ? offset : 0);
            dashboard.redraw();
        } catch {
            // A monitor without the history (or not answering): the charts fill as figures come.
        }
    };
    const choice = $('range');
    const showRange = () => {
        choice.querySelector(`input[value="${range.id}"]`).checked = true;
        setText($('overview-title'), TITLES[range.id]);
        board.setRange(range);
    };
    choice.addEventListener('change', (event) => {
        range = RANGES[event.target.value] ?? DEFAULT_RANGE;
        try {
            localStorage.setItem(RANGE_KEY, range.id);
        } catch {
            // Not remembered, but shown.
        }
        showRange();
        const store = new HistoryStore(range);
        dashboard.useHistory(store);
        loadHistory(store);
    });
    showRange();
    loadHistory(dashboard.history);
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
