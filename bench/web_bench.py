"""The browser edition against the native quillmoor-patch, on the same sample game and machine.

usage: web_bench.py SITE QUILLMOOR_PATCH SAMPLE RUNS OUT_FILE

Times, in alternation, RUNS runs of each of:
  - native: quillmoor-patch SAMPLE/quillmoor.nds as a player runs it (the whole process, its
    progress and proof line going to a file, the result written to a file);
  - page, every core: the page in headless Chromium, cross-origin isolated by its own service
    worker on a plain static server, the engine with threads (from the click on "Appliquer" to
    the download link: the source read, patched, proven and the result made a Blob);
  - page, one core: the same in a Chromium pinned to core 0 (taskset -c 0);
  - page, one-thread engine: the page where it cannot be isolated (the server refuses the service
    worker), on every core: what the browser's own threads give without the engine's.
Each page first makes one run that is not counted (its time is printed as "first"): the engine's
code is compiled further while it runs, and a player's first run is that slower. Every page's
first counted download is compared with the translation, and the native proof line with the
SHA-1 of what it wrote. The page's runs are split by the worker and the page (the page's
?test-timing hook): reading the File, handing the result over, the slices and the Blob that the
page makes of it, the engine's proof (fingerprinting) and its CPK re-compression, on its thread
and on the helper threads. While a
page runs, the memory of Chromium's processes is read from /proc every 100 ms (see memory();
reading a process's memory map slows it, so not more often). Prints the figures and writes them
to OUT_FILE, with the machine's load.
"""

import filecmp
import hashlib
import os
import re
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'tests', 'web'))
import browser  # noqa: E402
from selenium.webdriver.common.by import By  # noqa: E402
from selenium.webdriver.support.ui import WebDriverWait  # noqa: E402

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
    """The largest renderer's VmRSS (the page's, during a run: its workers and the engine's
    threads live in it), the browser process's VmRSS (it holds the Blobs) and the Pss of all
    processes summed (shared pages counted once)."""
    processes = browser_processes(profile)
    renderers = [memory_field(pid, 'VmRSS') for pid, line in processes.items() if b'--type=renderer' in line]
    browser_rss = sum(memory_field(pid, 'VmRSS') for pid, line in processes.items() if b'--type=' not in line)
    total = sum(memory_field(pid, 'Pss', 'smaps_rollup') for pid in processes)
    return max(renderers, default=0), browser_rss, total


def native_run(folder, check):
    destination = os.path.join(folder, 'native.nds')
    log = os.path.join(folder, 'native.log')
    start = time.monotonic()
    with open(log, 'wb') as err:
        subprocess.run([PATCH, SOURCE, destination], check=True, stderr=err)
    elapsed = time.monotonic() - start
    if check:
        with open(destination, 'rb') as f:
            sha1 = hashlib.sha1(f.read()).hexdigest()
        with open(log, encoding='utf-8') as f:
            if not re.search(r'SHA-1 de la ROM écrite\s?: ' + sha1, f.read()):
                raise SystemExit('the native proof line is not the SHA-1 of what it wrote')
    os.remove(destination)
    return elapsed


START_RUN = """
    const link = document.getElementById('download');
    window.qm_bench = {start: performance.now(), end: null};
    window.quillmoor_timing = null;
    new MutationObserver((_, observer) => {
        if (!link.hidden) { window.qm_bench.end = performance.now(); observer.disconnect(); }
    }).observe(link, {attributes: true});
    document.getElementById('apply').click();"""


class page:
    """One Chromium on the page of one server, kept for all its runs."""

    def __init__(self, name, url, isolated, cpus=None):
        self.name = name
        self.chromium = browser.browser(cpus=cpus)
        self.times, self.splits, self.idles, self.peaks = [], [], [], []
        self.first = None
        self.compared = False
        driver = self.chromium.driver
        driver.get(url + 'index.html?test-timing')
        condition = 'document.documentElement.dataset.threads !== undefined'
        if isolated:
            condition += ' && self.crossOriginIsolated'
        WebDriverWait(driver, 120, ignored_exceptions=(Exception,)).until(
            lambda d: d.execute_script('return ' + condition))
        self.threads = driver.execute_script('return document.documentElement.dataset.threads')
        self.cores = driver.execute_script('return navigator.hardwareConcurrency')
        driver.find_element(By.ID, 'source').send_keys(SOURCE)

    def run(self, counted=True):
        driver = self.chromium.driver
        idle = memory(self.chromium.profile)
        driver.execute_script(START_RUN)
        peak = idle
        deadline = time.monotonic() + 600
        while time.monotonic() < deadline:
            now = memory(self.chromium.profile)
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
        if not counted:
            self.first = elapsed
            return
        timing = driver.execute_script('return window.quillmoor_timing')
        self.times.append(elapsed)
        self.splits.append(timing)
        self.idles.append(idle)
        self.peaks.append(peak)
        if not self.compared:
            link = driver.find_element(By.ID, 'download')
            link.click()
            path = self.chromium.wait_for_download(link.get_attribute('download'), 600)
            if not filecmp.cmp(path, TRANSLATION, shallow=False):
                raise SystemExit('the result of %s differs from the translation' % self.name)
            os.remove(path)
            self.compared = True

    def close(self):
        self.chromium.close()

    def median(self):
        return statistics.median(self.times)

    def split_lines(self):
        """The medians of the run's parts, in seconds."""
        med = lambda f: statistics.median(f(s) for s in self.splits) / 1000  # noqa: E731
        phase = lambda name, side: statistics.median(s['phases'][name][side] for s in self.splits)  # noqa: E731
        total = self.median()
        engine = med(lambda s: s['engine_ms'])
        parts = [
            ('reading the File, or waiting for the reader ahead', med(lambda s: s['reading_ms'])),
            ('handing the result over (copies out of the engine\'s memory, to the page)', med(lambda s: s['handing_over_ms'])),
            ('slices of the File for the Blob, on the page\'s thread (beside the engine)', med(lambda s: s['pieces_ms'])),
            ('the engine\'s proof on its thread (copies for the helper, or both checksums)', phase('fingerprinting', 'job')),
            ('  and CRC-32 and SHA-1 on its helper (beside the rest)', phase('fingerprinting', 'helpers')),
            ('CPK re-compression, on the job\'s thread', phase('CPK re-compression', 'job')),
            ('  and on the worker threads (beside the rest)', phase('CPK re-compression', 'helpers')),
            ('waiting for the worker threads', phase('waiting for workers', 'job')),
        ]
        lines = ['  %s: %.2f s in all, of which the engine (qm_run) %.2f s, making the Blob %.2f s, '
                 'the rest (messages, page) %.2f s' % (self.name, total, engine, med(lambda s: s['blob_ms']),
                                                        total - engine - med(lambda s: s['blob_ms']))]
        lines += ['    %s: %.2f s' % (what, seconds) for what, seconds in parts]
        lines.append('    windows of the File read ahead / on the engine\'s thread: %d / %d' % (
            statistics.median(s['windows_read_ahead'] for s in self.splits),
            statistics.median(s['windows_read_here'] for s in self.splits)))
        return lines


def main():
    server = browser.site_server(SITE)
    refusing = browser.site_server(SITE, refuse=['/offline.js'])
    pages = []
    native = []
    try:
        pages.append(page('page, every core', server.url, True))
        pages.append(page('page, one core (taskset -c 0)', server.url, True, cpus='0'))
        pages.append(page('page, one-thread engine, every core', refusing.url, False))
        for p in pages:
            p.run(counted=False)
        with tempfile.TemporaryDirectory() as folder:
            for run in range(RUNS):
                native.append(native_run(folder, check=run == 0))
                for p in pages:
                    p.run()
    finally:
        for p in pages:
            p.close()
        server.close()
        refusing.close()

    seconds = lambda values: ' '.join('%.2f' % v for v in values)  # noqa: E731
    every, one, unthreaded = pages
    lines = [
        'sample: %s (%d bytes); load average after the runs: %s'
        % (SOURCE, os.path.getsize(SOURCE), ' '.join('%.2f' % v for v in os.getloadavg())),
        'native quillmoor-patch, default run (progress, proof): %s s, median %.2f s'
        % (seconds(native), statistics.median(native)),
    ]
    for p in pages:
        lines.append('%s (navigator.hardwareConcurrency %s, engine threads %s): %s s, median %.2f s; first run %.2f s'
                     % (p.name, p.cores, p.threads, seconds(p.times), p.median(), p.first))
    lines += [
        'ratio page every core / native (medians): %.2f' % (every.median() / statistics.median(native)),
        'speed-up of the page on every core over one core (medians): %.2f' % (one.median() / every.median()),
        'speed-up of the engine\'s threads, every core (medians, one-thread engine / threaded): %.2f'
        % (unthreaded.median() / every.median()),
        'where the page\'s time goes (medians of the worker\'s split):',
    ]
    for p in pages:
        lines += p.split_lines()
    for p in pages:
        lines.append(
            '%s, memory before a run -> at most during one (sampled every 100 ms): page renderer VmRSS '
            '%.0f -> %.0f MB; browser process VmRSS %.0f -> %.0f MB; all Chromium processes, Pss summed, '
            '%.0f -> %.0f MB' % ((p.name,) + tuple(v / MB for field in range(3)
                                                    for v in (min(i[field] for i in p.idles),
                                                              max(k[field] for k in p.peaks)))))
    with open(OUT, 'w') as f:
        f.write('\n'.join(lines) + '\n')
    print('\n'.join(lines))


if __name__ == '__main__':
    main()
