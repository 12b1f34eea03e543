// Appended to a copy of a report page for a headless browser: once every
// audio element has loaded its sound, writes what the page shows into
// <pre id="probe"> as JSON (durations of the audio elements, drawn sizes of
// the charts), for --dump-dom to print.
(function () {
  function done() {
    var out = { audio: [], charts: [], levels: [] };
    document.querySelectorAll("audio").forEach(function (a) {
      out.audio.push({ title: a.title, duration: a.duration, ready: a.readyState, error: a.error ? a.error.code : 0 });
    });
    document.querySelectorAll("svg.chart").forEach(function (s) {
      var pts = s.querySelectorAll("circle.point");
      var drawn = 0;
      pts.forEach(function (c) { var b = c.getBBox(); if (b.width > 0 && b.height > 0) drawn++; });
      out.charts.push({ points: pts.length, drawn: drawn, width: s.getBoundingClientRect().width });
    });
    document.querySelectorAll("svg.levels").forEach(function (s) {
      var lines = s.querySelectorAll("polyline");
      var length = 0;
      lines.forEach(function (l) { length += l.getTotalLength(); });
      out.levels.push({ lines: lines.length, length: length });
    });
    var pre = document.createElement("pre");
    pre.id = "probe";
    pre.textContent = JSON.stringify(out);
    document.body.appendChild(pre);
  }
  var audios = Array.prototype.slice.call(document.querySelectorAll("audio"));
  var waiting = audios.length;
  if (!waiting) return done();
  audios.forEach(function (a) {
    function one() { if (--waiting === 0) done(); }
    if (a.readyState >= 1) one();
    else { a.addEventListener("loadedmetadata", one, { once: true }); a.addEventListener("error", one, { once: true }); }
  });
})();
