// Which machine this is, since when it runs, who is signed in and whether it must restart
// (/host.json), read every 30 seconds while the page is in view: none of it changes quickly.

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
    };
}
