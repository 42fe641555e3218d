"""The browser edition in headless Chromium, driven as a player would use it.

usage: page_test.py SITE SAMPLE CARD SCREENSHOTS
SITE is the built site, SAMPLE a folder made by `quillmoor-tool make-sample` (quillmoor.nds and
its translation quillmoor-fr.nds), CARD the identity card built into the engine, SCREENSHOTS the
folder for the pictures of the page.

The site is served as any static host serves it, with no header of its own. There the page makes
itself cross-origin isolated (its service worker adds the headers, then it reloads once) and the
engine runs with threads; on a host that refuses the service worker's script it is not isolated,
and the engine runs on one thread. Both must give the translation byte for byte and prove it.

One page load serves several runs in a row (an error, a cancel, then the patch), as a player
would do without reloading. The cancel is made while the worker holds the job at a known step
(the page's ?test-hold hook), so it cannot come too late: with threads the worker waits on the
flag it shares with the page, on one thread it suspends WebAssembly. The page's last way to
cancel, for browsers that can do neither (the worker is stopped), is driven through the
?test-no-suspend hook.
"""

import filecmp
import hashlib
import os
import re
import sys
import unittest

from selenium.common.exceptions import TimeoutException, WebDriverException
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

import browser

SITE, SAMPLE, CARD, SCREENSHOTS = (os.path.abspath(a) for a in sys.argv[1:5])
TIMEOUT = 120
CAPTION = 'Application du patch en cours...'
# Compared with the status line's textContent: WebDriver's element text turns no-break spaces into spaces.
CANCELLED = "Patch annulé\u00a0: aucun fichier n'a été produit."
SUCCESS = "L'application du patch s'est déroulée avec succès."
HOLD_STEP = 1200  # of the sample's 2490 steps: a little under half-way
REGIONS = {'E': 'Amérique du Nord', 'P': 'Europe'}
GUIDE = os.path.exists(os.path.join(SITE, 'guide.html'))


def setUpModule():
    global server, refusing_server, chromium
    server = browser.site_server(SITE)
    # A host where no service worker can be had: the page cannot be isolated there.
    refusing_server = browser.site_server(SITE, refuse=['/offline.js'])
    chromium = browser.browser()


def tearDownModule():
    chromium.close()
    server.close()
    refusing_server.close()


def read_card():
    with open(CARD, encoding='utf-8') as f:
        return dict(line.split(' ', 1) for line in f.read().splitlines()[1:] if not line.startswith('section '))


class page_case(unittest.TestCase):
    address = 'index.html'
    isolated = True  # whether the page is to reach isolation on the class's server

    @classmethod
    def site(cls):
        return server if cls.isolated else refusing_server

    @classmethod
    def setUpClass(cls):
        cls.driver = chromium.driver
        cls.open_page(cls.site())

    @classmethod
    def open_page(cls, site):
        cls.driver.get(site.url + cls.address)
        # Ready once the engine has told the page its threads; where isolation is to come, after
        # the page's own reload.
        condition = 'document.documentElement.dataset.threads !== undefined'
        if cls.isolated:
            condition += ' && self.crossOriginIsolated'
        WebDriverWait(cls.driver, TIMEOUT, ignored_exceptions=(WebDriverException,)).until(
            lambda driver: driver.execute_script('return ' + condition))
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
        os.remove(path)
        proven = re.fullmatch(r'SHA-1 de la ROM écrite\s?: ([0-9a-f]{40}) \(vérifiée\s?: .+\)\.?', proof)
        self.assertIsNotNone(proven, proof)
        self.assertEqual(proven.group(1), sha1)

    def assert_threads(self, expected):
        self.assertEqual(self.driver.execute_script('return self.crossOriginIsolated'), self.isolated)
        self.assertEqual(self.driver.execute_script('return document.documentElement.dataset.threads'), str(expected))

    def assert_expected_rom_shown(self):
        """Before any file is chosen, the ROM the patch needs, as the built-in card gives it."""
        self.assertEqual(self.element('source-name').text, 'Aucun fichier choisi')
        self.assertTrue(self.element('expected').is_displayed())
        card = read_card()
        code = card['original.game_code']
        self.assertEqual(self.element('expected-release').text,
                         'Quillmoor (%s, code %s, %s)' % (card['original.title'], code, REGIONS[code[3]]))
        size = '{:,}'.format(int(card['original.size'])).replace(',', '\u202f') + '\u00a0octets'
        self.assertEqual(self.element('expected-size').get_property('textContent'), size)
        self.assertEqual(self.element('expected-crc32').text, card['original.crc32'].upper())
        self.assertEqual(self.element('expected-sha1').text, card['original.sha1'])
        # The link to the guide, where the site has it.
        self.wait(lambda: self.element('guide').is_displayed() == GUIDE, 'the link to the guide shown or not')
        if GUIDE:
            self.assertEqual(self.element('guide').get_attribute('href'), self.site().url + 'guide.html')

    def wrong_rom_shows_the_error(self):
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

    def cancel_during_the_run_leaves_nothing(self, screenshot=None):
        self.choose(os.path.join(SAMPLE, 'quillmoor.nds'))
        search = self.driver.execute_script('return location.search')
        self.driver.execute_script("history.replaceState(null, '', arguments[0])",
                                   (search + '&' if search else '?') + 'test-hold=%d' % HOLD_STEP)
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
        if screenshot:
            self.screenshot(screenshot)

        # Read in the task of the click: the end of the run cannot have been handled yet.
        status, cancel_enabled = self.driver.execute_script("""
            document.getElementById('cancel').click();
            return [document.getElementById('status').textContent, !document.getElementById('cancel').disabled];""")
        self.assertEqual(status, 'Annulation...')
        self.assertFalse(cancel_enabled)
        self.wait_for_end_of_run()
        self.driver.execute_script("history.replaceState(null, '', location.pathname + arguments[0])", search)
        self.assertEqual(self.element('status').get_property('textContent'), CANCELLED)
        self.assertFalse(self.element('error').is_displayed())
        self.assert_nothing_to_download()

    def sample_patched_to_its_translation(self, screenshots=None):
        self.choose(os.path.join(SAMPLE, 'quillmoor.nds'))
        self.assertEqual(self.element('source-name').text, 'quillmoor.nds')
        if screenshots:
            self.screenshot(screenshots[0])
        self.element('apply').click()
        self.wait_for_end_of_run()
        self.assertEqual(int(self.element('progress').get_property('value')),
                         int(self.element('progress').get_property('max')))
        if screenshots:
            self.screenshot(screenshots[1])
        self.download_and_compare()

    def screenshot(self, name):
        self.driver.save_screenshot(os.path.join(SCREENSHOTS, name))


class isolated_page(page_case):
    """On a static host the page isolates itself and the engine runs on every core; in test
    order: what the page shows before a file is chosen, a wrong ROM, a cancel, the sample. The
    File is read in windows of 64 KiB, so that the sample crosses many, read ahead by reader.js."""

    address = 'index.html?test-read-window=65536&test-timing'

    def test_1_isolated_by_itself_on_every_core_with_the_expected_rom_shown(self):
        # The engine's threads: the job's and its CPK workers, one per core, at most 16 as natively.
        cores = self.driver.execute_script('return navigator.hardwareConcurrency')
        self.assert_threads(min(cores, 16))
        self.assert_expected_rom_shown()

    def test_2_wrong_rom_shows_the_error(self):
        self.wrong_rom_shows_the_error()

    def test_3_cancel_leaves_nothing(self):
        self.cancel_during_the_run_leaves_nothing('page-during.png')

    def test_4_sample_patched_to_its_translation(self):
        self.sample_patched_to_its_translation(('page-before.png', 'page-after.png'))
        windows = self.driver.execute_script('return window.quillmoor_timing')
        self.assertGreater(windows['windows_read_ahead'], windows['windows_read_here'], windows)


class one_thread_page(page_case):
    """Where the page cannot be isolated, the engine runs on one thread, with the same result; a
    cancel reaches the job by suspending WebAssembly. The File is read in windows of 64 KiB,
    without reading ahead."""

    isolated = False
    address = 'index.html?test-read-window=65536&test-timing'

    def test_1_one_thread_with_the_expected_rom_shown(self):
        self.assert_threads(1)
        self.assert_expected_rom_shown()

    def test_2_cancel_leaves_nothing(self):
        self.assertTrue(self.driver.execute_script("return typeof WebAssembly.Suspending === 'function'"),
                        'this Chromium cannot suspend WebAssembly: the hold and the cancel in the run need it')
        self.cancel_during_the_run_leaves_nothing()

    def test_3_sample_patched_to_its_translation(self):
        self.sample_patched_to_its_translation()
        windows = self.driver.execute_script('return window.quillmoor_timing')
        self.assertEqual(windows['windows_read_ahead'], 0, windows)
        self.assertGreater(windows['windows_read_here'], 2**20 // 65536, windows)  # many windows crossed


class cancel_by_stopping_the_worker(page_case):
    """Where a running job cannot be reached, a cancel stops the worker; the next run gets a new
    one, here with the site's server gone: the page's service worker has kept the files."""

    address = 'index.html?test-no-suspend'

    @classmethod
    def setUpClass(cls):
        cls.driver = chromium.driver
        own_server = browser.site_server(SITE)
        try:
            cls.open_page(own_server)  # isolated, hence controlled by the service worker
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


class phone_screen(page_case):
    """On a phone held upright (390 x 844 CSS pixels, touch): no horizontal scroll, controls a
    finger can hit, a run that ends with the download; the guide page too, where the site has it."""

    @classmethod
    def setUpClass(cls):
        chromium.driver.execute_cdp_cmd('Emulation.setDeviceMetricsOverride', {
            'width': 390, 'height': 844, 'deviceScaleFactor': 3, 'mobile': True})
        chromium.driver.execute_cdp_cmd('Emulation.setTouchEmulationEnabled', {'enabled': True})
        super().setUpClass()

    @classmethod
    def tearDownClass(cls):
        chromium.driver.execute_cdp_cmd('Emulation.clearDeviceMetricsOverride', {})
        chromium.driver.execute_cdp_cmd('Emulation.setTouchEmulationEnabled', {'enabled': False})

    def assert_no_horizontal_scroll(self):
        width, scroll_width = self.driver.execute_script(
            'return [window.innerWidth, document.documentElement.scrollWidth]')
        self.assertEqual(width, 390)
        self.assertLessEqual(scroll_width, width, 'the page scrolls sideways')

    def assert_touchable(self, *names):
        for name in names:
            box = self.driver.execute_script(
                'const r = document.getElementById(arguments[0]).getBoundingClientRect();'
                'return [r.left, r.right, r.width, r.height];', name)
            self.assertTrue(box[2] >= 44 and box[3] >= 44, '%s is %.0f x %.0f' % (name, box[2], box[3]))
            self.assertTrue(0 <= box[0] and box[1] <= 390, '%s lies outside the screen: %s' % (name, box))

    def test_page_then_a_run_then_the_guide(self):
        self.assert_no_horizontal_scroll()
        self.assertTrue(self.element('expected').is_displayed())
        self.assert_touchable('apply', 'cancel', *(['guide'] if GUIDE else []))
        # The drop zone is the file input's label: the whole of it is the control.
        self.assert_touchable('source')
        self.screenshot('page-phone.png')

        self.choose(os.path.join(SAMPLE, 'quillmoor.nds'))
        self.element('apply').click()
        self.wait_for_end_of_run()
        self.assert_no_horizontal_scroll()  # with the proof's forty digits in the status
        self.assert_touchable('download')
        top, bottom = self.driver.execute_script(
            "const r = document.getElementById('download').getBoundingClientRect(); return [r.top, r.bottom];")
        self.assertTrue(0 <= top and bottom <= 844, 'the download is out of sight: %s' % [top, bottom])
        self.screenshot('page-phone-after.png')
        self.download_and_compare()

        if not GUIDE:
            self.skipTest('the site was built without the guide')
        self.element('guide').click()
        self.wait(lambda: self.driver.execute_script(
            "return location.pathname.endsWith('/guide.html') && document.readyState === 'complete'"), 'the guide')
        self.assert_no_horizontal_scroll()
        broken = self.driver.execute_script(
            'return [...document.images].filter((i) => !i.complete || i.naturalWidth === 0).map((i) => i.src)')
        self.assertEqual(broken, [], 'pictures of the guide that do not load')
        self.screenshot('guide-phone.png')


if __name__ == '__main__':
    unittest.main(argv=sys.argv[:1] + sys.argv[5:], verbosity=2)
