#include "host/serve/ViewPage.h"

namespace host {
namespace {

// The page asks for the stream as WHEP does: its whole offer (candidates gathered) in one
// POST, the whole answer back, then the readouts as server-sent events on the viewer's
// own stream, whose closing tells the server the viewer left. `window.fernhold` holds the
// connection for those who inspect it.
constexpr const char* page = R"html(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Fernhold</title>
<style>
  body { margin: 0; background: #111; color: #eee; font: 16px system-ui, sans-serif; }
  main { display: flex; flex-direction: column; align-items: center; gap: 0.5em; padding: 0.5em; }
  video { max-width: 100%; max-height: 80vh; background: #000; }
  #readouts { display: flex; gap: 2em; }
  #controls button { font: inherit; margin: 0 0.2em; }
  #status:empty { display: none; }
</style>
</head>
<body>
<main>
  <video id="picture" autoplay muted playsinline></video>
  <div id="readouts"><span id="filter"></span><span id="luminosity"></span></div>
  <div id="status" role="status"></div>
  <div id="controls" hidden>
    <button data-command="swipe right">&#9664; Filter</button>
    <button data-command="swipe left">Filter &#9654;</button>
    <button data-toggle="zebra 90|zebra off">Zebra</button>
    <button data-toggle="peaking on|peaking off">Peaking</button>
    <button data-toggle="histogram on|histogram off">Histogram</button>
    <button data-toggle="waveform on|waveform off">Waveform</button>
  </div>
</main>
<script>
"use strict";
const token = new URLSearchParams(location.search).get("token") || "";
const withControls = WITH_CONTROLS;
const $ = (id) => document.getElementById(id);
const say = (text) => { $("status").textContent = text; };

function control(command) {
  return fetch("/control?token=" + encodeURIComponent(token), { method: "POST", body: command });
}

if (withControls) {
  $("controls").hidden = false;
  for (const button of document.querySelectorAll("#controls button")) {
    button.addEventListener("click", () => {
      if (button.dataset.command) return control(button.dataset.command);
      const [on, off] = button.dataset.toggle.split("|");
      const pressed = button.getAttribute("aria-pressed") === "true";
      button.setAttribute("aria-pressed", String(!pressed));
      control(pressed ? off : on);
    });
  }
}

async function watch() {
  const connection = new RTCPeerConnection();
  window.fernhold = { connection, video: $("picture") };
  connection.addTransceiver("video", { direction: "recvonly" });
  connection.ontrack = (event) => {
    $("picture").srcObject = event.streams[0] || new MediaStream([event.track]);
  };
  await connection.setLocalDescription(await connection.createOffer());
  await new Promise((resolve) => {
    if (connection.iceGatheringState === "complete") return resolve();
    connection.addEventListener("icegatheringstatechange", () => {
      if (connection.iceGatheringState === "complete") resolve();
    });
  });
  const response = await fetch("/whep?token=" + encodeURIComponent(token), {
    method: "POST", headers: { "Content-Type": "application/sdp" }, body: connection.localDescription.sdp });
  if (response.status === 503) { say("busy"); connection.close(); return; }
  if (!response.ok) { say("cannot watch: " + (await response.text())); connection.close(); return; }
  const viewer = response.headers.get("Location").split("/").pop();
  window.fernhold.viewer = viewer;
  await connection.setRemoteDescription({ type: "answer", sdp: await response.text() });
  const events = new EventSource("/events?token=" + encodeURIComponent(token) + "&viewer=" + viewer);
  events.onmessage = (event) => {
    const state = JSON.parse(event.data);
    $("filter").textContent = state.filter;
    $("luminosity").textContent = state.luminosity;
  };
  events.onerror = () => say(connection.connectionState === "connected" ? "" : "connection lost");
  connection.addEventListener("connectionstatechange", () => {
    if (connection.connectionState === "failed") say("connection lost");
  });
  window.addEventListener("pagehide", () => {
    fetch("/whep/" + viewer + "?token=" + encodeURIComponent(token), { method: "DELETE", keepalive: true });
  });
}

watch().catch((error) => say("cannot watch: " + error));
</script>
</body>
</html>
)html";

} // namespace

std::string viewPage(bool withControls) {
    std::string text = page;
    const std::string marker = "WITH_CONTROLS";
    text.replace(text.find(marker), marker.size(), withControls ? "true" : "false");
    return text;
}

} // namespace host
