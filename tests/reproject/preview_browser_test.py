#!/usr/bin/env python3
"""reproject preview in a real browser (headless Chromium driven by Selenium).

On a still panorama: loads the page, moves a control, drags on the output and
turns the wheel, reads the command line shown, runs it from the page, and
compares the page's lossless frame with the file that conversion wrote and
with reproject's PNG output of the same command, pixel for pixel. On a short
video: keys two frames, checks the command's keyframes and that the page's
lossless frame between the keys equals that frame of the conversion it
starts. With LENS_PREVIEW_SCREENSHOT=1 it saves the page as
docs/images/preview.png for the README.

Exits 77 (skipped) when chromium or chromedriver is not installed.
"""
import argparse
import os
import shlex
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import urllib.request

SKIPPED = 77


def wait_until(what, condition, timeout=60.0):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        value = condition()
        if value:
            return value
        time.sleep(0.05)
    raise AssertionError('timed out waiting for ' + what)


def pixels(path):
    """The picture's size and its pixels as 16-bit RGB, decoded by ffmpeg."""
    with open(path, 'rb') as f:
        head = f.read(24)
    assert head[:8] == b'\x89PNG\r\n\x1a\n', path + ' is not a PNG'
    size = struct.unpack('>II', head[16:24])
    raw = subprocess.run(['ffmpeg', '-v', 'error', '-i', path, '-f', 'rawvideo', '-pix_fmt', 'rgb48le', '-'],
                         check=True, capture_output=True).stdout
    return size, raw


def assert_same_pixels(a, b):
    (size_a, raw_a), (size_b, raw_b) = pixels(a), pixels(b)
    assert size_a == size_b, f'{a} is {size_a}, {b} is {size_b}'
    if raw_a != raw_b:
        differ = sum(1 for i in range(0, len(raw_a), 6) if raw_a[i:i + 6] != raw_b[i:i + 6])
        raise AssertionError(f'{a} and {b} differ in {differ} pixels')


class Preview:
    """A `reproject preview` process and the address it printed."""

    def __init__(self, reproject, args, folder):
        self.process = subprocess.Popen([reproject, 'preview', '--no-browser'] + args, cwd=folder,
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        line = self.process.stdout.readline()
        assert ' at http://127.0.0.1:' in line, 'no address printed: ' + line + self.process.stderr.read()
        self.url = line.split(' at ', 1)[1].strip()

    def stop(self):
        self.process.send_signal(signal.SIGINT)
        status = self.process.wait(timeout=30)
        assert status == 0, f'preview ended with {status}: ' + self.process.stderr.read()


class Page:
    def __init__(self, driver, url):
        from selenium.webdriver.common.by import By
        self.d = driver
        self.by = By
        driver.get(url)
        self.settle()
        assert self.text('error') == '', self.text('error')

    def find(self, element_id):
        return self.d.find_element(self.by.ID, element_id)

    def text(self, element_id):
        return self.find(element_id).text

    def value(self, element_id):
        return self.find(element_id).get_attribute('value')

    def settle(self):
        """Waits until every answer to the page's last change has arrived."""
        time.sleep(0.15)
        wait_until('the page to settle', lambda: self.d.execute_script(
            "return document.body.dataset.idle === 'yes' && !!document.getElementById('view').dataset.params"))

    def type_into(self, element_id, text):
        from selenium.webdriver.common.keys import Keys
        box = self.find(element_id)
        box.clear()
        box.send_keys(text + Keys.ENTER)
        self.settle()

    def track(self, name):
        return self.d.find_element(self.by.CSS_SELECTOR, f'#tracks input[data-name="{name}"]')

    def set_track(self, name, text):
        self.type_into(self.track(name).get_attribute('id'), text)

    def drag_view(self, dx, dy):
        from selenium.webdriver.common.action_chains import ActionChains
        view = self.find('view-box')
        ActionChains(self.d).move_to_element(view).click_and_hold().move_by_offset(dx // 2, dy // 2) \
            .move_by_offset(dx - dx // 2, dy - dy // 2).release().perform()
        self.settle()

    def wheel(self, amount):
        from selenium.webdriver.common.action_chains import ActionChains
        from selenium.webdriver.common.actions.wheel_input import ScrollOrigin
        ActionChains(self.d).scroll_from_origin(ScrollOrigin.from_element(self.find('view-box')), 0, amount).perform()
        self.settle()

    def convert(self, output):
        self.type_into('output', output)
        self.find('convert').click()
        status = self.find('convert-status')
        wait_until('the conversion', lambda: status.get_attribute('data-state') in ('done', 'failed'), 120)
        assert status.get_attribute('data-state') == 'done', status.text
        return status.text

    def save_lossless(self, path):
        with urllib.request.urlopen(self.find('png-link').get_attribute('href'), timeout=60) as answer:
            assert answer.headers['Content-Type'] == 'image/png'
            with open(path, 'wb') as f:
                f.write(answer.read())


def still_panorama(driver, reproject, scene, folder):
    preview = Preview(reproject, ['varnel', '--input', 'equirect', '--use-height', '--height', '360', scene], folder)
    try:
        page = Page(driver, preview.url)
        # A control moved by hand, a box ticked.
        page.set_track('roll', '5')
        page.d.find_element(page.by.CSS_SELECTOR, '#checks input[data-name="bilinear"]').click()
        page.settle()
        assert '--roll 5.0' in page.text('command') and '--bilinear' in page.text('command'), page.text('command')
        # Dragging right and up turns the view left and down; the wheel widens it.
        page.drag_view(120, -40)
        azimuth = float(page.value(page.track('azimuth').get_attribute('id')))
        pitch = float(page.value(page.track('pitch').get_attribute('id')))
        assert azimuth < 0 and pitch < 0, (azimuth, pitch)
        assert f'azimuth {azimuth:.1f}' in page.text('view-numbers'), page.text('view-numbers')
        page.wheel(200)
        assert page.value(page.track('out-fov').get_attribute('id')) == '99.0', page.value('track-2')

        command = page.text('command')
        status = page.convert('page-view.png')
        assert 'page-view.png written' in status, status
        command = page.text('command')
        assert command.endswith(' page-view.png') and f'--azimuth {azimuth:.1f}' in command, command
        page.save_lossless(os.path.join(folder, 'lossless.png'))

        words = shlex.split(command)
        assert words[0] == 'reproject'
        subprocess.run([reproject, '-q'] + words[1:-1] + ['cli-view.png'], cwd=folder, check=True)
        assert_same_pixels(os.path.join(folder, 'lossless.png'), os.path.join(folder, 'page-view.png'))
        assert_same_pixels(os.path.join(folder, 'lossless.png'), os.path.join(folder, 'cli-view.png'))
        print('still: the page, its conversion and `' + command + '` agree pixel for pixel')
    finally:
        preview.stop()


def keyed_video(driver, reproject, scene, folder, screenshot):
    clip = os.path.join(folder, 'clip.mkv')
    subprocess.run(['ffmpeg', '-v', 'error', '-y', '-loop', '1', '-i', scene, '-vf', 'scale=1024:512',
                    '-frames:v', '12', '-c:v', 'ffv1', clip], check=True)
    preview = Preview(reproject, ['--use-height', '--height', '540', '--width-16x9', 'clip.mkv'], folder)
    try:
        page = Page(driver, preview.url)
        from selenium.webdriver.support.ui import Select
        Select(page.find('input-kind')).select_by_value('equirect')
        page.settle()
        page.find('key-frame').click()
        page.settle()
        page.type_into('frame', '11')
        page.drag_view(-150, 0)
        page.set_track('out-fov', '70')
        page.find('key-frame').click()
        page.settle()
        keys = page.d.find_elements(page.by.CSS_SELECTOR, '#keys li')
        assert [k.get_attribute('data-frame') for k in keys] == ['0', '11'], [k.text for k in keys]
        end = page.value(page.track('azimuth').get_attribute('id'))
        command = page.text('command')
        assert f'--azimuth 0.0@0,{end}@11' in command and '--out-fov 90.0@0,70.0@11' in command, command

        # Between the keys the page shows what reproject interpolates.
        page.type_into('frame', '6')
        page.save_lossless(os.path.join(folder, 'frame6.png'))
        status = page.convert('keyed%02d.png')
        assert 'keyed%02d.png written' in status, status
        assert_same_pixels(os.path.join(folder, 'frame6.png'), os.path.join(folder, 'keyed06.png'))
        print('video: keys at 0 and 11; frame 6 of the page equals frame 6 of its conversion')
        if screenshot:
            page.d.execute_script('window.scrollTo(0, 0)')
            driver.save_screenshot(screenshot)
            print('saved', screenshot)
    finally:
        preview.stop()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--reproject', required=True)
    parser.add_argument('--scene', required=True)
    parser.add_argument('--source-dir', required=True)
    args = parser.parse_args()
    browser = shutil.which('chromium') or shutil.which('chromium-browser')
    driver_path = shutil.which('chromedriver')
    if not browser or not driver_path:
        print('SKIPPED: chromium and chromedriver are needed for the browser test '
              '(bash scripts/setup.sh installs them)')
        return SKIPPED
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service

    options = webdriver.ChromeOptions()
    options.binary_location = browser
    for a in ['--headless=new', '--no-sandbox', '--disable-dev-shm-usage', '--window-size=1400,1060',
              '--force-device-scale-factor=1']:
        options.add_argument(a)
    screenshot = None
    if os.environ.get('LENS_PREVIEW_SCREENSHOT'):
        screenshot = os.path.join(args.source_dir, 'docs', 'images', 'preview.png')
    driver = webdriver.Chrome(service=Service(driver_path), options=options)
    folder = tempfile.mkdtemp(prefix='preview-browser-')
    try:
        still_panorama(driver, args.reproject, os.path.abspath(args.scene), folder)
        keyed_video(driver, args.reproject, os.path.abspath(args.scene), folder, screenshot)
    finally:
        driver.quit()
        shutil.rmtree(folder, ignore_errors=True)
    return 0


if __name__ == '__main__':
    sys.exit(main())
