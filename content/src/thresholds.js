// When a figure needs attention, said in words as well as in colour: a processor busy for a
// minute, memory nearly full, a link nearly saturated, a volume running out of space.

export const LIMITS = Object.freeze({
    processor: 90, // percent, held for processorSeconds
    processorSeconds: 60,
    memory: 90,
    link: 80,
    volumeLow: 10, // percent free
    volumeCritical: 5,
});

/** 'ok', 'warn' or 'alert', with the words shown beside the colour (empty when 'ok'). */
const OK = Object.freeze({ level: 'ok', words: '' });

export function memoryLevel(percent) {
    return percent !== null && percent >= LIMITS.memory
        ? { level: 'warn', words: `Nearly full: ${LIMITS.memory} % or more in use` }
        : OK;
}

export function linkLevel(percent) {
    return percent !== null && percent >= LIMITS.link
        ? { level: 'warn', words: `Busy link: ${LIMITS.link} % or more of its speed` }
        : OK;
}

/** A volume by its share free; a volume of unknown size is not judged. */
export function volumeLevel(size, free) {
    if (!(size > 0) || !(free >= 0)) return OK;
    const share = (free / size) * 100;
    if (share < LIMITS.volumeCritical) return { level: 'alert', words: `Almost full: under ${LIMITS.volumeCritical} % free` };
    if (share < LIMITS.volumeLow) return { level: 'warn', words: `Low on space: under ${LIMITS.volumeLow} % free` };
    return OK;
}

/**
 * A processor is marked once it has stayed at or above the limit for the whole of the last
 * minute; one reading below, or a missing one, starts the minute again.
 */
export class SustainedLoad {
    constructor(limit = LIMITS.processor, seconds = LIMITS.processorSeconds) {
        this.limit = limit;
        this.seconds = seconds;
        this.since = null;
    }

    /** time in seconds, percent or null; returns the level. */
    update(time, percent) {
        if (percent === null || percent < this.limit) this.since = null;
        else if (this.since === null) this.since = time;
        return this.since !== null && time - this.since >= this.seconds
            ? { level: 'alert', words: `Busy: ${this.limit} % or more for a minute` }
            : OK;
    }
}

/** Marks a card (or a figure) and its badge; the badge is made on first need. */
export function mark(node, { level, words }) {
    if (node.dataset.level !== level) node.dataset.level = level;
    let badge = node.querySelector(':scope > .level');
    if (!words) {
        if (badge) badge.hidden = true;
        return;
    }
    if (!badge) {
        badge = document.createElement('p');
        badge.className = 'level';
        const head = node.querySelector(':scope > h3, :scope > .core-head');
        if (head) head.after(badge);
        else node.prepend(badge);
    }
    badge.hidden = false;
    if (badge.textContent !== words) badge.textContent = words;
}

/** The worst of several levels, for the overview. */
export function worst(levels) {
    const rank = { ok: 0, warn: 1, alert: 2 };
    return levels.reduce((a, b) => (rank[b.level] > rank[a.level] ? b : a), OK);
}
