"""Headless Chromium on the built site, for the page tests and the browser benchmark.

The site is served from this process by Python's http.server on 127.0.0.1 (a free port chosen by
the system), as any static host serves it: no header of its own; Chromium and chromedriver are
Debian's, driven through the system's selenium.
"""

import functools
import http.server
import os
import shutil
import tempfile
import threading
import time

from selenium import webdriver
from selenium.webdriver.chrome.options import Options
from selenium.webdriver.chrome.service import Service

CHROMIUM = '/usr/bin/chromium'
CHROMEDRIVER = '/usr/bin/chromedriver'


class quiet_handler(http.server.SimpleHTTPRequestHandler):
    refused = ()

    def log_message(self, *args):
        pass

    def send_head(self):
        if self.path.split('?')[0] in self.refused:
            self.send_error(404)
            return None
        return super().send_head()


class site_server:
    """The site's folder on http://127.0.0.1:PORT/ until close(). Paths in `refuse` (as
    '/offline.js') are answered 404, as by a host that keeps them from being served."""

    def __init__(self, folder, refuse=()):
        handler = functools.partial(type('handler', (quiet_handler,), {'refused': tuple(refuse)}),
                                    directory=folder)
        self.server = http.server.ThreadingHTTPServer(('127.0.0.1', 0), handler)
        self.url = 'http://127.0.0.1:%d/' % self.server.server_address[1]
        self.thread = threading.Thread(target=self.server.serve_forever, daemon=True)
        self.thread.start()

    def close(self):
        self.server.shutdown()
        self.server.server_close()


class browser:
    """One headless Chromium with a fresh profile and a download folder of its own; with `cpus`
    (as '0'), the browser and all its processes run on those cores alone (taskset)."""

    def __init__(self, extra_arguments=(), cpus=None):
        self.profile = tempfile.mkdtemp(prefix='qm-chromium-')
        self.downloads = os.path.join(self.profile, 'downloads')
        os.mkdir(self.downloads)
        options = Options()
        options.binary_location = CHROMIUM
        for argument in ('--headless=new', '--disable-gpu', '--disable-quic', '--no-first-run',
                         '--disable-background-networking', '--disable-component-update',
                         '--disable-sync', '--window-size=820,760',
                         '--user-data-dir=' + os.path.join(self.profile, 'user-data')):
            options.add_argument(argument)
        if os.geteuid() == 0:
            options.add_argument('--no-sandbox')  # Chromium's sandbox refuses to run as root
        for argument in extra_arguments:
            options.add_argument(argument)
        options.add_experimental_option('prefs', {
            'download.default_directory': self.downloads,
            'download.prompt_for_download': False,
            'safebrowsing.enabled': False,
        })
        driver = CHROMEDRIVER
        if cpus is not None:
            # chromedriver starts Chromium, whose processes inherit its cores.
            driver = os.path.join(self.profile, 'pinned-chromedriver')
            with open(driver, 'w') as f:
                f.write('#!/bin/sh\nexec taskset -c %s %s "$@"\n' % (cpus, CHROMEDRIVER))
            os.chmod(driver, 0o755)
        self.driver = webdriver.Chrome(service=Service(driver), options=options)
        self.driver.execute_cdp_cmd('Browser.setDownloadBehavior',
                                    {'behavior': 'allow', 'downloadPath': self.downloads})

    def downloaded_files(self):
        return sorted(os.listdir(self.downloads))

    def wait_for_download(self, name, timeout):
        """The path of downloads/NAME once Chromium has finished writing it."""
        path = os.path.join(self.downloads, name)
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            partial = [f for f in os.listdir(self.downloads) if f.endswith('.crdownload')]
            if os.path.exists(path) and not partial:
                return path
            time.sleep(0.05)
        raise AssertionError('no download %s after %d s; downloads: %s'
                             % (name, timeout, self.downloaded_files()))

    def close(self):
        self.driver.quit()
        shutil.rmtree(self.profile, ignore_errors=True)
