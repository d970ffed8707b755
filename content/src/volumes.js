// Volumes and their free space (/volumes.json), read every ten seconds while the page is in
// view: space changes slowly, and every read asks the system afresh.

import { watchJson } from './watch.js?v=1';

export const VOLUMES_URL = '/volumes.json';
export const VOLUMES_INTERVAL = 10000;

/**
 * Each volume with its share used; null figures where its size is not known, and
 * `answering` false for one whose file system did not answer the monitor in time.
 */
export function describeVolumes(document) {
    const list = Array.isArray(document?.volumes) ? document.volumes : [];
    return list.map((v) => {
        const known = v.size > 0 && v.free >= 0 && v.free <= v.size;
        return {
            volume: String(v.volume ?? ''),
            disk: v.disk,
            storage: v.storage ?? null,
            answering: v.answering !== false,
            size: known ? v.size : null,
            free: known ? v.free : null,
            used: known ? ((v.size - v.free) / v.size) * 100 : null,
            level: 'ok',
            words: '',
        };
    });
}

/** The system's name of each disk ("sda", "PhysicalDrive0") by its record's identifier. */
export function diskNames(document) {
    const list = Array.isArray(document?.disks) ? document.disks : [];
    return new Map(list.filter((d) => d?.storage && d.name).map((d) => [d.storage, String(d.name)]));
}

/** The volume with the largest share used, or null. */
export function fullest(volumes) {
    let best = null;
    for (const v of volumes) if (v.used !== null && (best === null || v.used > best.used)) best = v;
    return best;
}

/** Reads the volumes now and then every interval; `onVolumes(list, diskNames)` after each good read. */
export function watchVolumes(fetchJson, onVolumes, interval = VOLUMES_INTERVAL) {
    watchJson(fetchJson, VOLUMES_URL, (doc) => onVolumes(describeVolumes(doc), diskNames(doc)), interval);
}
