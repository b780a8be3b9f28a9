#include "trace/html.hpp"

#include "trace/timing.hpp"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <unordered_map>
#include <vector>

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

std::string script_json_string(std::string_view s) {
    // Bytes that are not UTF-8 become U+FFFD, as a browser would show them.
    std::string quoted = nlohmann::json(std::string(s)).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    std::string out;
    out.reserve(quoted.size());
    for (char ch : quoted) {
        if (ch == '<')
            out += "\\u003c";  // neither "</script" nor "<!--" can end the data early
        else
            out += ch;
    }
    return out;
}

namespace {

constexpr const char* kStyle = R"css(
body{font:14px/1.4 system-ui,sans-serif;margin:1em 2em;color:#222}
h1{font-size:1.3em;margin:.2em 0}
.meta{color:#555;margin-bottom:.8em}
.band{position:relative}
#strip,#timeline{width:100%;height:90px;border:1px solid #ccc;background:#fafafa;cursor:crosshair;display:block;box-sizing:border-box}
#timeline{height:40px;margin-top:.4em}
#tip{position:absolute;pointer-events:none;background:#333;color:#fff;font-size:.8em;padding:.1em .4em;border-radius:3px;white-space:nowrap;display:none;z-index:2}
.legend span{display:inline-block;padding:0 .6em;margin-right:.3em;border-radius:3px;font-size:.85em}
.axis{display:flex;justify-content:space-between;color:#666;font-size:.8em}
#tools{margin:.8em 0;position:sticky;top:0;background:#fff;padding:.4em 0;border-bottom:1px solid #eee;z-index:1}
#q{width:24em;padding:.3em}
#list{overflow-anchor:none}
details{border-left:4px solid transparent;margin:1px 0;padding-left:.4em}
details.failed{border-left-color:#d00;background:#fff4f4}
details.event,details.source{border-left-color:#e0a84a}
details.damaged{border-left-color:#888;background:#f4f4f4}
summary{font-family:ui-monospace,monospace;white-space:pre;cursor:pointer;overflow:hidden;text-overflow:ellipsis}
summary .st{color:#666}summary .rc{color:#080}summary .dur{color:#666}details.failed summary .rc{color:#d00;font-weight:bold}
pre{margin:.2em 0 .6em 1.5em;font-size:.9em;background:#f6f6f6;padding:.4em;overflow-x:auto}
.problems li{font-family:ui-monospace,monospace;font-size:.9em}
)css";

// The page's script. The calls are data (the JSON in #data); only the rows
// in view are elements, laid out between two paddings that stand for the
// rows above and below. Each row's height is its measured one once it has
// been drawn, and an estimate before (one line closed, its text's lines
// open). The strip and the time axis are canvases drawn from runs of
// states, failure indices and call times.
constexpr const char* kScript = R"js(
(function(){
  var data=document.getElementById('data'),D=JSON.parse(data.textContent);
  data.remove();  // the parsed copy is all the page needs
  var calls=D.calls,n=calls.length,runs=D.runs,fails=D.fails,L=D.lines,T=D.templates;
  // The time axis's calls, one column each: start (us after the one before),
  // duration (us), flags, logged call or -1, label, state; times here in ns.
  var SN=D.s_start?D.s_start.length:0,S0=new Float64Array(SN),S1=new Float64Array(SN);
  var SF=D.s_flags,SC=D.s_call,SL=D.s_label,SS=D.s_state,spanOf=new Int32Array(n).fill(-1);
  for(var j=0,at=0;j<SN;j++){at+=D.s_start[j];S0[j]=at*1e3;S1[j]=D.s_dur[j]*1e3;if(SC[j]>=0)spanOf[SC[j]]=j;}
  var pauses=(D.pauses||[]).map(function(p){return [p[0]*1e3,p[1]*1e3];});
  var FAILED=1,EVENT=2,SOURCE=4,DAMAGED=8,INFERRED=16,OVERFLOW=32,INCOMPLETE=64,NUMBERED=128;
  var ID=0,FLAGS=1,BEFORE=2,AFTER=3,LABEL=4,RC=5,TEXT=6,OWN=7;
  var COLOURS=['#ccc','#ccc','#ccc','#b8c7d9','#8fb3de','#5f95d6','#e0a84a','#d9762b'];
  var q=document.getElementById('q'),onlyFail=document.getElementById('onlyfail'),count=document.getElementById('count');
  var list=document.getElementById('list'),strip=document.getElementById('strip'),tip=document.getElementById('tip');
  var expand=document.getElementById('expand'),timeline=document.getElementById('timeline');
  var opened=new Uint8Array(n),forced=new Uint8Array(n),height=new Float64Array(n);
  var lowered=null;
  var shown=[],pos=new Float64Array(1),first=0,last=0;
  var closedH=0,lineH=0,openPad=0;

  function esc(s){return s.replace(/[&<>"]/g,function(c){return {'&':'&amp;','<':'&lt;','>':'&gt;','"':'&quot;'}[c];});}
  function ms(ns){var v=ns/1e6;return v<1?v.toFixed(3)+' ms':v<1000?v.toFixed(1)+' ms':(v/1000).toFixed(2)+' s';}
  function rowHtml(i){
    var c=calls[i],f=c[FLAGS],cls='call';
    if(f&FAILED)cls+=' failed'; if(f&EVENT)cls+=' event'; if(f&SOURCE)cls+=' source'; if(f&DAMAGED)cls+=' damaged';
    var h='<details class="'+cls+'" id="c'+i+'" data-i="'+i+'"'+(opened[i]?' open':'')+'><summary>'+esc(c[ID])+
      ' <span class="st">'+c[BEFORE]+'&rarr;'+c[AFTER]+'</span> '+esc(L[c[LABEL]])+' <span class="rc">'+esc(L[c[RC]])+'</span>';
    if(spanOf[i]>=0)h+=' <span class="dur">'+ms(S1[spanOf[i]])+'</span>';
    if(f&INFERRED)h+=' <em>state inferred</em>';
    if(f&OVERFLOW)h+=' <em>cut at 5120 bytes</em>';
    if(f&INCOMPLETE)h+=' <em>incomplete</em>';
    return h+'</summary>'+(opened[i]?'<pre>'+esc(text(i))+'</pre>':'')+'</details>';
  }
  function firstLine(c){var t=T[c[TEXT]];return t.length?(t[0]>=0?L[t[0]]:c[OWN]):'';}
  function text(i){
    var c=calls[i],t=T[c[TEXT]],s=new Array(t.length),own=OWN;
    for(var k=0;k<t.length;k++)s[k]=t[k]>=0?L[t[k]]:c[own++];
    if(c[FLAGS]&NUMBERED)s[0]='['+c[ID].split(':').pop()+'] '+s[0];
    return s.join('\n');
  }
  function label(i){return L[calls[i][LABEL]];}
  function rowHeight(i){return height[i]||(opened[i]?closedH+openPad+T[calls[i][TEXT]].length*lineH:closedH);}
  function layout(){
    pos=new Float64Array(shown.length+1);
    for(var k=0;k<shown.length;k++)pos[k+1]=pos[k]+rowHeight(shown[k]);
  }
  function listTop(){return list.getBoundingClientRect().top+window.scrollY;}
  function render(){
    var y=window.scrollY-listTop(),bottom=y+window.innerHeight+200,m=shown.length;
    var lo=0,hi=m;
    while(lo<hi){var mid=(lo+hi)>>1;if(pos[mid+1]<=y-200)lo=mid+1;else hi=mid;}
    first=lo;last=lo;
    var h='';
    while(last<m&&(pos[last]<bottom||last-first<20)){h+=rowHtml(shown[last]);last++;}
    list.style.paddingTop=pos[first]+'px';
    list.innerHTML=h;
    measure();
  }
  // Rows drawn take their real height; the rows above keep theirs, so only
  // the padding below moves.
  function measure(){
    var rows=list.children,changed=false;
    for(var r=0;r<rows.length;r++){
      var i=+rows[r].dataset.i,h=rows[r].offsetHeight+2;
      if(height[i]!==h){height[i]=h;changed=true;}
    }
    if(changed)layout();
    list.style.paddingBottom=(pos[shown.length]-pos[last])+'px';
  }
  // A call matches when its number, its states or any one of its lines
  // holds the text; each distinct line is searched once.
  function matcher(t){
    if(!t)return function(){return true;};
    if(!lowered)lowered=L.map(function(s){return s.toLowerCase();});
    var hit=new Uint8Array(L.length),thit=new Uint8Array(T.length);
    for(var j=0;j<L.length;j++)hit[j]=lowered[j].indexOf(t)>=0?1:0;
    for(var j2=0;j2<T.length;j2++)for(var k=0;k<T[j2].length;k++)if(T[j2][k]>=0&&hit[T[j2][k]]){thit[j2]=1;break;}
    return function(i){
      var c=calls[i];
      if(thit[c[TEXT]]||hit[c[LABEL]]||hit[c[RC]]||c[ID].toLowerCase().indexOf(t)>=0||(c[BEFORE]+'\u2192'+c[AFTER]).indexOf(t)>=0)return true;
      for(var k=OWN;k<c.length;k++)if(c[k].toLowerCase().indexOf(t)>=0)return true;
      return (c[FLAGS]&NUMBERED)&&('['+c[ID].split(':').pop()+'] '+firstLine(c)).toLowerCase().indexOf(t)>=0;
    };
  }
  function apply(){
    var f=onlyFail.checked,match=matcher(q.value.toLowerCase());
    shown=[];
    for(var i=0;i<n;i++)
      if(forced[i]||((!f||calls[i][FLAGS]&FAILED)&&match(i)))shown.push(i);
    count.textContent=shown.length+' of '+n+' calls shown';
    layout();render();
  }
  function showCall(i){
    forced[i]=1;
    if(shown.indexOf(i)<0)apply();
    opened[i]=1;height[i]=0;layout();
    var k=shown.indexOf(i);
    window.scrollTo(0,listTop()+pos[k]-window.innerHeight/3);
    render();
  }
  function filtered(){forced.fill(0);apply();}
  var timer=0;
  q.addEventListener('input',function(){clearTimeout(timer);timer=setTimeout(filtered,n>20000?250:0);});
  onlyFail.addEventListener('change',filtered);
  window.addEventListener('scroll',function(){
    var y=window.scrollY-listTop();
    if(y<pos[first]||y+window.innerHeight>pos[last])render();
  },{passive:true});
  window.addEventListener('resize',function(){height.fill(0);layout();render();draw();});
  list.addEventListener('toggle',function(e){
    var i=+e.target.dataset.i;opened[i]=e.target.open?1:0;
    if(opened[i]&&!e.target.querySelector('pre')){var p=document.createElement('pre');p.textContent=text(i);e.target.appendChild(p);}
    measure();
  },true);
  expand.addEventListener('click',function(){
    var open=this.dataset.open!=='1';this.dataset.open=open?'1':'0';
    this.textContent=open?'Collapse all':'Expand all';
    for(var k=0;k<shown.length;k++){opened[shown[k]]=open?1:0;height[shown[k]]=0;}
    layout();render();
  });

  // The state strip: one rectangle per run of calls in one state, higher for
  // later states, pale and dashed where the states were inferred, a red
  // line at every failure.
  function canvasContext(c){
    var r=window.devicePixelRatio||1,w=Math.max(1,c.clientWidth),h=Math.max(1,c.clientHeight);
    c.width=Math.round(w*r);c.height=Math.round(h*r);
    var g=c.getContext('2d');g.setTransform(r,0,0,r,0,0);g.clearRect(0,0,w,h);
    return {g:g,w:w,h:h};
  }
  function drawStrip(){
    var k=canvasContext(strip),g=k.g,w=k.w,sy=k.h/80,m=Math.max(n,1);
    for(var r=0;r<runs.length;r++){
      var u=runs[r],x=u[0]/m*w,rw=u[1]/m*w,st=Math.min(7,Math.max(0,u[2])),h=10*(st+1)*sy;
      g.globalAlpha=u[3]?.5:1;g.fillStyle=COLOURS[st];g.fillRect(x,k.h-h,rw,h);
      if(u[3]){g.globalAlpha=1;g.setLineDash([3,2]);g.strokeStyle='#333';g.lineWidth=1;g.strokeRect(x+.5,k.h-h+.5,Math.max(rw-1,0),h-1);g.setLineDash([]);}
    }
    g.globalAlpha=1;g.strokeStyle='#d00';g.lineWidth=1.5;g.beginPath();
    for(var f=0;f<fails.length;f++){var fx=(fails[f]+.5)/m*w;g.moveTo(fx,0);g.lineTo(fx,k.h);}
    g.stroke();
    var inferred=0;for(var r2=0;r2<runs.length;r2++)inferred+=runs[r2][3];
    strip.setAttribute('aria-label','TWAIN state over '+n+' calls: '+runs.length+' runs of states, '+inferred+
      ' inferred, '+fails.length+' failure'+(fails.length===1?'':'s'));
  }
  function runAt(i){
    var lo=0,hi=runs.length-1;
    while(lo<hi){var mid=(lo+hi+1)>>1;if(runs[mid][0]<=i)lo=mid;else hi=mid-1;}
    return runs[lo];
  }
  function stripIndex(e){
    var r=strip.getBoundingClientRect();
    return Math.min(n-1,Math.max(0,Math.floor((e.clientX-r.left)/r.width*n)));
  }
  // A failure within three pixels of the pointer wins over the run under it.
  function failureNear(e){
    var r=strip.getBoundingClientRect(),px=e.clientX-r.left,best=-1,bd=4;
    var i=Math.floor(px/r.width*n),lo=0,hi=fails.length;
    while(lo<hi){var mid=(lo+hi)>>1;if(fails[mid]<i)lo=mid+1;else hi=mid;}
    for(var k=Math.max(0,lo-2);k<Math.min(fails.length,lo+2);k++){
      var d=Math.abs((fails[k]+.5)/n*r.width-px);if(d<bd){bd=d;best=fails[k];}
    }
    return best;
  }
  function showTip(e,text){
    var band=e.currentTarget.parentNode.getBoundingClientRect();
    tip.textContent=text;tip.style.display='block';
    tip.style.left=Math.min(e.clientX-band.left+12,band.width-tip.offsetWidth)+'px';
    tip.style.top=(e.clientY-band.top+14)+'px';
  }
  function hideTip(){tip.style.display='none';}
  strip.addEventListener('mousemove',function(e){
    if(!n)return;
    var f=failureNear(e);
    if(f>=0){showTip(e,calls[f][ID]+' '+label(f)+' failed');return;}
    var u=runAt(stripIndex(e));
    showTip(e,'state '+u[2]+(u[3]?' (inferred)':'')+': '+calls[u[0]][ID]+' to '+calls[u[0]+u[1]-1][ID]);
  });
  strip.addEventListener('mouseleave',hideTip);
  strip.addEventListener('click',function(e){
    if(!n)return;
    var f=failureNear(e);showCall(f>=0?f:stripIndex(e));
  });

  // The time axis: each call at its start, as wide as it lasted (at least a
  // hair), coloured by its state; [DS] calls in the lower half, failures red,
  // a call that never returned outlined red to the record's end; a pause
  // between calls is the empty stretch over a grey bar.
  var SPAN_FAILED=1,SPAN_SOURCE=2,SPAN_OPEN=4,tspan=1;
  // Per row (application calls, the source's) and pixel column, the colour
  // of the last call that reaches it, red where one failed: as many
  // rectangles as the axis has pixels, however many calls there are.
  function drawTimeline(){
    if(!timeline)return;
    var k=canvasContext(timeline),g=k.g,w=k.w,h=k.h,cols=Math.ceil(w),open=[];
    tspan=Math.max(D.span_us*1e3,1);
    var rows=[new Int8Array(cols).fill(-1),new Int8Array(cols).fill(-1)];
    for(var j=0;j<SN;j++){
      if(SF[j]&SPAN_OPEN){open.push(j);continue;}
      var row=rows[SF[j]&SPAN_SOURCE?1:0],x0=Math.floor(S0[j]/tspan*w),x1=Math.max(x0,Math.floor((S0[j]+S1[j])/tspan*w));
      var c=SF[j]&SPAN_FAILED?8:Math.min(7,Math.max(0,SS[j]));
      for(var x=x0;x<=x1&&x<cols;x++)if(row[x]!==8)row[x]=c;
    }
    for(var r=0;r<2;r++){
      var top=r?h*.5:h*.08,cs=rows[r];
      for(var x2=0;x2<cols;){
        var c2=cs[x2],e=x2+1;while(e<cols&&cs[e]===c2)e++;
        if(c2>=0){g.fillStyle=c2===8?'#d00':COLOURS[c2];g.fillRect(x2,top,e-x2,h*.38);}
        x2=e;
      }
    }
    g.strokeStyle='#d00';g.lineWidth=1.5;
    for(var o=0;o<open.length;o++){var u=open[o],ox=S0[u]/tspan*w;g.strokeRect(ox,SF[u]&SPAN_SOURCE?h*.5:h*.08,Math.max(S1[u]/tspan*w,2),h*.38);}
    g.fillStyle='#999';
    for(var p=0;p<pauses.length;p++)g.fillRect(pauses[p][0]/tspan*w,h-3,Math.max(pauses[p][1]/tspan*w,1),2);
    timeline.setAttribute('aria-label','Calls over time: '+SN+' calls in '+ms(tspan)+', '+pauses.length+
      ' pause'+(pauses.length===1?'':'s')+' over 1 s, '+open.length+' call'+(open.length===1?'':'s')+' that never returned');
  }
  // The latest-starting call under the pointer, or one within three pixels.
  function spanAt(e){
    var r=timeline.getBoundingClientRect(),t=(e.clientX-r.left)/r.width*tspan,tol=3/r.width*tspan;
    var lo=0,hi=SN;
    while(lo<hi){var mid=(lo+hi)>>1;if(S0[mid]<=t+tol)lo=mid+1;else hi=mid;}
    for(var k=lo-1;k>=0&&k>=lo-64;k--)if(S0[k]+S1[k]>=t-tol)return k;
    return -1;
  }
  function pauseAt(e){
    var r=timeline.getBoundingClientRect(),t=(e.clientX-r.left)/r.width*tspan;
    for(var p=0;p<pauses.length;p++)if(t>=pauses[p][0]&&t<=pauses[p][0]+pauses[p][1])return pauses[p];
    return null;
  }
  if(timeline){
    timeline.addEventListener('mousemove',function(e){
      var j=spanAt(e);
      if(j<0){var p=pauseAt(e);if(p)showTip(e,'pause of '+ms(p[1]));else hideTip();return;}
      var what=SC[j]>=0?calls[SC[j]][ID]+' '+label(SC[j]):L[SL[j]];
      showTip(e,what+(SF[j]&SPAN_OPEN?': never returned, at least '+ms(S1[j]):': '+ms(S1[j]))+' at +'+ms(S0[j]));
    });
    timeline.addEventListener('mouseleave',hideTip);
    timeline.addEventListener('click',function(e){var j=spanAt(e);if(j>=0&&SC[j]>=0)showCall(SC[j]);});
  }
  function draw(){drawStrip();drawTimeline();}

  // One closed row and one line of an open row's text give the estimates.
  list.innerHTML=n?rowHtml(0):'';
  if(n){var probe=list.firstChild;closedH=probe.offsetHeight+2;probe.open=true;probe.appendChild(document.createElement('pre')).textContent='x';
    lineH=probe.lastChild.offsetHeight;openPad=probe.offsetHeight+2-closedH-lineH;probe.open=false;}
  // "#failures" opens on the failures alone, "#q=TEXT" with the filter set.
  if(location.hash==='#failures')onlyFail.checked=true;
  if(location.hash.indexOf('#q=')===0)q.value=decodeURIComponent(location.hash.slice(3));
  draw();
  apply();
  var m=/^#c(\d+)$/.exec(location.hash);if(m&&+m[1]<n)showCall(+m[1]);
  document.documentElement.setAttribute('data-ready-ms',Math.round(performance.now()));
})();
)js";

// Flags of a call in the page's data, as the script reads them.
enum RowFlag : unsigned {
    kRowFailed = 1,
    kRowEvent = 2,
    kRowSource = 4,
    kRowDamaged = 8,
    kRowInferred = 16,
    kRowOverflow = 32,
    kRowIncomplete = 64,
    kRowNumbered = 128,  // the text's first line is the triplet line, its "[00012] " left out
};

// A call's lines, the triplet line without its number (the call's id holds it).
std::vector<std::string_view> text_lines(const Call& c) {
    std::vector<std::string_view> lines;
    std::string_view text = c.text;
    if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
    for (std::size_t from = 0; from <= text.size() && !text.empty();) {
        std::size_t to = std::min(text.find('\n', from), text.size());
        lines.push_back(text.substr(from, to - from));
        from = to + 1;
    }
    if (c.seq >= 0 && !lines.empty()) {
        char number[32];
        int len = std::snprintf(number, sizeof number, "[%05lld] ", c.seq);
        if (len > 0 && lines[0].substr(0, static_cast<std::size_t>(len)) == number) lines[0].remove_prefix(static_cast<std::size_t>(len));
    }
    return lines;
}

// Distinct lines, each kept once and named by its index.
struct LineTable {
    std::vector<std::string> lines;
    std::unordered_map<std::string, std::size_t> index;
    std::size_t add(std::string_view line) {
        auto [it, added] = index.try_emplace(std::string(line), lines.size());
        if (added) lines.push_back(it->first);
        return it->second;
    }
};

constexpr unsigned kSpanFailed = 1, kSpanSource = 2, kSpanOpen = 4;

// A call on the time axis; times in ns from the session's first start.
struct Span {
    int64_t start = 0, duration = 0;
    unsigned flags = 0;  // kSpanFailed, kSpanSource, kSpanOpen
    long call = -1;      // the call's index in the session, -1 when it left no blocks in the log
    int state = 0;
    std::string label;   // for a call without blocks
};

struct TimeAxis {
    std::vector<Span> spans;
    std::vector<std::pair<int64_t, int64_t>> pauses;  // [start, length] of the gaps over 1 s
    int64_t span_ns = 0;
    std::string from, to;  // the first start and the last end, on the loads' clocks
};

constexpr int64_t kPauseNs = 1000000000;

// Every recorded call, those without blocks in the log included, on one axis:
// the loads' monotonic instants are placed by their wall-clock times, so
// that loads of other runs of a host line up. A call that never returned
// lasts until its load's end as the record shows it.
TimeAxis time_axis(const Session& s, const SessionTimes* times, int64_t now_ns) {
    TimeAxis axis;
    if (!times || times->empty()) return axis;
    std::unordered_map<const TimedCall*, long> index;
    for (std::size_t i = 0; i < s.calls.size(); ++i)
        if (const TimedCall* t = times->find(s.calls[i])) index.emplace(t, static_cast<long>(i));
    struct Placed {
        Span span;
        int64_t wall_start, wall_end;
    };
    std::vector<Placed> placed;
    const FlightRecord *first = nullptr, *last = nullptr;
    int64_t origin = INT64_MAX, end = INT64_MIN, first_mono = 0, last_mono = 0;
    for (const FlightRecord& r : times->records()) {
        if (!r.header_ok) continue;
        const int64_t load_end = load_end_ns(r, now_ns);
        for (const TimedCall& t : r.calls) {
            Placed p;
            auto it = index.find(&t);
            p.span.call = it == index.end() ? -1 : it->second;
            if (p.span.call < 0) p.span.label = (t.from_source ? "[DS] " : "") + triplet_text(t);
            int64_t stop = t.ended() ? t.end_ns : std::max(load_end, t.start_ns);
            p.span.flags = (t.rc == TWRC_FAILURE ? kSpanFailed : 0) | (t.from_source ? kSpanSource : 0) |
                           (t.ended() ? 0 : kSpanOpen);
            p.span.state = t.ended() ? t.state_after : t.state_before;
            p.wall_start = r.wall_ns(t.start_ns);
            p.wall_end = p.wall_start + (stop - t.start_ns);
            if (p.wall_start < origin) origin = p.wall_start, first = &r, first_mono = t.start_ns;
            if (p.wall_end > end) end = p.wall_end, last = &r, last_mono = stop;
            placed.push_back(std::move(p));
        }
    }
    if (placed.empty()) return axis;
    std::stable_sort(placed.begin(), placed.end(),
                     [](const Placed& a, const Placed& b) { return a.wall_start < b.wall_start; });
    int64_t reach = placed.front().wall_start;  // the latest end of the calls so far
    for (Placed& p : placed) {
        if (p.wall_start - reach > kPauseNs) axis.pauses.emplace_back(reach - origin, p.wall_start - reach);
        reach = std::max(reach, p.wall_end);
        p.span.start = p.wall_start - origin;
        p.span.duration = p.wall_end - p.wall_start;
        axis.spans.push_back(std::move(p.span));
    }
    axis.span_ns = end - origin;
    axis.from = first->clock_text(first_mono);
    axis.to = last->clock_text(last_mono);
    return axis;
}

}  // namespace

void write_html(const Session& s, std::ostream& out, const std::string& title, const SessionTimes* times,
                int64_t now_ns) {
    const std::size_t n = s.calls.size();
    std::size_t failures = 0;
    for (const Call& c : s.calls) failures += c.failed();

    out << "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n<title>" << html_escape(title)
        << "</title>\n<style>" << kStyle << "</style></head><body>\n";
    out << "<h1>" << html_escape(title) << "</h1>\n<div class=\"meta\">" << n << " calls, " << failures
        << " failures, " << s.files.size() << " file" << (s.files.size() == 1 ? "" : "s") << ": ";
    for (std::size_t i = 0; i < s.files.size(); ++i) out << (i ? ", " : "") << html_escape(s.files[i]);
    out << "</div>\n";

    out << "<div class=\"band\"><canvas id=\"strip\" role=\"img\" aria-label=\"TWAIN state over the calls\"></canvas>"
        << "<div id=\"tip\"></div></div>\n<div class=\"axis\"><span>"
        << (n ? html_escape(s.calls.front().id()) : "") << "</span><span>"
        << (n ? html_escape(s.calls.back().id()) : "") << "</span></div>\n";
    const TimeAxis axis = time_axis(s, times, now_ns);
    if (!axis.spans.empty())
        out << "<div class=\"band\"><canvas id=\"timeline\" role=\"img\" aria-label=\"Calls over time\"></canvas></div>\n"
            << "<div class=\"axis\"><span>" << html_escape(axis.from) << "</span><span>time</span><span>"
            << html_escape(axis.to) << "</span></div>\n";
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
        << "<button id=\"expand\" type=\"button\">Expand all</button> <span id=\"count\"></span></div>\n"
        << "<div id=\"list\"></div>\n";

    if (!s.problems.empty()) {
        out << "<h2>Lines that could not be read</h2><ul class=\"problems\">\n";
        for (const Problem& p : s.problems)
            out << "<li>file " << p.file + 1 << " line " << p.line << ": " << html_escape(p.what)
                << (p.text.empty() ? "" : ": " + html_escape(p.text)) << "</li>\n";
        out << "</ul>\n";
    }

    if (times) {
        const std::vector<std::string>& unread = times->problems();  // each record's own, named, among them
        if (!unread.empty()) {
            out << "<h2>What the flight records could not give</h2><ul class=\"problems\">\n";
            for (const std::string& p : unread) out << "<li>" << html_escape(p) << "</li>\n";
            out << "</ul>\n";
        }
    }

    // The calls as data: [id, flags, state before, state after, label, return
    // code, text template, the call's own lines...]. A long session repeats
    // most of its lines and whole texts but for a line or two (the triplet
    // line's number, pData), and the page is read in a time that grows with
    // its bytes: so label, return code and every line used more than once
    // are indices into one table of lines, and a text is a template of
    // such indices in which -1 stands for the call's next own line.
    std::vector<std::vector<std::string_view>> texts(n);
    std::unordered_map<std::string_view, std::size_t> uses;
    for (std::size_t i = 0; i < n; ++i) {
        texts[i] = text_lines(s.calls[i]);
        for (std::string_view l : texts[i]) ++uses[l];
    }
    LineTable table;
    std::unordered_map<std::string, std::size_t> template_index;
    std::vector<const std::string*> templates;
    out << "<script id=\"data\" type=\"application/json\">{\"calls\":[";
    for (std::size_t i = 0; i < n; ++i) {
        const Call& c = s.calls[i];
        unsigned flags = 0;
        if (c.failed()) flags |= kRowFailed;
        if (c.claimed_event()) flags |= kRowEvent;
        if (c.from_source()) flags |= kRowSource;
        if (c.incomplete || c.overflow) flags |= kRowDamaged;
        if (s.steps[i].inferred || s.steps[i].corrected) flags |= kRowInferred;
        if (c.overflow) flags |= kRowOverflow;
        if (c.incomplete) flags |= kRowIncomplete;
        if (!texts[i].empty() && texts[i].front().data() != c.text.data()) flags |= kRowNumbered;
        std::string shape;
        for (std::string_view l : texts[i])
            shape += (shape.empty() ? "" : ",") + (uses[l] > 1 ? std::to_string(table.add(l)) : std::string("-1"));
        auto [it, added] = template_index.try_emplace(shape, templates.size());
        if (added) templates.push_back(&it->first);
        out << (i ? ",\n[" : "\n[") << script_json_string(c.id()) << ',' << flags << ',' << s.steps[i].before << ','
            << s.steps[i].after << ',' << table.add(c.label()) << ','
            << table.add(c.has_result ? c.rc : "(no result)") << ',' << it->second;
        for (std::string_view l : texts[i])
            if (uses[l] == 1) out << ',' << script_json_string(l);
        out << ']';
    }
    // Runs of calls in one state: [first call, calls, state, inferred].
    out << "],\n\"runs\":[";
    std::size_t start = 0;
    bool first_run = true;
    for (std::size_t i = 1; i <= n; ++i) {
        if (i < n && s.steps[i].after == s.steps[start].after && s.steps[i].corrected == s.steps[start].corrected)
            continue;
        out << (first_run ? "[" : ",[") << start << ',' << i - start << ',' << std::clamp(s.steps[start].after, 0, 7)
            << ',' << (s.steps[start].corrected ? 1 : 0) << ']';
        first_run = false;
        start = i;
    }
    out << "],\n\"fails\":[";
    bool first_fail = true;
    for (std::size_t i = 0; i < n; ++i)
        if (s.calls[i].failed()) {
            out << (first_fail ? "" : ",") << i;
            first_fail = false;
        }
    // The time axis, one array per field, in the order the calls started:
    // start (us after the start before), duration (us), flags, the call's
    // index or -1, label (for a call without blocks), state. Pauses: [start, length] in us.
    const auto us = [](int64_t ns) { return ns / 1000; };
    const auto column = [&](const char* name, auto field) {
        out << "],\n\"" << name << "\":[";
        for (std::size_t j = 0; j < axis.spans.size(); ++j) out << (j ? "," : "") << field(axis.spans[j], j);
    };
    out << "],\n\"span_us\":" << us(axis.span_ns) << ",\"pauses\":[";
    for (std::size_t j = 0; j < axis.pauses.size(); ++j)
        out << (j ? ",[" : "[") << us(axis.pauses[j].first) << ',' << us(axis.pauses[j].second) << ']';
    column("s_start", [&](const Span& u, std::size_t j) { return us(u.start) - (j ? us(axis.spans[j - 1].start) : 0); });
    column("s_dur", [&](const Span& u, std::size_t) { return us(u.duration); });
    column("s_flags", [](const Span& u, std::size_t) { return u.flags; });
    column("s_call", [](const Span& u, std::size_t) { return u.call; });
    column("s_label", [&](const Span& u, std::size_t) { return u.call < 0 ? table.add(u.label) : std::size_t{0}; });
    column("s_state", [](const Span& u, std::size_t) { return u.state; });
    out << "],\n\"templates\":[";
    for (std::size_t j = 0; j < templates.size(); ++j) out << (j ? ",[" : "[") << *templates[j] << ']';
    out << "],\n\"lines\":[";
    for (std::size_t j = 0; j < table.lines.size(); ++j) out << (j ? ",\n" : "\n") << script_json_string(table.lines[j]);
    out << "]}</script>\n";
    out << "<script>" << kScript << "</script>\n</body></html>\n";
}

}  // namespace tracelet::trace
