// A document read now and every interval while the page is in view (a hidden page asks
// nothing), and at once when it comes back into view.
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
