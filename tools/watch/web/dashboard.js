// The dashboard: one bar per stream and the latest messages, kept current by
// the watcher's Server-Sent Events. Every text from a stream is inserted as a
// text node, never as markup.
"use strict";
(function () {
  var LEVELS = { FATAL: 1, ERROR: 2, WARNING: 3, INFO: 4, LOG: 5, DEBUG: 6, TRACE: 7 };
  var KEPT_MESSAGES = 500;
  var streamsBox = document.getElementById("streams");
  var messageBody = document.querySelector("#messages tbody");
  var levelBox = document.getElementById("level");
  var searchBox = document.getElementById("search");
  var bars = {};      // stream id -> its elements
  var messages = [];  // oldest first: { record, row }

  function element(tag, className, text) {
    var node = document.createElement(tag);
    if (className) node.className = className;
    if (text !== undefined) node.textContent = text;
    return node;
  }

  function formatEta(seconds) {
    var s = Math.max(0, Math.round(seconds));
    if (s >= 999 * 3600) return ">999h";
    var two = function (n) { return (n < 10 ? "0" : "") + n; };
    if (s < 60) return s + "s";
    if (s < 3600) return Math.floor(s / 60) + "m " + two(s % 60) + "s";
    return Math.floor(s / 3600) + "h " + two(Math.floor(s / 60) % 60) + "m";
  }

  function formatPercent(p) { return p >= 100 ? "100%" : p.toFixed(1) + "%"; }

  function showStream(record) {
    var bar = bars[record.id];
    if (!bar) {
      bar = { row: element("div", "bar") };
      bar.row.dataset.id = record.id;
      ["name", "middle", "percent", "eta", "state", "counts"].forEach(function (part) {
        bar[part] = bar.row.appendChild(element("div", part));
      });
      bar.text = bar.middle.appendChild(element("div", "text"));
      bar.fill = bar.middle.appendChild(element("div", "track")).appendChild(element("div", "fill"));
      bar.errors = bar.counts.appendChild(element("span", "errors"));
      bar.counts.appendChild(document.createTextNode(" "));
      bar.warnings = bar.counts.appendChild(element("span", "warnings"));
      bars[record.id] = bar;
      streamsBox.appendChild(bar.row);
    }
    bar.row.className = "bar " + record.state;
    bar.name.textContent = record.stream;
    bar.name.title = record.source;
    bar.text.textContent = record.text;
    bar.fill.style.width = Math.max(0, Math.min(100, record.percent)) + "%";
    bar.percent.textContent = formatPercent(record.percent);
    bar.eta.className = "eta" + (record.stalled ? " stalled" : "");
    bar.eta.textContent = record.state !== "running" ? "" : record.stalled ? "stalled"
      : record.eta === null ? "" : "ETA " + formatEta(record.eta);
    bar.state.textContent = record.state;
    bar.errors.textContent = record.errors + " ERROR";
    bar.warnings.textContent = record.warnings + " WARNING";
    showSummary();
  }

  function showSummary() {
    var running = 0, ended = 0;
    Object.keys(bars).forEach(function (id) {
      if (bars[id].state.textContent === "running") running++; else ended++;
    });
    document.getElementById("summary").textContent = "streams: " + running + " running, " + ended + " ended";
  }

  function matches(record) {
    var shownLevel = LEVELS[levelBox.value] || 7;
    if ((LEVELS[record.level] || 0) > shownLevel) return false;
    var wanted = searchBox.value.toLowerCase();
    return !wanted || [record.text, record.task, record.stream, record.source].some(function (field) {
      return field.toLowerCase().indexOf(wanted) >= 0;
    });
  }

  function addMessage(record) {
    var row = element("tr", "level-" + record.level);
    row.appendChild(element("td", "time", record.time));
    row.appendChild(element("td", "level", record.level));
    var stream = row.appendChild(element("td", "stream", record.stream));
    stream.title = record.source;
    row.appendChild(element("td", "task", record.task));
    row.appendChild(element("td", "text", record.text));
    row.hidden = !matches(record);
    messageBody.insertBefore(row, messageBody.firstChild);
    messages.push({ record: record, row: row });
    if (messages.length > KEPT_MESSAGES) messageBody.removeChild(messages.shift().row);
    showCount();
  }

  function showCount() {
    var shown = messages.filter(function (m) { return !m.row.hidden; }).length;
    document.getElementById("shown").textContent = shown + " of " + messages.length + " messages shown";
  }

  function applyFilter() {
    messages.forEach(function (m) { m.row.hidden = !matches(m.record); });
    showCount();
    // The address keeps the filter, so that it can be bookmarked or shared.
    var query = new URLSearchParams();
    if (levelBox.value !== "TRACE") query.set("level", levelBox.value);
    if (searchBox.value) query.set("q", searchBox.value);
    var search = query.toString();
    history.replaceState(null, "", location.pathname + (search ? "?" + search : ""));
  }

  function clear() {
    bars = {};
    messages = [];
    streamsBox.textContent = "";
    messageBody.textContent = "";
    showCount();
  }

  var query = new URLSearchParams(location.search);
  var level = (query.get("level") || "").toUpperCase();
  if (LEVELS[level]) levelBox.value = level;
  searchBox.value = query.get("q") || "";
  levelBox.addEventListener("change", applyFilter);
  searchBox.addEventListener("input", applyFilter);
  showCount();

  var connection = document.getElementById("connection");
  var events = new EventSource("/events");
  events.onopen = function () { connection.textContent = "live"; connection.className = "live"; };
  events.onerror = function () { connection.textContent = "reconnecting"; connection.className = "connecting"; };
  events.onmessage = function (event) {
    var record = JSON.parse(event.data);
    if (record.type === "reset") clear();
    else if (record.type === "stream") showStream(record);
    else if (record.type === "log") addMessage(record);
    // "progress" and "end" are what --json prints; the stream records carry
    // the same and more.
  };
})();
