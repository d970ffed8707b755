// Each disk's own health (/health.json), read every minute: the monitor asks the disks no
// more often.
export const HEALTH_URL = '/health.json';
export const HEALTH_INTERVAL = 60000;

const COUNTS = {
    nvme: [['temperature', ' °C'], ['percentageUsed', ' % of its life used'], ['mediaErrors', ' media errors'], ['powerOnHours', ' hours on']],
    ata: [['reallocated', ' reallocated'], ['pending', ' pending'], ['reportedUncorrectable', ' uncorrectable'], ['offlineUncorrectable', ' offline uncorrectable']],
};
// Sectors given up on or unreadable, and media errors, come before a drive's own verdict.
const WEAR = ['mediaErrors', 'reallocated', 'pending', 'reportedUncorrectable', 'offlineUncorrectable'];

/** The line under a disk card: the drive's verdict and what its kind keeps. */
export function describeHealth(entry) {
    if (entry?.reported !== true) return { level: 'none', words: 'Health: not reported', title: String(entry?.why ?? '') };
    const parts = (COUNTS[entry.kind] ?? []).filter(([key]) => typeof entry[key] === 'number').map(([key, unit]) => entry[key] + unit);
    const worn = WEAR.some((key) => entry[key] > 0);
    const head = entry.failing ? 'Health: the drive says it is failing' : 'Health: good';
    return { level: entry.failing ? 'alert' : worn ? 'warn' : 'ok', words: [head, ...parts].join(' · '), title: '' };
}
