// What needs attention, as the monitor judges it (/alerts.json): every viewer sees the same marks,
// in words beside the colour, a page opened late included. The page judges nothing itself.

export const ALERTS_URL = '/alerts.json';
export const ALERTS_INTERVAL = 2000;

const OK = Object.freeze({ level: 'ok', words: '' });
const RANK = { ok: 0, warn: 1, alert: 2 };

/** The worst of several levels. */
export function worst(levels) {
    return levels.reduce((a, b) => (RANK[b.level] > RANK[a.level] ? b : a), OK);
}

/** An alert as a mark: 'alert' for critical, 'warn' otherwise. */
export const levelOf = (a) => ({ level: a.severity === 'critical' ? 'alert' : 'warn', words: String(a.words ?? '') });

/** Card key -> the worst mark of the alerts firing for it. */
export function marksOf(doc) {
    const marks = new Map();
    for (const a of Array.isArray(doc?.alerts) ? doc.alerts : []) {
        marks.set(String(a.key), worst([marks.get(String(a.key)) ?? OK, levelOf(a)]));
    }
    return marks;
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
