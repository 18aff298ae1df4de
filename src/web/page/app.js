// The Torvane page: logs in with the token, then shows the links, the flow, the sources, the
// last detections and results, live over a WebSocket (or by polling once a second).
"use strict";

const TEXTS = {
  fr: {
    tokenLabel: "Jeton ([Web] Token du fichier Torvane.ini)", login: "Se connecter",
    wrongToken: "Jeton refusé.", flow: "Flux des détections :", waiting: "En attente d'Ostrak Pro :",
    open: "ouvert", closed: "fermé", openFlow: "Ouvrir le flux", closeFlow: "Fermer le flux",
    confirmClose: "Etes vous sûr de fermer le flux des détections ?", yes: "Oui", no: "Non",
    sources: "Sources", noSource: "Aucune source connectée depuis le démarrage.",
    connected: "connectée", disconnected: "déconnectée", silent: "SILENCIEUSE",
    passings: "passages", last: "dernier", never: "jamais",
    detections: "Dernières détections", results: "Derniers résultats", time: "Heure",
    source: "Source", bib: "Dossard", raceTime: "Temps", state: "État", runner: "Coureur",
    passage: "Passage", ranking: "Classement",
    states: { sent: "envoyée", waiting: "en attente", not_forwarded: "non transmise", resend: "à renvoyer" },
    replay: "Rejeu et export", from: "De", to: "à", replayButton: "Renvoyer",
    export: "Exporter le journal (CSV)", unreachable: "Torvane ne répond pas.",
    liveOn: "Mises à jour en direct", polling: "Mises à jour chaque seconde",
  },
  en: {
    tokenLabel: "Token ([Web] Token in Torvane.ini)", login: "Log in",
    wrongToken: "Token refused.", flow: "Detection flow:", waiting: "Waiting for Ostrak Pro:",
    open: "open", closed: "closed", openFlow: "Open the flow", closeFlow: "Close the flow",
    confirmClose: "Are you sure you want to close the detection flow?", yes: "Yes", no: "No",
    sources: "Sources", noSource: "No source has connected since the start.",
    connected: "connected", disconnected: "disconnected", silent: "SILENT",
    passings: "passings", last: "last", never: "never",
    detections: "Last detections", results: "Last results", time: "Time",
    source: "Source", bib: "Bib", raceTime: "Time", state: "State", runner: "Runner",
    passage: "Passage", ranking: "Ranking",
    states: { sent: "sent", waiting: "waiting", not_forwarded: "not forwarded", resend: "to resend" },
    replay: "Replay and export", from: "From", to: "to", replayButton: "Send again",
    export: "Export the journal (CSV)", unreachable: "Torvane does not answer.",
    liveOn: "Live updates", polling: "Updates every second",
  },
};
const T = TEXTS[document.documentElement.lang] || TEXTS.fr;
const SHOWN_DETECTIONS = 50;
const $ = (id) => document.getElementById(id);

let lastSeq = 0;
let flowOpen = false;
let socket = null;
let pollTimer = null;

function element(tag, props = {}, children = []) {
  const node = document.createElement(tag);
  Object.assign(node, props);
  for (const child of children) node.append(child);
  return node;
}

function clockText(iso) {
  return iso ? iso.slice(11, 19) : T.never;
}

async function api(path, options = {}) {
  const response = await fetch(path, options);
  if (response.status === 401) {
    showLogin();
    throw new Error("401");
  }
  return response;
}

async function command(path, body) {
  const response = await api(path, {
    method: "POST", headers: { "Content-Type": "application/json" }, body: JSON.stringify(body),
  });
  const answer = await response.json();
  $("message").textContent = answer.message || answer.error || "";
  $("message").className = "message" + (answer.ok ? "" : " error");
  await refreshStatus();
}

function showLogin() {
  $("board").hidden = true;
  $("login").hidden = false;
  stopLive();
}

function drawSparkline(counts, silent) {
  const ns = "http://www.w3.org/2000/svg";
  const svg = document.createElementNS(ns, "svg");
  svg.setAttribute("viewBox", "0 0 300 28");
  svg.setAttribute("preserveAspectRatio", "none");
  const top = Math.max(1, ...counts);
  const points = counts.map((n, i) => `${(i * 300) / (counts.length - 1)},${26 - (n * 24) / top}`);
  const line = document.createElementNS(ns, "polyline");
  line.setAttribute("points", points.join(" "));
  line.setAttribute("fill", "none");
  line.setAttribute("stroke", silent ? "#d72828" : "#1e50a0");
  line.setAttribute("stroke-width", "2");
  line.setAttribute("vector-effect", "non-scaling-stroke");
  svg.append(line);
  return svg;
}

function showSources(sources) {
  const list = $("sources");
  list.replaceChildren();
  if (!sources.length) list.append(element("p", { className: "empty", textContent: T.noSource }));
  for (const s of sources) {
    const card = element("div", { className: "card" + (s.silent ? " silent" : s.connected ? "" : " off") });
    card.dataset.name = s.name;
    card.append(
      element("span", { className: "name", textContent: s.name }),
      element("span", { textContent: s.silent ? T.silent : s.connected ? T.connected : T.disconnected }),
      element("span", {
        className: "meta",
        textContent: `${s.address} · ${s.passings} ${T.passings} · ${T.last} ${clockText(s.last_passing)}`,
      }),
      drawSparkline(s.per_minute, s.silent));
    list.append(card);
  }
}

function showStatus(status) {
  flowOpen = status.flow === "open";
  for (const link of ["mylaps", "ostrak"]) {
    $(link).dataset.state = status[link].state;
    $(link).classList.toggle("closed", !flowOpen);
  }
  $("flow-state").textContent = flowOpen ? T.open : T.closed;
  $("waiting").textContent = status.waiting;
  const button = $("flow-button");
  button.textContent = flowOpen ? T.closeFlow : T.openFlow;
  button.className = flowOpen ? "open" : "closed";
  showSources(status.sources);
}

async function refreshStatus() {
  showStatus(await (await api("/api/v1/status")).json());
}

function detectionRow(d) {
  const state = element("td", { className: "state-" + d.state, textContent: T.states[d.state] || d.state });
  const row = element("tr", {}, [
    element("td", { textContent: clockText(d.received) }), element("td", { textContent: d.source }),
    element("td", { textContent: d.bib ?? d.chip }), element("td", { textContent: d.race_time }), state]);
  row.dataset.seq = d.seq;
  return row;
}

async function refreshDetections(newest) {
  if (newest !== undefined && newest <= lastSeq) return;
  const catchUp = newest === undefined || newest - lastSeq > SHOWN_DETECTIONS;
  const query = catchUp ? `limit=${SHOWN_DETECTIONS}` : `after=${lastSeq}&limit=${SHOWN_DETECTIONS}`;
  const answer = await (await api("/api/v1/detections?" + query)).json();
  const body = $("detections");
  if (catchUp) body.replaceChildren();
  for (const d of answer.detections) {
    body.prepend(detectionRow(d));
    lastSeq = Math.max(lastSeq, d.seq);
  }
  while (body.rows.length > SHOWN_DETECTIONS) body.deleteRow(-1);
  await refreshResults();
}

async function refreshResults() {
  const answer = await (await api("/api/v1/results?limit=30")).json();
  $("results").replaceChildren(...answer.results.reverse().map((r) => element("tr",
    { className: r.accepted ? "" : "refused" }, [
      element("td", { textContent: r.bib || "" }), element("td", { textContent: r.name }),
      element("td", { textContent: r.time }), element("td", { textContent: r.passage }),
      element("td", { textContent: r.status })])));
}

function startPolling() {
  $("live").dataset.state = "polling";
  $("live").title = T.polling;
  if (pollTimer) return;
  pollTimer = setInterval(async () => {
    try {
      await refreshStatus();
      await refreshDetections();
    } catch (e) { /* shown at the next success */ }
  }, 1000);
}

function stopLive() {
  if (pollTimer) clearInterval(pollTimer);
  pollTimer = null;
  if (socket) socket.onclose = null, socket.close();
  socket = null;
}

async function startLive() {
  try {
    const { ticket } = await (await api("/api/v1/live-ticket", { method: "POST" })).json();
    const scheme = location.protocol === "https:" ? "wss:" : "ws:";
    socket = new WebSocket(`${scheme}//${location.host}/api/v1/live`);
    socket.onopen = () => {
      socket.send(ticket);
      if (pollTimer) clearInterval(pollTimer);
      pollTimer = null;
      $("live").dataset.state = "on";
      $("live").title = T.liveOn;
    };
    socket.onmessage = async (event) => {
      const state = JSON.parse(event.data);
      showStatus(state.status);
      await refreshDetections(state.newest);
    };
    socket.onclose = () => {
      socket = null;
      startPolling();
      setTimeout(startLive, 5000);
    };
  } catch (e) {
    startPolling();
  }
}

async function showBoard() {
  $("login").hidden = true;
  $("board").hidden = false;
  await refreshStatus();
  await refreshDetections();
  startLive();
}

function setUp() {
  for (const node of document.querySelectorAll("[data-text]")) node.textContent = T[node.dataset.text];
  $("login-form").addEventListener("submit", async (event) => {
    event.preventDefault();
    const response = await fetch("/api/v1/login", {
      method: "POST", headers: { "Content-Type": "application/json" },
      body: JSON.stringify({ token: $("token").value.trim() }),
    });
    if (!response.ok) {
      $("login-error").textContent = T.wrongToken;
      return;
    }
    $("token").value = "";
    $("login-error").textContent = "";
    showBoard();
  });
  $("flow-button").addEventListener("click", () => {
    if (flowOpen) {
      $("confirm").hidden = false;  // closing asks first, as the window does
    } else {
      command("/api/v1/flow", { open: true });
    }
  });
  $("confirm-yes").addEventListener("click", () => {
    $("confirm").hidden = true;
    command("/api/v1/flow", { open: false });
  });
  $("confirm-no").addEventListener("click", () => { $("confirm").hidden = true; });
  $("replay-form").addEventListener("submit", (event) => {
    event.preventDefault();
    const span = { from: $("replay-from").value.trim() };
    if ($("replay-to").value.trim()) span.to = $("replay-to").value.trim();
    command("/api/v1/replay", span);
  });
  fetch("/api/v1/status").then((r) => (r.status === 401 ? showLogin() : showBoard()),
    () => { $("login").hidden = false; $("login-error").textContent = T.unreachable; });
}

setUp();
