// A document read now and then every interval while the page is in view, and at once when the
// page comes back into view: what the monitor has must not be asked for by a hidden page.

/** Calls `onDocument(doc)` after each good read of url. */
export function watchJson(fetchJson, url, onDocument, interval) {
    let timer = null;
    const read = async () => {
        timer = null;
        if (!document.hidden) {
            try {
                onDocument(await fetchJson(url));
            } catch {
                // The status line already says when the monitor is not answering.
            }
        }
        timer = setTimeout(read, interval);
    };
    document.addEventListener('visibilitychange', () => {
        if (!document.hidden && timer !== null) {
            clearTimeout(timer);
            read();
        }
    });
    read();
}
