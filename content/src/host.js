// This machine, its start, its people, an owed restart and stopped services (/host.json),
// read every 30 seconds: none of it changes quickly.

import { MISSING } from './units.js?v=1';

export const HOST_URL = '/host.json';
export const HOST_INTERVAL = 30000;

/** "up 3 days": the largest whole unit of the time since the start. */
export function formatUptime(seconds) {
    if (!(seconds >= 0) || seconds === Infinity || typeof seconds !== 'number') return MISSING;
    for (const [size, name] of [[86400, 'day'], [3600, 'hour'], [60, 'minute']]) {
        const n = Math.floor(seconds / size);
        if (n >= 1) return `up ${n} ${name}${n === 1 ? '' : 's'}`;
    }
    return 'up less than a minute';
}

/** The words of a restart owed, or null when none is. */
export function rebootWords(host) {
    if (host?.rebootRequired !== true) return null;
    const reasons = host.rebootReasons?.join(', ');
    return { words: 'Restart required', title: reasons ? `Asked for by: ${reasons}` : '' };
}

/** The services that should run and do not; null when none, or none were read. */
export function stoppedServicesWords(host) {
    const stopped = host?.services?.read === true ? host.services.stopped ?? [] : [];
    const n = stopped.length;
    if (n === 0) return null;
    // systemd's units in the failed state (Linux), or automatic services not running (Windows)
    const units = stopped.every((s) => s.state === 'failed');
    return {
        words: units ? `${n} failed ${n === 1 ? 'unit' : 'units'}`
            : `${n} automatic ${n === 1 ? 'service' : 'services'} not running`,
        title: stopped.map((s) => `${s.displayName || s.name} (${s.state})`).join(', '),
    };
}

function servicesLine(host) {
    const stopped = stoppedServicesWords(host);
    if (stopped) return { words: `${stopped.words}: ${stopped.title}`, title: '', level: 'warn' };
    if (host?.services?.read === true) {
        const words = /windows/i.test(host.os ?? '') ? 'Automatic services running' : 'No failed units';
        return { words, title: '', level: 'ok' };
    }
    return { words: 'Services not checked', title: String(host?.services?.why ?? ''), level: 'none' };
}

/** What the page shows of /host.json; `address` names the machine when it gives no name. */
export function describeHost(host, address) {
    const name = typeof host?.hostname === 'string' && host.hostname !== '' ? host.hostname : address;
    const sessions = host?.users ?? [];
    const count = host?.userCount ?? 0;
    return {
        name,
        title: `Tarnivo · ${name}`,
        system: [host?.os, host?.version].filter((t) => t).join(' · '),
        up: formatUptime(host?.upSeconds),
        since: typeof host?.bootTime === 'number' ? new Date(host.bootTime * 1000) : null,
        // Each session with its state and place: one person may hold several.
        users: count === 0 ? 'Nobody signed in' : `${count} ${count === 1 ? 'person' : 'people'} signed in: ${sessions.map((s) => {
            const details = [s.state, s.where].filter((t) => t);
            return details.length ? `${s.user} (${details.join(', ')})` : s.user;
        }).join(', ')}`,
        reboot: rebootWords(host),
        services: servicesLine(host),
    };
}
