#include "trace/html.hpp"

#include <algorithm>

namespace tracelet::trace {

std::string html_escape(std::string_view s) {
    std::string out;
    out.reserve(s.size() + s.size() / 8);
    for (char ch : s) {
        switch (ch) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default: out += ch;
        }
    }
    return out;
}

namespace {

constexpr const char* kStyle = R"css(
body{font:14px/1.4 system-ui,sans-serif;margin:1em 2em;color:#222}
h1{font-size:1.3em;margin:.2em 0}
.meta{color:#555;margin-bottom:.8em}
#strip{width:100%;height:90px;border:1px solid #ccc;background:#fafafa;cursor:crosshair;display:block}
.s3{fill:#b8c7d9}.s4{fill:#8fb3de}.s5{fill:#5f95d6}.s6{fill:#e0a84a}.s7{fill:#d9762b}.s0,.s1,.s2{fill:#ccc}
.fail{stroke:#d00;stroke-width:1.5}
.inferred{fill-opacity:.5;stroke:#333;stroke-dasharray:3 2}
.legend span{display:inline-block;padding:0 .6em;margin-right:.3em;border-radius:3px;font-size:.85em}
.axis{display:flex;justify-content:space-between;color:#666;font-size:.8em}
#tools{margin:.8em 0;position:sticky;top:0;background:#fff;padding:.4em 0;border-bottom:1px solid #eee}
#q{width:24em;padding:.3em}
details{border-left:4px solid transparent;margin:1px 0;padding-left:.4em}
details.failed{border-left-color:#d00;background:#fff4f4}
details.event,details.source{border-left-color:#e0a84a}
details.damaged{border-left-color:#888;background:#f4f4f4}
summary{font-family:ui-monospace,monospace;white-space:pre;cursor:pointer}
summary .st{color:#666}summary .rc{color:#080}details.failed summary .rc{color:#d00;font-weight:bold}
pre{margin:.2em 0 .6em 1.5em;font-size:.9em;background:#f6f6f6;padding:.4em;overflow-x:auto}
.problems li{font-family:ui-monospace,monospace;font-size:.9em}
.hidden{display:none}
)css";

constexpr const char* kScript = R"js(
(function(){
  var calls=[].slice.call(document.querySelectorAll('details.call'));
  var q=document.getElementById('q'),onlyFail=document.getElementById('onlyfail'),count=document.getElementById('count');
  var texts=null;
  function apply(){
    if(!texts){texts=calls.map(function(c){return c.textContent.toLowerCase();});}
    var t=q.value.toLowerCase(),f=onlyFail.checked,n=0;
    for(var i=0;i<calls.length;i++){
      var show=(!f||calls[i].classList.contains('failed'))&&(!t||texts[i].indexOf(t)>=0);
      calls[i].classList.toggle('hidden',!show); if(show)n++;
    }
    count.textContent=n+' of '+calls.length+' calls shown';
  }
  q.addEventListener('input',apply); onlyFail.addEventListener('change',apply);
  if(location.hash==='#failures')onlyFail.checked=true;
  document.getElementById('expand').addEventListener('click',function(){
    var open=this.dataset.open!=='1'; this.dataset.open=open?'1':'0';
    this.textContent=open?'Collapse all':'Expand all';
    calls.forEach(function(c){if(!c.classList.contains('hidden'))c.open=open;});
  });
  var strip=document.getElementById('strip');
  strip.addEventListener('click',function(e){
    var r=strip.getBoundingClientRect(),n=calls.length;
    if(!n)return;
    var i=Math.min(n-1,Math.max(0,Math.floor((e.clientX-r.left)/r.width*n)));
    var c=calls[i]; c.classList.remove('hidden'); c.open=true; c.scrollIntoView({block:'center'});
  });
  apply();
})();
)js";

}  // namespace

void write_html(const Session& s, std::ostream& out, const std::string& title) {
    const std::size_t n = s.calls.size();
    std::size_t failures = 0;
    for (const Call& c : s.calls) failures += c.failed();

    out << "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n<title>" << html_escape(title)
        << "</title>\n<style>" << kStyle << "</style></head><body>\n";
    out << "<h1>" << html_escape(title) << "</h1>\n<div class=\"meta\">" << n << " calls, " << failures
        << " failures, " << s.files.size() << " file" << (s.files.size() == 1 ? "" : "s") << ": ";
    for (std::size_t i = 0; i < s.files.size(); ++i) out << (i ? ", " : "") << html_escape(s.files[i]);
    out << "</div>\n";

    // The state strip: one rectangle per run of calls in the same state,
    // higher for later states, drawn dashed and pale where the states were
    // inferred (the log shows no notification), and a red line at every failure.
    std::size_t w = std::max<std::size_t>(n, 1);
    out << "<svg id=\"strip\" viewBox=\"0 0 " << w << " 80\" preserveAspectRatio=\"none\" role=\"img\" "
        << "aria-label=\"TWAIN state over the calls\">\n";
    std::size_t start = 0;
    for (std::size_t i = 1; i <= n; ++i) {
        if (i < n && s.steps[i].after == s.steps[start].after && s.steps[i].corrected == s.steps[start].corrected)
            continue;
        int st = std::clamp(s.steps[start].after, 0, 7);
        int h = 10 * (st + 1);
        bool inferred = s.steps[start].corrected;
        out << "<rect class=\"s" << st << (inferred ? " inferred" : "") << "\" vector-effect=\"non-scaling-stroke\" x=\""
            << start << "\" y=\"" << 80 - h << "\" width=\"" << i - start << "\" height=\"" << h << "\"><title>state "
            << st << (inferred ? " (inferred)" : "") << ": " << html_escape(s.calls[start].id()) << " to "
            << html_escape(s.calls[i - 1].id()) << "</title></rect>\n";
        start = i;
    }
    for (std::size_t i = 0; i < n; ++i)
        if (s.calls[i].failed())
            out << "<line class=\"fail\" vector-effect=\"non-scaling-stroke\" x1=\"" << i << ".5\" x2=\"" << i
                << ".5\" y1=\"0\" y2=\"80\"><title>" << html_escape(s.calls[i].id() + " " + s.calls[i].triplet())
                << " failed</title></line>\n";
    out << "</svg>\n<div class=\"axis\"><span>" << (n ? html_escape(s.calls.front().id()) : "") << "</span><span>"
        << (n ? html_escape(s.calls.back().id()) : "") << "</span></div>\n";
    out << "<div class=\"legend\">State: ";
    const char* names[] = {"", "", "", "3 source manager open", "4 source open", "5 source enabled",
                           "6 transfer ready", "7 transferring"};
    const char* colours[] = {"", "", "", "#b8c7d9", "#8fb3de", "#5f95d6", "#e0a84a", "#d9762b"};
    for (int st = 3; st <= 7; ++st)
        out << "<span style=\"background:" << colours[st] << "\">" << names[st] << "</span>";
    out << "<span class=\"inferred\" style=\"border:1px dashed #333\">inferred</span>"
        << "<span style=\"color:#d00\">| failure</span> (click the strip to jump to a call)</div>\n";

    out << "<div id=\"tools\"><input id=\"q\" type=\"search\" placeholder=\"Filter: triplet, capability, value...\"> "
        << "<label><input id=\"onlyfail\" type=\"checkbox\"> failures only</label> "
        << "<button id=\"expand\" type=\"button\">Expand all</button> <span id=\"count\"></span></div>\n";

    for (std::size_t i = 0; i < n; ++i) {
        const Call& c = s.calls[i];
        std::string cls = "call";
        if (c.failed()) cls += " failed";
        if (c.claimed_event()) cls += " event";
        if (c.from_source()) cls += " source";
        if (c.incomplete || c.overflow) cls += " damaged";
        out << "<details class=\"" << cls << "\" id=\"c" << i << "\"><summary>" << html_escape(c.id())
            << " <span class=\"st\">" << s.steps[i].before << "&rarr;" << s.steps[i].after << "</span> "
            << html_escape(c.label()) << " <span class=\"rc\">"
            << html_escape(c.has_result ? c.rc : "(no result)") << "</span>";
        if (s.steps[i].inferred || s.steps[i].corrected) out << " <em>state inferred</em>";
        if (c.overflow) out << " <em>cut at 5120 bytes</em>";
        if (c.incomplete) out << " <em>incomplete</em>";
        out << "</summary><pre>" << html_escape(c.text) << "</pre></details>\n";
    }

    if (!s.problems.empty()) {
        out << "<h2>Lines that could not be read</h2><ul class=\"problems\">\n";
        for (const Problem& p : s.problems)
            out << "<li>file " << p.file + 1 << " line " << p.line << ": " << html_escape(p.what)
                << (p.text.empty() ? "" : ": " + html_escape(p.text)) << "</li>\n";
        out << "</ul>\n";
    }
    out << "<script>" << kScript << "</script>\n</body></html>\n";
}

}  // namespace tracelet::trace
