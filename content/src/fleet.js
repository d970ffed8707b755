// The machines of the panel at a glance: each one's summary as its monitor gave it to ours
// (/fleet.json), marked by what its own monitor judges to fire.

import { rebootWords, stoppedServicesWords } from './host.js?v=1';
import { levelOf, worst } from './alerts.js?v=1';
import { MISSING } from './units.js?v=1';

export const FLEET_URL = '/fleet.json';
export const FLEET_INTERVAL = 5000;

/**
 * address -> summary, { problem } for a machine that said why it gives none ("needs a
 * password", "certificate not trusted", ...), or null for a machine that did not answer.
 */
export function fleetMap(doc) {
    const map = new Map();
    for (const m of Array.isArray(doc?.machines) ? doc.machines : []) {
        map.set(String(m.address), m.summary ?? (typeof m.problem === 'string' ? { problem: m.problem } : null));
    }
    return map;
}

const percent = (value) => (typeof value === 'number' && Number.isFinite(value) ? `${value.toFixed(1)} %` : MISSING);

/**
 * The texts of the four columns for one machine, and its host name (empty when it gave none):
 * undefined when it was not asked (its monitor is not running, or nobody has asked yet), null
 * when it did not answer, { problem } when it refused and said why. A restart owed and stopped
 * services are said beside the worst figure.
 */
export function summaryCells(summary) {
    const none = { processor: MISSING, memory: MISSING, volume: MISSING, level: 'none', name: '' };
    if (summary === undefined) return { ...none, words: MISSING };
    if (summary === null) return { ...none, words: 'no answer' };
    if (typeof summary.problem === 'string') return { ...none, words: summary.problem };
    const v = summary.volume;
    const marks = [rebootWords(summary.host), stoppedServicesWords(summary.host)].filter((m) => m);
    const alerts = Array.isArray(summary.alerts) ? summary.alerts.map(levelOf) : [];
    const state = worst([...alerts, marks.length ? { level: 'warn', words: '' } : { level: 'ok', words: '' }]);
    const words = [state.words, ...marks.map((m) => m.words)].filter((w) => w).join('; ');
    return {
        processor: percent(summary.processor),
        memory: percent(summary.memory),
        volume: v ? `${v.volume}: ${percent(v.used)} used` : MISSING,
        level: state.level,
        words: state.level === 'ok' ? 'OK' : words,
        name: typeof summary.host?.hostname === 'string' ? summary.host.hostname : '',
    };
}
