"""The browser edition in headless Chromium, driven as a player would use it.

usage: page_test.py SITE SAMPLE SCREENSHOTS
SITE is the built site, SAMPLE a folder made by `quillmoor-tool make-sample` (quillmoor.nds and
its translation quillmoor-fr.nds), SCREENSHOTS the folder for the pictures of the page before,
during and after a run.

One page load serves several runs in a row (an error, a cancel, then the patch), as a player
would do without reloading. The cancel is made while the worker holds the job at a known step
(the page's ?test-hold hook), so it cannot come too late. The browser here can suspend
WebAssembly; the page's other way to cancel, for browsers that cannot (the worker is stopped),
is driven through the ?test-no-suspend hook.
"""

import filecmp
import hashlib
import os
import re
import sys
import unittest

from selenium.common.exceptions import TimeoutException
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

import browser

SITE, SAMPLE, SCREENSHOTS = (os.path.abspath(a) for a in sys.argv[1:4])
TIMEOUT = 120
CAPTION = 'Application du patch en cours...'
# Compared with the status line's textContent: WebDriver's element text turns no-break spaces into spaces.
CANCELLED = "Patch annulé\u00a0: aucun fichier n'a été produit."
SUCCESS = "L'application du patch s'est déroulée avec succès."
HOLD_STEP = 1200  # of the sample's 2490 steps: a little under half-way


def setUpModule():
    global server, chromium
    server = browser.site_server(SITE)
    chromium = browser.browser()


def tearDownModule():
    chromium.close()
    server.close()


class page_case(unittest.TestCase):
    address = 'index.html'

    @classmethod
    def setUpClass(cls):
        cls.driver = chromium.driver
        cls.open_page(server)

    @classmethod
    def open_page(cls, site):
        cls.driver.get(site.url + cls.address)
        cls.page_title = cls.driver.title

    def element(self, name):
        return self.driver.find_element(By.ID, name)

    def wait(self, condition, what):
        try:
            WebDriverWait(self.driver, TIMEOUT, poll_frequency=0.02).until(lambda _: condition())
        except TimeoutException:
            self.fail('no %s after %d s; title %r, status %r, error %r' % (
                what, TIMEOUT, self.driver.title, self.element('status').text,
                self.element('error').get_property('textContent')))

    def choose(self, path):
        self.element('source').send_keys(path)
        self.wait(lambda: self.element('apply').is_enabled(), 'Appliquer enabled once a file is chosen')

    def wait_for_end_of_run(self):
        self.wait(lambda: self.element('apply').is_enabled(), 'the end of the run')
        self.assertFalse(self.element('cancel').is_enabled())
        self.assertEqual(self.driver.title, self.page_title)

    def assert_nothing_to_download(self):
        self.assertFalse(self.element('download').is_displayed())
        self.assertIsNone(self.element('download').get_attribute('href'))
        self.assertEqual(chromium.downloaded_files(), [])

    def download_and_compare(self):
        """The download is the translation, and the status proves it as quillmoor-patch does: the
        success, then the SHA-1 of what was written, verified against the patch's card."""
        success, proof = self.element('status').get_property('textContent').split('\n')
        self.assertEqual(success, SUCCESS)
        link = self.element('download')
        self.wait(link.is_displayed, 'the download link')
        name = link.get_attribute('download')
        self.assertEqual(name, 'quillmoor-fr.nds')
        link.click()
        path = chromium.wait_for_download(name, TIMEOUT)
        self.assertTrue(filecmp.cmp(path, os.path.join(SAMPLE, 'quillmoor-fr.nds'), shallow=False),
                        'the download differs from the translation')
        with open(path, 'rb') as f:
            sha1 = hashlib.sha1(f.read()).hexdigest()
        self.assertTrue(proof.startswith('SHA-1 de la ROM écrite') and sha1 in proof and '(vérifiée' in proof, proof)
        os.remove(path)

    def screenshot(self, name):
        self.driver.save_screenshot(os.path.join(SCREENSHOTS, name))


class runs_in_one_page(page_case):
    """In test order: a wrong ROM, a cancel, then the sample patched; no reload in between."""

    def test_1_wrong_rom_shows_the_error(self):
        wrong = os.path.join(chromium.profile, 'wrong-title.nds')
        with open(os.path.join(SAMPLE, 'quillmoor.nds'), 'rb') as f:
            rom = bytearray(f.read())
        rom[0] ^= 0x20  # the title's first letter in the other case
        with open(wrong, 'wb') as f:
            f.write(rom)
        self.choose(wrong)
        self.element('apply').click()
        self.wait_for_end_of_run()
        self.assertTrue(self.element('error').is_displayed())
        # The Windows program's message, then what the patch's identity card says of the file.
        error = self.element('error').get_property('textContent')
        self.assertTrue(error.startswith("Une erreur s'est produite:\n\nInput is not a valid Quillmoor game\n\n"), error)
        self.assertIn('autre jeu', error)
        self.assert_nothing_to_download()

    def test_2_cancel_leaves_nothing(self):
        self.assertTrue(self.driver.execute_script("return typeof WebAssembly.Suspending === 'function'"),
                        'this Chromium cannot suspend WebAssembly: the hold and the cancel in the run need it')
        self.choose(os.path.join(SAMPLE, 'quillmoor.nds'))
        self.driver.execute_script("history.replaceState(null, '', '?test-hold=%d')" % HOLD_STEP)
        self.element('apply').click()
        self.assertFalse(self.element('error').is_displayed())
        # Held from the first poll at or past the step: the caption shows the percentage reached.
        self.wait(lambda: int(self.element('progress').get_property('value')) >= HOLD_STEP, 'the held step')
        self.wait(lambda: re.search(r'\((\d+)%\)$', self.driver.title), 'a percentage in the title')
        percent = int(re.search(r'\((\d+)%\)$', self.driver.title).group(1))
        self.assertTrue(self.driver.title.startswith(CAPTION + ' ('))
        self.assertTrue(48 <= percent < 100, self.driver.title)
        self.assertNotEqual(self.element('status').text, '')
        self.assertTrue(self.element('cancel').is_enabled())
        self.assertFalse(self.element('apply').is_enabled())
        self.screenshot('page-during.png')

        # Read in the task of the click: the end of the run cannot have been handled yet.
        status, cancel_enabled = self.driver.execute_script("""
            document.getElementById('cancel').click();
            return [document.getElementById('status').textContent, !document.getElementById('cancel').disabled];""")
        self.assertEqual(status, 'Annulation...')
        self.assertFalse(cancel_enabled)
        self.wait_for_end_of_run()
        self.driver.execute_script("history.replaceState(null, '', location.pathname)")
        self.assertEqual(self.element('status').get_property('textContent'), CANCELLED)
        self.assertFalse(self.element('error').is_displayed())
        self.assert_nothing_to_download()

    def test_3_sample_patched_to_its_translation(self):
        self.choose(os.path.join(SAMPLE, 'quillmoor.nds'))
        self.assertEqual(self.element('source-name').text, 'quillmoor.nds')
        self.screenshot('page-before.png')
        self.element('apply').click()
        self.wait_for_end_of_run()
        self.assertEqual(int(self.element('progress').get_property('value')),
                         int(self.element('progress').get_property('max')))
        self.screenshot('page-after.png')
        self.download_and_compare()


class cancel_by_stopping_the_worker(page_case):
    """Where WebAssembly cannot be suspended, a cancel stops the worker; the next run gets a new one,
    here with the site's server gone: the page's service worker has kept the files."""

    address = 'index.html?test-no-suspend'

    @classmethod
    def setUpClass(cls):
        cls.driver = chromium.driver
        own_server = browser.site_server(SITE)
        try:
            cls.open_page(own_server)
            WebDriverWait(cls.driver, TIMEOUT).until(
                lambda driver: driver.execute_script('return navigator.serviceWorker.controller !== null'))
        finally:
            own_server.close()

    def test_cancel_then_run_again(self):
        self.choose(os.path.join(SAMPLE, 'quillmoor.nds'))
        # Both clicks in one task: the run cannot end in between.
        self.driver.execute_script("document.getElementById('apply').click(); document.getElementById('cancel').click();")
        self.wait_for_end_of_run()
        self.assertEqual(self.element('status').get_property('textContent'), CANCELLED)
        self.assert_nothing_to_download()

        # The same file dropped on the page, as if chosen again.
        self.driver.execute_script("""
            const input = document.getElementById('source');
            const dropped = new DataTransfer();
            dropped.items.add(input.files[0]);
            input.value = '';
            document.getElementById('source-name').textContent = '';
            document.body.dispatchEvent(new DragEvent('drop', {dataTransfer: dropped, bubbles: true}));""")
        self.assertEqual(self.element('source-name').text, 'quillmoor.nds')
        self.element('apply').click()
        self.wait_for_end_of_run()
        self.download_and_compare()


if __name__ == '__main__':
    unittest.main(argv=sys.argv[:1] + sys.argv[4:], verbosity=2)
