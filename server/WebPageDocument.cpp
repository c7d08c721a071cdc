// The web page itself: one HTML document with its style and script. Texts
// from the server are only ever set with textContent.
#include "WebPage.h"

const char *const WEB_PAGE_DOCUMENT = R"html(<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8"><title>Zentoria Media Server</title>
<meta name="viewport" content="width=device-width, initial-scale=1">
<style>
body{font-family:sans-serif;margin:1em 2em;color:#222;background:#fafafa}
h1{font-size:1.4em}h2{font-size:1.1em;margin-top:1.5em;border-bottom:1px solid #ccc}
table{border-collapse:collapse}td,th{padding:.2em .8em;text-align:left;border-bottom:1px solid #eee}
ul.tree{list-style:none;padding-left:1.2em}ul.tree li{margin:.15em 0}
button.open{width:1.8em;margin-right:.3em}img.cover{height:32px;vertical-align:middle;margin-right:.4em}
.count{color:#777;margin-left:.4em}.failed{color:#a00}#log td:first-child{white-space:nowrap}
</style></head>
<body>
<h1>Zentoria Media Server</h1>
<h2>Shared sources</h2>
<table id="sources"><thead><tr><th>Name</th><th>Location</th><th>Items</th><th>Last refresh</th><th>Refresh</th></tr></thead><tbody></tbody></table>
<h2>Library</h2>
<ul class="tree" id="tree"></ul>
<h2>Recent messages</h2>
<table id="log"><tbody></tbody></table>
<h2>Clients</h2>
<table id="clients"><thead><tr><th>Address</th><th>Player</th><th>Last seen</th><th>Requests</th></tr></thead><tbody></tbody></table>
<h2>Interfaces</h2>
<table id="interfaces"><tbody></tbody></table>
<script>
"use strict";
const UPNP = "urn:schemas-upnp-org:metadata-1-0/upnp/", DC = "http://purl.org/dc/elements/1.1/";
function when(ms) { return ms ? new Date(ms).toLocaleString() : "not yet"; }
function row(table, cells, cls) {
  const tr = document.createElement("tr");
  if (cls) tr.className = cls;
  for (const c of cells) { const td = document.createElement("td"); td.textContent = String(c); tr.appendChild(td); }
  document.querySelector(table + " tbody").appendChild(tr);
}
function fill(status) {
  for (const s of status.sources)
    row("#sources", [s.name, s.url, s.items === null ? "?" : s.items, when(s.lastRefresh), s.how], s.failed ? "failed" : "");
  for (const e of status.log.slice().reverse()) row("#log", [when(e.time), e.category, e.text]);
  for (const c of status.clients) row("#clients", [c.address, c.agent, when(c.lastSeen), c.requests]);
  for (const i of status.interfaces) row("#interfaces", [i.name, i.address]);
}
function text(node, ns, name) { const e = node.getElementsByTagNameNS(ns, name)[0]; return e ? e.textContent : ""; }
async function browse(id) {
  const body = '<?xml version="1.0"?><s:Envelope xmlns:s="http://schemas.xmlsoap.org/soap/envelope/" ' +
    's:encodingStyle="http://schemas.xmlsoap.org/soap/encoding/"><s:Body>' +
    '<u:Browse xmlns:u="urn:schemas-upnp-org:service:ContentDirectory:1"><ObjectID></ObjectID>' +
    '<BrowseFlag>BrowseDirectChildren</BrowseFlag><Filter>*</Filter><StartingIndex>0</StartingIndex>' +
    '<RequestedCount>200</RequestedCount><SortCriteria></SortCriteria></u:Browse></s:Body></s:Envelope>';
  const soap = new DOMParser().parseFromString(body, "application/xml");
  soap.getElementsByTagName("ObjectID")[0].textContent = id;
  const answer = await fetch("/control/ContentDirectory", {method: "POST",
    headers: {"Content-Type": 'text/xml; charset="utf-8"',
              "SOAPACTION": '"urn:schemas-upnp-org:service:ContentDirectory:1#Browse"'},
    body: new XMLSerializer().serializeToString(soap)});
  const envelope = new DOMParser().parseFromString(await answer.text(), "application/xml");
  const result = envelope.getElementsByTagName("Result")[0];
  const total = envelope.getElementsByTagName("TotalMatches")[0];
  const didl = new DOMParser().parseFromString(result ? result.textContent : "<DIDL-Lite/>", "application/xml");
  return {objects: Array.from(didl.documentElement.children), total: total ? Number(total.textContent) : 0};
}
async function level(list, id) {
  const found = await browse(id);
  for (const object of found.objects) list.appendChild(entry(object));
  if (found.total > found.objects.length) {
    const more = document.createElement("li");
    more.className = "count"; more.textContent = "\u2026 " + (found.total - found.objects.length) + " more";
    list.appendChild(more);
  }
}
function entry(object) {
  const li = document.createElement("li");
  const container = object.localName === "container";
  li.dataset.id = object.getAttribute("id");
  if (container) {
    const open = document.createElement("button");
    open.className = "open"; open.textContent = "+";
    open.addEventListener("click", () => toggle(li, open));
    li.appendChild(open);
  }
  const art = text(object, UPNP, "albumArtURI");
  if (/^https?:\/\//.test(art)) {
    const img = document.createElement("img");
    img.className = "cover"; img.alt = ""; img.src = art;
    li.appendChild(img);
  }
  const title = document.createElement("span");
  title.className = "title"; title.textContent = text(object, DC, "title");
  li.appendChild(title);
  if (container && object.getAttribute("childCount") !== null) {
    const count = document.createElement("span");
    count.className = "count"; count.textContent = "(" + object.getAttribute("childCount") + ")";
    li.appendChild(count);
  }
  return li;
}
async function toggle(li, button) {
  const shown = li.querySelector(":scope > ul");
  if (shown) { shown.remove(); button.textContent = "+"; return; }
  const list = document.createElement("ul");
  list.className = "tree";
  await level(list, li.dataset.id);
  li.appendChild(list); button.textContent = "\u2212";
}
// "#open=0/1/401" opens 0/1, then 0/1/401: a place in the tree to link to.
async function openPath(path) {
  const parts = path.split("/");
  for (let i = 2; i <= parts.length; ++i) {
    const id = parts.slice(0, i).join("/");
    const li = Array.from(document.querySelectorAll("#tree li")).find(l => l.dataset.id === id);
    const button = li && li.querySelector(":scope > button.open");
    if (!button) return;
    if (!li.querySelector(":scope > ul")) await toggle(li, button);
  }
}
async function start() {
  const status = await fetch("/web/status.json");
  if (status.ok) fill(await status.json());  // else refused by the access rules: the tree still shows
  await level(document.getElementById("tree"), "0");
  if (location.hash.startsWith("#open=")) await openPath(decodeURIComponent(location.hash.slice(6)));
  document.body.dataset.ready = "1";
}
start().catch(e => { document.body.dataset.error = String(e); });
</script>
</body></html>
)html";
