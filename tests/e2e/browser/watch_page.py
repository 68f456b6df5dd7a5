#!/usr/bin/python3
"""Watches a served Fernhold page in headless Chromium, as people would, and says on
standard output, as one JSON object, what each viewer saw: the frames its video decoded
in a measured window, the readouts, the status line, and the picture's mean colour in a
grid of blocks (drawn from the video element onto a canvas).

  watch_page.py URL [--viewers N] [--seconds S] [--kill-one]
  watch_page.py TILE_PAGE_URL --tiles N [--seconds S]
  watch_page.py CONTROL_URL --latency N


With --kill-one, the last viewer runs in a browser of its own that is killed (SIGKILL)
after the first window; every other viewer is then measured for a second window.
With --tiles, the page is Janus's tile page: once N tiles play, each tile's frames decoded
in the window and its picture size are reported.
With --latency (a control link), the page swipes to the edge filter and back N times and
times each change from the request to the first decoded frame that shows it: the delay
from the camera to the browser, plus at most a frame's wait for the camera.
"""
import argparse
import json
import os
import signal
import sys

from selenium import webdriver
from selenium.common.exceptions import TimeoutException
from selenium.webdriver.chrome.options import Options

# Resolves once the page either plays (its video has decoded a frame) or says why not.
STARTED = """
const done = arguments[arguments.length - 1];
const status = () => document.getElementById("status").textContent;
const check = () => {
  const video = document.getElementById("picture");
  if (status()) return done({status: status()});
  if (video.readyState >= 2 && video.videoWidth > 0) return done({status: ""});
  setTimeout(check, 50);
};
check();
"""

# Frames decoded so far, the readouts and the picture's block colours.
OBSERVE = """
const done = arguments[arguments.length - 1];
const columns = arguments[0], rows = arguments[1];
const page = window.fernhold;
const video = document.getElementById("picture");
const text = (id) => document.getElementById(id).textContent;
const result = {status: text("status"), filter: text("filter"), luminosity: text("luminosity"),
                frames: 0, width: video.videoWidth, height: video.videoHeight, blocks: []};
if (video.videoWidth > 0) {
  const canvas = document.createElement("canvas");
  canvas.width = video.videoWidth; canvas.height = video.videoHeight;
  const context = canvas.getContext("2d", {willReadFrequently: true});
  context.drawImage(video, 0, 0);
  const pixels = context.getImageData(0, 0, canvas.width, canvas.height).data;
  for (let r = 0; r < rows; ++r)
    for (let c = 0; c < columns; ++c) {
      const sum = [0, 0, 0]; let n = 0;
      const x0 = Math.floor(c * canvas.width / columns), x1 = Math.floor((c + 1) * canvas.width / columns);
      const y0 = Math.floor(r * canvas.height / rows), y1 = Math.floor((r + 1) * canvas.height / rows);
      for (let y = y0; y < y1; y += 2)
        for (let x = x0; x < x1; x += 2) {
          const i = (y * canvas.width + x) * 4;
          sum[0] += pixels[i]; sum[1] += pixels[i + 1]; sum[2] += pixels[i + 2]; ++n;
        }
      result.blocks.push(...sum.map((v) => Math.round(v / n)));
    }
}
if (!page || !page.connection) return done(result);
// The addresses the server's answer offers to be reached on.
const answer = page.connection.remoteDescription ? page.connection.remoteDescription.sdp : "";
result.answerAddresses = [...new Set([...answer.matchAll(/a=candidate:\S+ \d+ \S+ \d+ (\S+)/g)].map((m) => m[1]))];
page.connection.getStats().then((stats) => {
  stats.forEach((s) => { if (s.type === "inbound-rtp" && s.kind === "video") result.frames = s.framesDecoded; });
  done(result);
}, () => done(result));  // a connection closed (told "busy") has no statistics
"""

# Resolves once `count` tiles play, or the page says why not.
TILES_STARTED = """
const done = arguments[arguments.length - 1];
const count = arguments[0];
const check = () => {
  const status = document.getElementById("status").textContent;
  if (status) return done(status);
  const playing = (window.tiles || []).filter((t) => t.video.readyState >= 2 && t.video.videoWidth > 0);
  if (playing.length >= count) return done("");
  setTimeout(check, 50);
};
check();
"""

TILES = """
const done = arguments[arguments.length - 1];
Promise.all(window.tiles.map((tile) => tile.connection.getStats().then((stats) => {
  let frames = 0;
  stats.forEach((s) => { if (s.type === "inbound-rtp" && s.kind === "video") frames = s.framesDecoded; });
  return {id: tile.id, frames, width: tile.video.videoWidth, height: tile.video.videoHeight};
}))).then(done);
"""

# Swipes and waits for the picture to change, `count` times each way; the delays in ms.
LATENCY = """
const done = arguments[arguments.length - 1];
const count = arguments[0];
const video = document.getElementById("picture");
const canvas = Object.assign(document.createElement("canvas"), {width: 64, height: 36});
const context = canvas.getContext("2d", {willReadFrequently: true});
const mean = () => {
  context.drawImage(video, 0, 0, canvas.width, canvas.height);
  const pixels = context.getImageData(0, 0, canvas.width, canvas.height).data;
  let sum = 0;
  for (let i = 0; i < pixels.length; i += 4) sum += pixels[i] + pixels[i + 1] + pixels[i + 2];
  return sum / (pixels.length / 4) / 3;
};
const nextFrame = () => new Promise((resolve) => video.requestVideoFrameCallback((now) => resolve(now)));
async function change(command, from) {
  const start = performance.now();
  await fetch("/control" + location.search, {method: "POST", body: command});
  for (;;) {
    const shown = await nextFrame();
    const level = mean();
    if (Math.abs(level - from) > 12) return [shown - start, level];
  }
}
(async () => {
  for (let i = 0; i < 10; ++i) await nextFrame();
  const plain = mean(), delays = [];
  for (let i = 0; i < count; ++i) {
    const [there, level] = await change("swipe right", plain);  // to the edges: far darker
    delays.push(there);
    const [back] = await change("swipe left", level);
    delays.push(back);
  }
  done(delays);
})();
"""

WAIT = """
const done = arguments[arguments.length - 1];
setTimeout(done, arguments[0] * 1000);
"""


def browser():
    options = Options()
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                     "--allow-loopback-in-peer-connection",
                     "--disable-features=WebRtcHideLocalIpsWithMdns",
                     "--autoplay-policy=no-user-gesture-required", "--mute-audio"):
        options.add_argument(argument)
    driver = webdriver.Chrome(options=options)
    driver.set_script_timeout(60)
    return driver


def descendants(pid):
    children = []
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            try:
                with open(f"/proc/{entry}/stat") as stat:
                    if int(stat.read().rsplit(")", 1)[1].split()[1]) == pid:
                        children.append(int(entry))
            except (OSError, ValueError, IndexError):
                pass
    return children + [d for c in children for d in descendants(c)]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("url")
    parser.add_argument("--viewers", type=int, default=1)
    parser.add_argument("--seconds", type=float, default=5)
    parser.add_argument("--kill-one", action="store_true")
    parser.add_argument("--grid", default="8x6")
    parser.add_argument("--tiles", type=int, default=0)
    parser.add_argument("--latency", type=int, default=0)
    arguments = parser.parse_args()
    columns, rows = (int(n) for n in arguments.grid.split("x"))
    if arguments.tiles:
        return watch_tiles(arguments)
    if arguments.latency:
        driver = browser()
        driver.get(arguments.url)
        driver.execute_async_script(STARTED)
        delays = sorted(driver.execute_async_script(LATENCY, arguments.latency))
        driver.quit()
        json.dump({"delays": delays, "median": delays[len(delays) // 2]}, sys.stdout, sort_keys=True)
        print()
        return

    drivers, tabs = [browser()], []
    if arguments.kill_one:
        drivers.append(browser())
    for i in range(arguments.viewers):
        driver = drivers[-1] if arguments.kill_one and i == arguments.viewers - 1 else drivers[0]
        if any(d is driver for d, _ in tabs):
            driver.switch_to.new_window("tab")
        driver.get(arguments.url)
        tabs.append((driver, driver.current_window_handle))

    def run(tab, script, *args):
        driver, handle = tab
        driver.switch_to.window(handle)
        return driver.execute_async_script(script, *args)

    def start(tab):
        try:
            return run(tab, STARTED)
        except TimeoutException:
            return {"status": "no picture within a minute"}

    started = [start(tab) for tab in tabs]
    first = [run(tab, OBSERVE, columns, rows) for tab in tabs]
    run(tabs[0], WAIT, arguments.seconds)
    second = [run(tab, OBSERVE, columns, rows) for tab in tabs]
    report = {"viewers": []}
    for s, a, b in zip(started, first, second):
        b["framesInWindow"] = b["frames"] - a["frames"]
        b["startStatus"] = s["status"]
        report["viewers"].append(b)
    if arguments.kill_one:
        killed = drivers.pop()
        chrome = descendants(killed.service.process.pid)
        for pid in chrome:
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        report["killed"] = len(chrome)
        remaining = tabs[:-1]
        before = [run(tab, OBSERVE, columns, rows) for tab in remaining]
        run(remaining[0], WAIT, arguments.seconds)
        after = [run(tab, OBSERVE, columns, rows) for tab in remaining]
        report["afterKill"] = [b["frames"] - a["frames"] for a, b in zip(before, after)]
        try:
            killed.service.stop()
        except Exception:
            pass
    for driver in drivers:
        driver.quit()
    json.dump(report, sys.stdout, sort_keys=True)
    print()


def watch_tiles(arguments):
    driver = browser()
    driver.get(arguments.url)
    try:
        status = driver.execute_async_script(TILES_STARTED, arguments.tiles)
    except TimeoutException:
        status = "no picture within a minute"
    first = driver.execute_async_script(TILES) if not status else []
    driver.execute_async_script(WAIT, arguments.seconds)
    second = driver.execute_async_script(TILES) if not status else []
    for a, b in zip(first, second):
        b["framesInWindow"] = b["frames"] - a["frames"]
    driver.quit()
    json.dump({"status": status, "tiles": second}, sys.stdout, sort_keys=True)
    print()


if __name__ == "__main__":
    main()
