// Which machine this is, since when it runs, who is signed in, whether it must restart and
// which services that should run do not (/host.json), read every 30 seconds while the page is
// in view: none of it changes quickly.

import { MISSING } from './units.js?v=1';

export const HOST_URL = '/host.json';
export const HOST_INTERVAL = 30000;

const UNITS = [[86400, 'day'], [3600, 'hour'], [60, 'minute']];

/** "up 3 days": the largest whole unit of the time since the start. */
export function formatUptime(seconds) {
    if (typeof seconds !== 'number' || !Number.isFinite(seconds) || seconds < 0) return MISSING;
    for (const [size, name] of UNITS) {
        const n = Math.floor(seconds / size);
        if (n >= 1) return `up ${n} ${name}${n === 1 ? '' : 's'}`;
    }
    return 'up less than a minute';
}

/** The words of a restart owed, or null when none is. */
export function rebootWords(host) {
    if (host?.rebootRequired !== true) return null;
    const reasons = Array.isArray(host.rebootReasons) ? host.rebootReasons.map(String) : [];
    return { words: 'Restart required', title: reasons.length ? `Asked for by: ${reasons.join(', ')}` : '' };
}

/** The services that should run and do not, as a mark; null when there are none or none were read. */
export function stoppedServicesWords(host) {
    const stopped = host?.services?.read === true && Array.isArray(host.services.stopped) ? host.services.stopped : [];
    if (stopped.length === 0) return null;
    const n = stopped.length;
    return {
        words: `${n} automatic ${n === 1 ? 'service' : 'services'} not running`,
        title: stopped.map((s) => `${s.displayName || s.name} (${s.state})`).join(', '),
    };
}

/** The services line: a mark naming the stopped ones, else a plain line. */
function servicesLine(host) {
    const stopped = stoppedServicesWords(host);
    if (stopped) return { words: `${stopped.words}: ${stopped.title}`, title: '', level: 'warn' };
    if (host?.services?.read === true) return { words: 'Automatic services running', title: '', level: 'ok' };
    return { words: 'Services not checked', title: String(host?.services?.why ?? ''), level: 'none' };
}

/** What the page shows of /host.json; `address` names the machine when it gives no name. */
export function describeHost(host, address) {
    const name = typeof host?.hostname === 'string' && host.hostname !== '' ? host.hostname : address;
    const sessions = Array.isArray(host?.users) ? host.users : [];
    const count = typeof host?.userCount === 'number' ? host.userCount : new Set(sessions.map((s) => s.user)).size;
    const since = typeof host?.bootTime === 'number' ? new Date(host.bootTime * 1000) : null;
    return {
        name,
        title: `Tarnivo · ${name}`,
        system: [host?.os, host?.version].filter((t) => typeof t === 'string' && t !== '').join(' · '),
        up: formatUptime(host?.upSeconds),
        since,
        users: count === 0 ? 'Nobody signed in' : `${count} ${count === 1 ? 'person' : 'people'} signed in:`,
        sessions: sessions.map((s) => {
            const details = [s.state, s.where].filter((t) => typeof t === 'string' && t !== '');
            return details.length ? `${s.user} (${details.join(', ')})` : String(s.user);
        }),
        reboot: rebootWords(host),
        services: servicesLine(host),
    };
}
