// The live status page: the table the server wrote is redrawn from the API
// and kept current by the event stream. Every text goes in as text, never as
// markup: host names, comments and errors come from the host list and the
// network.
"use strict";

const order = { red: 0, yellow: 1, green: 2 };
const words = { red: "Red", yellow: "Yellow", green: "Green" };
const hosts = new Map();  // key -> the host's latest record
let openKey = null;

function element(name, className, text) {
  const made = document.createElement(name);
  if (className)
    made.className = className;
  if (text !== undefined)
    made.textContent = text;
  return made;
}

function milliseconds(microseconds) {
  if (microseconds === null || microseconds === undefined)
    return "";
  return (microseconds / 1000).toFixed(3) + " ms";
}

function percent(ratio) {
  if (ratio === null || ratio === undefined)
    return "";
  return Math.round(ratio * 100) + " %";
}

function when(seconds) {
  if (!seconds)
    return "";
  return new Date(seconds * 1000).toLocaleString();
}

// A run of requests with one fate is one mark as wide as its requests: a
// mark for each of 60 requests of 10,000 hosts is more than a browser lays
// out in good time.
function stripOf(outcomes) {
  const strip = element("span", "strip");
  strip.setAttribute("role", "img");
  const lost = outcomes.filter((roundTrip) => roundTrip < 0).length;
  strip.setAttribute("aria-label", outcomes.length + " requests, " + lost + " unanswered");
  for (let start = 0; start < outcomes.length;) {
    const unanswered = outcomes[start] < 0;
    let end = start + 1;
    while (end < outcomes.length && (outcomes[end] < 0) === unanswered)
      end++;
    const run = element("span", unanswered ? "lost" : "answered");
    run.style.width = (5 * (end - start) - 1) + "px";
    if (unanswered) {
      run.title = end - start === 1 ? "no reply" : (end - start) + " requests without a reply";
    } else {
      const times = outcomes.slice(start, end);
      run.title = times.length === 1 ? milliseconds(times[0])
        : times.length + " replies, " + milliseconds(Math.min(...times)) + " to " + milliseconds(Math.max(...times));
    }
    strip.append(run);
    start = end;
  }
  return strip;
}

function rowOf(host) {
  const row = element("tr");
  row.dataset.key = host.key;
  const status = element("td", "status status-" + host.status,
    (words[host.status] || host.status) + (host.behind ? ", behind " + host.behind : ""));
  if (host.error)
    status.title = host.error;
  row.append(status, element("td", "", host.name), element("td", "", host.host), element("td", "", host.comment),
    element("td", "", host.status === "green" ? "" : when(host.since)),
    element("td", "figure", milliseconds(host.latestRtt)), element("td", "figure", milliseconds(host.medianRtt)),
    element("td", "figure", percent(host.loss)));
  const stripCell = element("td");
  stripCell.append(stripOf(host.strip || []));
  row.append(stripCell);
  row.addEventListener("click", () => openDetail(host.key));
  return row;
}

function matches(host, filter) {
  if (!filter)
    return true;
  const text = [host.name, host.host, host.comment, words[host.status] || "", host.error || ""].join(" ").toLowerCase();
  return text.includes(filter);
}

function redraw() {
  const filter = document.getElementById("filter").value.trim().toLowerCase();
  const sorted = [...hosts.values()].sort((one, other) =>
    (order[one.status] - order[other.status]) || (one.position - other.position));
  const body = document.querySelector("#hosts tbody");
  body.replaceChildren(...sorted.filter((host) => matches(host, filter)).map(rowOf));
  const counts = { red: 0, yellow: 0, green: 0 };
  for (const host of hosts.values())
    counts[host.status] = (counts[host.status] || 0) + 1;
  document.getElementById("counts").textContent =
    counts.red + " red, " + counts.yellow + " yellow, " + counts.green + " green";
}

// Where the network broke, as the monitor says it: one line each.
function showOutages(lines) {
  document.getElementById("outages").replaceChildren(...(lines || []).map((line) => element("li", "", line)));
}

function takeAll(list) {
  showOutages(list.run.outages);
  hosts.clear();
  list.hosts.forEach((host, position) => hosts.set(host.key, { ...host, position }));
  const age = document.getElementById("age");
  age.textContent = list.run.startedAgo < 86400
    ? "The run started " + when(list.run.started) + ": the uptime figures cover only what it has seen since."
    : "";
  redraw();
}

async function catchUp() {
  const answer = await fetch("/api/v1/hosts", { cache: "no-store" });
  if (answer.ok)
    takeAll(await answer.json());
}

function showConnection(text) {
  const line = document.getElementById("connection");
  line.textContent = text;
  line.hidden = !text;
}

function listen() {
  const events = new EventSource("/api/v1/events");
  // A stream that was lost and is back may have missed passes: the whole
  // list again first.
  events.addEventListener("open", () => {
    showConnection("");
    catchUp().catch(() => showConnection("The monitor does not answer; trying again."));
  });
  events.addEventListener("error", () => showConnection("Connection to the monitor lost; reconnecting."));
  events.addEventListener("pass", (event) => {
    const pass = JSON.parse(event.data);
    for (const host of pass.changed || []) {
      const known = hosts.get(host.key);
      hosts.set(host.key, { ...host, position: known ? known.position : hosts.size });
    }
    for (const key of pass.removed || [])
      hosts.delete(key);
    showOutages(pass.outages);
    redraw();
    if (openKey && (pass.changed || []).some((host) => host.key === openKey))
      openDetail(openKey);
  });
  events.addEventListener("reload", () => catchUp());
}

function drawChart(svg, minutes, now) {
  const width = 600;
  const height = 160;
  const left = 48;
  const bottom = 16;
  const made = (name, attributes) => {
    const shape = document.createElementNS("http://www.w3.org/2000/svg", name);
    for (const [key, value] of Object.entries(attributes))
      shape.setAttribute(key, value);
    return shape;
  };
  svg.replaceChildren();
  const highest = Math.max(1, ...minutes.map((minute) => minute.max));
  const x = (start) => left + (width - left) * (1 - (now - start) / 3600);
  const y = (value) => (height - bottom) * (1 - value / highest);
  svg.append(made("line", { class: "axis", x1: left, y1: height - bottom, x2: width, y2: height - bottom }));
  const label = made("text", { x: 0, y: 10 });
  label.textContent = milliseconds(highest);
  const zero = made("text", { x: 0, y: height - bottom });
  zero.textContent = "0 ms";
  const start = made("text", { x: left, y: height - 2 });
  start.textContent = "an hour ago";
  const end = made("text", { x: width - 24, y: height - 2 });
  end.textContent = "now";
  svg.append(label, zero, start, end);
  for (const minute of minutes)
    svg.append(made("rect", { class: "highest", x: x(minute.start), y: y(minute.max), width: 2,
      height: Math.max(1, y(minute.mean) - y(minute.max)) }));
  if (minutes.length > 0) {
    const points = minutes.map((minute) => x(minute.start) + "," + y(minute.mean)).join(" ");
    svg.append(made("polyline", { class: "mean", points }));
  }
}

async function openDetail(key) {
  openKey = key;
  const answer = await fetch("/api/v1/hosts/" + encodeURIComponent(key) + "/history", { cache: "no-store" });
  if (!answer.ok || openKey !== key)
    return;
  const history = await answer.json();
  const host = hosts.get(key);
  document.getElementById("detail-title").textContent = host ? host.name + " " + host.host : key;
  const uptime = history.uptime || {};
  const share = (ratio) => (ratio === null || ratio === undefined ? "not seen yet" : (ratio * 100).toFixed(2) + " %");
  document.getElementById("detail-uptime").textContent =
    "Uptime: last hour " + share(uptime.hour) + ", last 24 hours " + share(uptime.day) + ".";
  const path = history.path;
  document.getElementById("detail-path").textContent = !path ? "Path: not learnt yet."
    : path.routers.length === 0 && path.reachedHost ? "Path: on this machine's own network."
    : "Path: " + path.routers.map((router) => router || "(silent)").join(" \u2192 ")
      + (path.reachedHost ? " \u2192 " + (host ? host.host : key) : " \u2192 \u2026");
  drawChart(document.getElementById("detail-chart"), history.chart || [], history.now);
  const outages = document.querySelector("#detail-outages tbody");
  // Newest first: only the newest can still be going on; an older one
  // without its return lost it to a restart of the monitor.
  outages.replaceChildren(...(history.outages || []).map((outage, position) => {
    const row = element("tr");
    const back = outage.up || (position === 0 ? "still down" : "not recorded");
    const length = outage.seconds === null || outage.seconds === undefined ? "" : Math.round(Number(outage.seconds)) + " s";
    row.append(element("td", "", outage.down || "before the log's recent lines"), element("td", "", back),
      element("td", "figure", length), element("td", "", outage.error || ""));
    return row;
  }));
  document.getElementById("detail").hidden = false;
}

document.addEventListener("DOMContentLoaded", () => {
  document.querySelector(".filter").hidden = false;
  document.getElementById("filter").addEventListener("input", redraw);
  document.getElementById("detail-close").addEventListener("click", () => {
    openKey = null;
    document.getElementById("detail").hidden = true;
  });
  listen();
});
