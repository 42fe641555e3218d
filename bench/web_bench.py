"""The browser edition against the native quillmoor-patch, on the same sample game and machine.

usage: web_bench.py SITE QUILLMOOR_PATCH SAMPLE RUNS OUT_FILE

Times RUNS runs of each, in alternation: quillmoor-patch SAMPLE/quillmoor.nds (the whole process,
the result written to a file) and the page in headless Chromium (from the click on "Appliquer" to
the download link, that is the source read, patched and the result made a Blob). The first page
run's download is compared with the translation. While the page runs, the memory of Chromium's
processes is read from /proc every 100 ms (see memory(); reading a process's memory map slows it,
so not more often). Prints the figures and writes them to OUT_FILE, with the machine's load.
"""

import filecmp
import os
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'tests', 'web'))
import browser  # noqa: E402
from selenium.webdriver.common.by import By  # noqa: E402

SITE, PATCH, SAMPLE, RUNS, OUT = sys.argv[1:6]
RUNS = int(RUNS)
SOURCE = os.path.abspath(os.path.join(SAMPLE, 'quillmoor.nds'))
TRANSLATION = os.path.join(SAMPLE, 'quillmoor-fr.nds')
MB = 1e6


def browser_processes(profile):
    """pid -> its command line, for every process of the Chromium using this profile."""
    command_lines, parents = {}, {}
    for pid in filter(str.isdigit, os.listdir('/proc')):
        try:
            with open('/proc/%s/cmdline' % pid, 'rb') as f:
                command_lines[int(pid)] = f.read()
            with open('/proc/%s/stat' % pid) as f:
                parents[int(pid)] = int(f.read().rsplit(')', 1)[1].split()[1])
        except OSError:
            continue
    # The browser process names the profile; its helpers (zygotes, renderers) descend from it.
    found = {pid for pid, line in command_lines.items() if profile.encode() in line and b'--type=' not in line}
    grown = True
    while grown:
        children = {pid for pid, parent in parents.items() if parent in found} - found
        found |= children
        grown = bool(children)
    return {pid: command_lines.get(pid, b'') for pid in found}


def memory_field(pid, name, file='status'):
    try:
        with open('/proc/%d/%s' % (pid, file)) as f:
            for line in f:
                if line.startswith(name + ':'):
                    return int(line.split()[1]) * 1024
    except OSError:
        pass
    return 0


def memory(profile):
    """The largest renderer's VmRSS (the page's, during a run), the browser process's VmRSS (it
    holds the Blobs) and the Pss of all processes summed (shared pages counted once)."""
    processes = browser_processes(profile)
    renderers = [memory_field(pid, 'VmRSS') for pid, line in processes.items() if b'--type=renderer' in line]
    browser_rss = sum(memory_field(pid, 'VmRSS') for pid, line in processes.items() if b'--type=' not in line)
    total = sum(memory_field(pid, 'Pss', 'smaps_rollup') for pid in processes)
    return max(renderers, default=0), browser_rss, total


def native_run(folder):
    destination = os.path.join(folder, 'native.nds')
    start = time.monotonic()
    subprocess.run([PATCH, '--quiet', SOURCE, destination], check=True)
    elapsed = time.monotonic() - start
    os.remove(destination)
    return elapsed


START_RUN = """
    const link = document.getElementById('download');
    window.qm_bench = {start: performance.now(), end: null};
    new MutationObserver((_, observer) => {
        if (!link.hidden) { window.qm_bench.end = performance.now(); observer.disconnect(); }
    }).observe(link, {attributes: true});
    document.getElementById('apply').click();"""


def page_run(chromium, compare):
    driver = chromium.driver
    driver.find_element(By.ID, 'source').send_keys(SOURCE)
    idle = memory(chromium.profile)
    driver.execute_script(START_RUN)
    peak = idle
    deadline = time.monotonic() + 600
    while time.monotonic() < deadline:
        now = memory(chromium.profile)
        peak = tuple(max(p, n) for p, n in zip(peak, now))
        ended = driver.execute_script('return window.qm_bench.end')
        if ended is not None:
            break
        if driver.find_element(By.ID, 'error').is_displayed():
            raise SystemExit('the page failed: ' + driver.find_element(By.ID, 'error').text)
        time.sleep(0.1)
    else:
        raise SystemExit('the page did not finish in 600 s')
    elapsed = (ended - driver.execute_script('return window.qm_bench.start')) / 1000
    if compare:
        link = driver.find_element(By.ID, 'download')
        link.click()
        path = chromium.wait_for_download(link.get_attribute('download'), 600)
        if not filecmp.cmp(path, TRANSLATION, shallow=False):
            raise SystemExit('the page\'s result differs from the translation')
        os.remove(path)
    return elapsed, idle, peak


def main():
    server = browser.site_server(SITE)
    chromium = browser.browser()
    native, page, idles, peaks = [], [], [], []
    try:
        chromium.driver.get(server.url + 'index.html')
        with tempfile.TemporaryDirectory() as folder:
            for run in range(RUNS):
                native.append(native_run(folder))
                elapsed, idle, peak = page_run(chromium, compare=run == 0)
                page.append(elapsed)
                idles.append(idle)
                peaks.append(peak)
    finally:
        chromium.close()
        server.close()

    seconds = lambda values: ' '.join('%.2f' % v for v in values)  # noqa: E731
    lines = [
        'sample: %s (%d bytes); load average after the runs: %s'
        % (SOURCE, os.path.getsize(SOURCE), ' '.join('%.2f' % v for v in os.getloadavg())),
        'native quillmoor-patch: %s s, median %.2f s' % (seconds(native), statistics.median(native)),
        'page, headless Chromium: %s s, median %.2f s' % (seconds(page), statistics.median(page)),
        'ratio page / native (medians): %.2f' % (statistics.median(page) / statistics.median(native)),
        'page memory, before a run -> at most during one (sampled every 100 ms): page renderer VmRSS '
        '%.0f -> %.0f MB; browser process VmRSS %.0f -> %.0f MB; all Chromium processes, Pss summed, '
        '%.0f -> %.0f MB' % tuple(v / MB for field in range(3)
                                  for v in (min(i[field] for i in idles), max(p[field] for p in peaks))),
    ]
    with open(OUT, 'w') as f:
        f.write('\n'.join(lines) + '\n')
    print('\n'.join(lines))


if __name__ == '__main__':
    main()
