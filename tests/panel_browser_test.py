#!/usr/bin/python3
"""The panel's page in a real headless Chromium against the simulated device.

    panel_browser_test.py QX480 QX480_SIM [--screenshot PNG]

Starts qx480-sim (tracing what it receives), `qx480 panel` on a free loopback
port and Chromium through chromedriver, each in a fresh temporary folder, and
drives the page as a user would. --screenshot also saves a picture of the page
(the README's) to PNG. Exits 0 when every check passed.
"""

import argparse
import json
import os
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.request

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import Select

ARGS = None
WAIT_S = 20

# The request codes that change the device; the others (temperature, timing block) only read.
WRITE_CODES = {0x01, 0x05, 0x06, 0x07, 0x08, 0x09, 0x14}


def wait_for(condition, what, timeout=WAIT_S):
    """Polls `condition` until it gives something true; fails the test after `timeout` seconds."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError("timed out waiting for " + what)
        time.sleep(0.02)


def frames(trace_text, direction="rx"):
    """The frames of a trace ("rx: EB 90 ..." from qx480-sim, "-> EB 90 ..." from qx480 --trace)."""
    out = []
    for line in trace_text.splitlines():
        mark, _, hex_bytes = line.partition(" ")
        if mark.rstrip(":") == direction:
            out.append(bytes.fromhex(hex_bytes))
    return out


def stop(process):
    process.terminate()
    process.wait(timeout=WAIT_S)
    for stream in (process.stdout, process.stderr):
        if stream:
            stream.close()


class PanelInBrowser(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        # Each peer is stopped at the end even when a later one fails to start.
        cls.folder = tempfile.TemporaryDirectory(prefix="qx480-panel-")
        cls.addClassCleanup(cls.folder.cleanup)
        folder = cls.folder.name
        cls.trace_path = os.path.join(folder, "sim.trace")
        cls.link = os.path.join(folder, "device")
        cls.trace = open(cls.trace_path, "wb")
        cls.addClassCleanup(cls.trace.close)
        cls.sim = subprocess.Popen([ARGS.sim, "--trace", "--link", cls.link],
                                   stdout=subprocess.DEVNULL, stderr=cls.trace)
        cls.addClassCleanup(stop, cls.sim)
        wait_for(lambda: os.path.islink(cls.link) or cls.sim.poll() is not None, "the simulated device")
        cls.panel = subprocess.Popen([ARGS.qx480, "--port", cls.link, "--listen", "127.0.0.1:0", "panel"],
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        cls.addClassCleanup(stop, cls.panel)
        cls.url = cls.panel.stdout.readline().strip()
        if not cls.url.startswith("http://127.0.0.1:"):
            raise AssertionError("qx480 panel printed no URL: " + cls.url + cls.panel.stderr.read())
        options = webdriver.ChromeOptions()
        for argument in ("--headless=new", "--no-sandbox", "--window-size=1200,860", "--disable-gpu",
                         "--host-resolver-rules=MAP * ~NOTFOUND , EXCLUDE localhost, EXCLUDE 127.0.0.1",
                         "--user-data-dir=" + os.path.join(folder, "chromium")):
            options.add_argument(argument)
        options.binary_location = "/usr/bin/chromium"
        options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
        cls.driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
        cls.addClassCleanup(cls.driver.quit)
        cls.driver.get(cls.url)
        cls.wait_for_message("ready")

    @classmethod
    def wait_for_message(cls, text):
        """The message line once it contains `text`."""
        return wait_for(lambda: text in cls.driver.find_element(By.ID, "message").text and
                        cls.driver.find_element(By.ID, "message").text, "message " + repr(text))

    def received(self):
        self.trace.flush()
        with open(self.trace_path) as f:
            return frames(f.read())

    def writes_since(self, count):
        return [f for f in self.received()[count:] if f[4] in WRITE_CODES]

    def api(self, path, body=None):
        """The panel's JSON interface from outside the browser."""
        request = urllib.request.Request(self.url.rstrip("/") + path, data=body,
                                         headers={"Content-Type": "application/json"})
        with urllib.request.urlopen(request, timeout=WAIT_S) as response:
            return response.read().decode()

    def type_into(self, element_id, text):
        field = self.driver.find_element(By.ID, element_id)
        field.clear()
        field.send_keys(text)

    def send(self, expected_message):
        # The page is refreshed while it waits; the message is cleared first so
        # that an old one cannot pass for the answer.
        self.driver.execute_script("document.getElementById('message').textContent = ''")
        self.driver.find_element(By.ID, "send").click()
        return self.wait_for_message(expected_message)

    def test_1_page_loads_without_console_errors(self):
        self.assertEqual(self.driver.title, "qx480 front panel")
        for element_id in ["delay-1", "width-8", "on-8", "output", "trigger", "rate", "send", "fire",
                           "temperature", "message", "diagram"]:
            self.assertTrue(self.driver.find_element(By.ID, element_id).is_displayed(), element_id)
        wait_for(lambda: "C" in self.driver.find_element(By.ID, "temperature").text, "the temperature")
        self.assertEqual(self.driver.find_element(By.ID, "on-1").get_attribute("value"), "")  # unknown until set
        self.assertEqual(self.driver.find_element(By.ID, "trigger").get_attribute("value"), "")
        severe = [e for e in self.driver.get_log("browser") if e["level"] == "SEVERE"]
        self.assertEqual(severe, [])

    def test_2_a_delay_sent_is_exactly_that_request(self):
        before = len(self.received())
        self.type_into("delay-1", "10ns")
        self.send("applied")
        writes = self.writes_since(before)
        # The device holds one host at a time: the tool says what it sends to a simulated device of its own.
        tool = subprocess.run([ARGS.qx480, "--trace", "--simulate", "delay", "1", "10ns"],
                              capture_output=True, text=True, timeout=WAIT_S)
        self.assertEqual(tool.returncode, 0, tool.stderr)
        self.assertEqual(writes, frames(tool.stderr, "->"))
        self.assertEqual((writes[0][4], writes[0][5]), (0x08, 1))  # the delay of channel 1
        self.assertEqual(int.from_bytes(writes[0][-11:-3], "little"), 1000)  # 10 ns in 10 ps steps
        wait_for(lambda: self.driver.find_element(By.ID, "delay-1").get_attribute("value") == "10 ns",
                 "the delay read back")

    def test_3_a_time_the_device_cannot_take_is_refused_and_nothing_is_sent(self):
        before = len(self.received())
        self.type_into("delay-2", "5ps")
        message = self.send("not a whole number")
        self.assertEqual(message, "setup: channels.2.delay: '5ps' is not a whole number of 10 ps steps: "
                                  "the nearest are 0ns and 10ps")
        self.assertIn("error", self.driver.find_element(By.ID, "message").get_attribute("class"))
        self.assertEqual(self.writes_since(before), [])
        self.type_into("delay-2", "0 ns")

    def test_4_fire_fires(self):
        before = len(self.received())
        self.driver.find_element(By.ID, "fire").click()
        self.wait_for_message("fired")
        self.assertEqual([f[4] for f in self.writes_since(before)], [0x14])

    def test_5_the_diagram_shows_the_pulse(self):
        self.type_into("width-1", "100ns")
        Select(self.driver.find_element(By.ID, "on-1")).select_by_value("on")
        self.send("applied")
        pulse = wait_for(lambda: self.driver.find_elements(By.CSS_SELECTOR, "#diagram rect[data-channel='1']"),
                         "channel 1's pulse")[0]
        self.assertGreater(float(pulse.get_attribute("width")), 0)
        self.assertEqual(self.driver.find_elements(By.CSS_SELECTOR, "#diagram rect[data-channel='2']"), [])
        self.assertTrue(self.driver.find_elements(By.ID, "diagram-period"))
        wait_for(lambda: self.driver.find_element(By.ID, "on-1").get_attribute("value") == "on", "channel 1 on")

    def test_6_a_saved_setup_applied_back_gives_the_same_state(self):
        saved = self.api("/api/setup")
        state = json.loads(self.api("/api/state"))
        path = os.path.join(self.folder.name, "saved.json")
        with open(path, "w") as f:
            f.write(saved)
        self.type_into("delay-3", "3us")
        self.type_into("rate", "2.5MHz")
        self.send("applied")
        self.assertNotEqual(json.loads(self.api("/api/state"))["channels"], state["channels"])
        self.driver.find_element(By.ID, "setup-file").send_keys(path)
        self.driver.execute_script("document.getElementById('message').textContent = ''")
        self.driver.find_element(By.ID, "compare-file").click()
        self.wait_for_message("channel 3 delay: setup has 0 ns, device reports 3 us")
        self.driver.find_element(By.ID, "apply-file").click()
        self.wait_for_message("applied setup")
        after = json.loads(self.api("/api/state"))
        self.assertEqual(after["channels"], state["channels"])
        self.assertEqual(after["trigger"], state["trigger"])
        self.driver.find_element(By.ID, "compare-file").click()
        self.wait_for_message("the device matches setup")

    def test_7_screenshot(self):
        if not ARGS.screenshot:
            self.skipTest("no --screenshot asked for")
        for channel, delay, width in [(1, "10ns", "100ns"), (2, "150ns", "200ns"), (3, "400ns", "250ns"),
                                      (4, "700ns", "450ns")]:
            self.type_into(f"delay-{channel}", delay)
            self.type_into(f"width-{channel}", width)
        self.type_into("rate", "1MHz")
        self.send("applied")
        self.driver.execute_script("window.scrollTo(0, 0)")
        self.assertTrue(self.driver.save_screenshot(ARGS.screenshot), "the screenshot was not written")


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("qx480")
    parser.add_argument("sim")
    parser.add_argument("--screenshot")
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
