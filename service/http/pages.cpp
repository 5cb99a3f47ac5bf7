#include "service/http/pages.h"

#include <cstdio>
#include <ctime>

namespace glimmerly::service {

namespace {

std::string Page(std::string_view title, std::string_view body, std::string_view extraHead = {}) {
    std::string out = "<!DOCTYPE html>\n<html lang=\"de\">\n<head>\n<meta charset=\"utf-8\">\n"
                      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
                      "<title>";
    out += HtmlEscape(title);
    out += "</title>\n<link rel=\"stylesheet\" href=\"/style.css\">\n";
    out += extraHead;
    out += "</head>\n<body>\n<header><a class=\"brand\" href=\"/\">Glimmerly</a></header>\n"
           "<main>\n";
    out += body;
    out += "</main>\n</body>\n</html>\n";
    return out;
}

std::string FormatTime(std::int64_t ms) {
    std::time_t t = static_cast<std::time_t>(ms / 1000);
    std::tm local{};
    localtime_r(&t, &local);
    char buffer[32];
    std::strftime(buffer, sizeof buffer, "%d.%m.%Y %H:%M:%S", &local);
    return buffer;
}

std::string PictureItem(const StoredPicture& p) {
    std::string name = HtmlEscape(p.name);
    std::string out = "<li class=\"picture\" data-id=\"" + std::to_string(p.id) + "\">\n";
    out += "<a class=\"shot\" href=\"/" + name + ".jpg\"><img src=\"/" + name + ".jpg\" alt=\"" +
           HtmlEscape(p.title) + "\"";
    if (p.width > 0 && p.height > 0) {
        out += " width=\"" + std::to_string(p.width) + "\" height=\"" + std::to_string(p.height) +
               "\"";
    }
    out += "></a>\n<div class=\"caption\"><a class=\"title\" href=\"/" + name + ".jpg\">" +
           HtmlEscape(p.title) + "</a> <span class=\"time\">" + FormatTime(p.created) +
           "</span></div>\n</li>\n";
    return out;
}

} // namespace

std::string HtmlEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string JsonString(std::string_view utf8) {
    std::string out = "\"";
    for (char ch : utf8) {
        unsigned char c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += ch;
        } else if (c < 0x20 || c == '<' || c == '>' || c == '&') {
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
            out += buffer;
        } else {
            out += ch;
        }
    }
    out += '"';
    return out;
}

std::string HomePage(std::string_view version) {
    std::string body =
        "<h1>Screenshots teilen – in Sekunden</h1>\n"
        "<p>Drücken Sie die Druck-Taste, und Glimmerly lädt Ihren Bildschirm hierher hoch. "
        "Die Adresse des Bildes steht sofort zum Kopieren bereit.</p>\n"
        "<p>Im Session-Modus landen alle Screenshots auf einer gemeinsamen Seite, auf der "
        "neue Bilder sofort erscheinen, ohne dass jemand neu laden muss.</p>\n"
        "<h2>Session ansehen</h2>\n"
        "<form method=\"get\" action=\"/\">\n<label for=\"session\">Session-Name:</label>\n"
        "<input id=\"session\" name=\"session\" maxlength=\"40\" pattern=\"[A-Za-z0-9_\\-]+\" "
        "required>\n<button type=\"submit\">Öffnen</button>\n</form>\n"
        "<p><a href=\"/download.htm\">Glimmerly herunterladen</a> (aktuelle Version ";
    body += HtmlEscape(version);
    body += ")</p>\n";
    return Page("Glimmerly – Screenshots teilen", body);
}

std::string DownloadPage(std::string_view version) {
    std::string v = HtmlEscape(version);
    std::string body = "<h1>Glimmerly herunterladen</h1>\n<p>Die aktuelle Version ist <strong>" +
                       v +
                       "</strong>.</p>\n"
                       "<p>Glimmerly wird aus dem Quelltext gebaut. Auf einem Debian-System "
                       "genügt im Quellverzeichnis der Befehl</p>\n"
                       "<pre>./scripts/run.sh</pre>\n"
                       "<p>Er installiert die benötigten Pakete, baut das Programm und startet "
                       "es zusammen mit diesem Dienst.</p>\n"
                       "<p>Wenn Ihr Programm „Neue Version verfügbar“ meldet, bauen Sie es "
                       "einfach neu.</p>\n<p><a href=\"/\">Zur Startseite</a></p>\n";
    return Page("Glimmerly " + std::string(version) + " herunterladen", body);
}

std::string SessionPage(std::string_view session, const std::vector<StoredPicture>& pictures,
                        bool expired, std::int64_t lastSeq) {
    std::string name = HtmlEscape(session);
    std::string body = "<h1>Session " + name + "</h1>\n";
    if (expired) {
        body += "<p class=\"notice\">Diese Session ist abgelaufen; neue Screenshots kommen "
                "nicht mehr hinzu.</p>\n";
    }
    body += "<p id=\"status\" class=\"status\">" +
            std::string(pictures.empty() ? "Noch keine Screenshots. " : "") +
            "Neue Screenshots erscheinen hier automatisch.</p>\n";
    body += "<ol id=\"pictures\" class=\"pictures\" data-session=\"" + name + "\" data-after=\"" +
            std::to_string(lastSeq) + "\">\n";
    for (const StoredPicture& p : pictures) {
        body += PictureItem(p);
    }
    body += "</ol>\n<noscript><p>Ohne JavaScript laden Sie die Seite bitte neu, um neue "
            "Screenshots zu sehen.</p></noscript>\n";
    return Page("Session " + std::string(session) + " – Glimmerly", body,
                "<script src=\"/session.js\" defer></script>\n");
}

std::string MessagePage(std::string_view heading, std::string_view text) {
    std::string body = "<h1>" + HtmlEscape(heading) + "</h1>\n<p>" + HtmlEscape(text) +
                       "</p>\n<p><a href=\"/\">Zur Startseite</a></p>\n";
    return Page(heading, body);
}

std::string PictureEvent(const StoredPicture& p) {
    std::string data =
        "{\"id\":" + std::to_string(p.id) + ",\"name\":" + JsonString(p.name) +
        ",\"title\":" + JsonString(p.title) + ",\"time\":" + JsonString(FormatTime(p.created)) +
        ",\"width\":" + std::to_string(p.width) + ",\"height\":" + std::to_string(p.height) + "}";
    return "id: " + std::to_string(p.seq) + "\nevent: picture\ndata: " + data + "\n\n";
}

std::string_view SessionScript() {
    return R"js("use strict";
// Keeps the session page current: new pictures are put on top, renamed ones are updated in place.
(function () {
  const list = document.getElementById("pictures");
  const status = document.getElementById("status");
  if (!list || !window.EventSource) {
    return;
  }
  const session = list.dataset.session;
  const source = new EventSource("/~" + encodeURIComponent(session) + "/events?after=" +
                                 encodeURIComponent(list.dataset.after));

  function fill(item, p) {
    const url = "/" + p.name + ".jpg";
    item.textContent = "";
    const shot = document.createElement("a");
    shot.className = "shot";
    shot.href = url;
    const img = document.createElement("img");
    img.src = url;
    img.alt = p.title;
    if (p.width > 0 && p.height > 0) {
      img.width = p.width;
      img.height = p.height;
    }
    shot.appendChild(img);
    const caption = document.createElement("div");
    caption.className = "caption";
    const title = document.createElement("a");
    title.className = "title";
    title.href = url;
    title.textContent = p.title;
    const time = document.createElement("span");
    time.className = "time";
    time.textContent = p.time;
    caption.append(title, " ", time);
    item.append(shot, caption);
  }

  source.addEventListener("picture", function (event) {
    const p = JSON.parse(event.data);
    let item = list.querySelector('li[data-id="' + p.id + '"]');
    if (item) {
      fill(item, p);
      return;
    }
    item = document.createElement("li");
    item.className = "picture new";
    item.dataset.id = String(p.id);
    fill(item, p);
    // Newest upload first: insert before the first item with a smaller id.
    let before = null;
    for (const other of list.children) {
      if (Number(other.dataset.id) < p.id) {
        before = other;
        break;
      }
    }
    list.insertBefore(item, before);
    status.textContent = "Neue Screenshots erscheinen hier automatisch.";
  });
  source.addEventListener("open", function () {
    status.classList.remove("offline");
  });
  source.addEventListener("error", function () {
    status.classList.add("offline");
  });
})();
)js";
}

std::string_view StyleSheet() {
    return R"css(body { font-family: "DejaVu Sans", "Liberation Sans", sans-serif; margin: 0;
  background: #f4f4f4; color: #222; }
header { background: #2d4e7a; padding: 0.6em 1em; }
header .brand { color: #fff; font-weight: bold; text-decoration: none; font-size: 1.2em; }
main { max-width: 1000px; margin: 0 auto; padding: 1em; }
.pictures { list-style: none; padding: 0; }
.picture { background: #fff; margin: 0 0 1.5em; padding: 0.5em; border: 1px solid #ccc; }
.picture img { max-width: 100%; height: auto; display: block; }
.picture.new { border-color: #2d4e7a; }
.caption { margin-top: 0.4em; }
.time { color: #777; font-size: 0.9em; }
.notice { background: #fff3cd; padding: 0.5em; }
.status.offline::after { content: " (Verbindung unterbrochen, neuer Versuch …)"; color: #a00; }
)css";
}

} // namespace glimmerly::service
