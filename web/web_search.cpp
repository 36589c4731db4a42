#include "web/web_search.h"

#include <algorithm>
#include <chrono>

#include "base/case_map.h"
#include "base/text.h"
#include "database/record_values.h"
#include "search/named_searches.h"
#include "search/search_engine.h"

namespace kavo::web {

namespace {

constexpr size_t kPagePiece = 16384;

std::string Utf8(std::u16string_view s) {
    return Utf16ToUtf8(s);
}

std::u16string ForwardSlashes(std::u16string s) {
    ReplaceAll(s, u'\\', u'/');
    return s;
}

// Thousands separators: "7301234" -> "7,301,234".
std::string Grouped(uint64_t v) {
    std::string digits = std::to_string(v);
    std::string out;
    const size_t n = digits.size();
    for (size_t i = 0; i < n; ++i) {
        out.push_back(digits[i]);
        if (i + 1 < n && (n - i - 1) % 3 == 0) {
            out.push_back(',');
        }
    }
    return out;
}

// Text inside HTML elements and attributes. Names cannot hold "<", ">" or '"' on Windows,
// but "&" they can, and a page must never be turned into markup by what it shows.
std::string Html(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (const char c : s) {
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
            default:
                out.push_back(c);
        }
    }
    return out;
}

// A path as a link target: "#", "?", "%" and spaces are legal in file names and must not be
// read as parts of the address.
std::string UrlPath(std::string_view s) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '/' || c == ':' || c == '-' || c == '.' ||
                           c == '_' || c == '~';
        if (plain) {
            out.push_back(ch);
        } else {
            out.push_back('%');
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 15]);
        }
    }
    return out;
}

// A JSON string body. File names hold neither backslashes nor double quotes once the path
// is written with slashes, but control characters are escaped all the same so that the
// reply stays valid JSON whatever a name holds.
void AppendJsonText(std::string& out, std::string_view s) {
    for (const char ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            out.push_back('\\');
            out.push_back(ch);
        } else if (c < 0x20) {
            static const char kHex[] = "0123456789abcdef";
            out += "\\u00";
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 15]);
        } else {
            out.push_back(ch);
        }
    }
}

int64_t LeadingInteger(const std::string& s) {
    return ParseLeadingInt64(Utf8ToUtf16(s));
}

int64_t NowMilliseconds() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

const char kStyle[] =
    "@media only screen and (max-device-width:480px){@-ms-viewport{width:device-width}"
    "@viewport{width:device-width}}\n"
    "*{word-wrap:break-word;word-break:break-all}\n"
    "input{font-size:large}\n"
    "ol{padding-left:2em}\n"
    "hr{height:1px;border:0;background-color:silver}\n"
    "#divOptions{background-color:lightyellow;padding:2px;margin-top:0.5em}\n"
    "li img{margin-right:0.5em;vertical-align:middle}\n"
    "a.loading{color:silver;cursor:wait}\n"
    "ul.toplinks{list-style:none;margin:0.5em 0 0 0;padding:0;overflow:hidden}\n"
    "ul.toplinks li{float:left;margin-right:2em}\n"
    "ul.toplinks a{text-decoration:none}\n"
    "#lnkOptions{background-color:whitesmoke;float:right;text-decoration:none}\n";

const char kScript[] = R"JS(
var loading=false,historyLoaded=false,autoShowMore=false;
function el(id){return document.getElementById(id);}
function itemCount(){return el('ol').getElementsByTagName('li').length;}
function encodePath(p){var s=p.replace(/\\/g,'/').split('/');for(var i=0;i<s.length;i++)s[i]=encodeURIComponent(s[i]);return '/'+s.join('/');}
function folderQuery(p){return p.indexOf(' ')>=0?'"'+p+'"':p;}
function showMore(){
 if(loading||itemCount()>=totalFoundCount)return;
 var a=el('showMore');loading=true;a.className='loading';a.innerHTML='Loading..';
 var url='/query.json?q='+encodeURIComponent(el('txt').value)+'&from='+itemCount()+(el('chkShowSize').checked?'&showSize=1':'');
 var x=new XMLHttpRequest();x.open('GET',url,true);
 x.onreadystatechange=function(){
  if(x.readyState!=4)return;
  loading=false;a.className='';a.innerHTML='Show more';
  if(x.status!=200){el('lblLog').innerHTML='Error '+x.status;return;}
  appendItems(JSON.parse(x.responseText));
  var t=x.responseText.replace(/^\s*\[/,'').replace(/\]\s*$/,'');
  if(t.length){var h=el('txtHistory');h.value=h.value.length?h.value+','+t:t;}
 };
 x.send(null);
}
function thumbFor(p){var i=document.createElement('img');i.src='/thumb.png?file='+encodeURIComponent(p);i.width=32;return i;}
function appendItems(arr){
 var ol=el('ol'),showSize=el('chkShowSize').checked,thumbs=el('chkThumbnails').checked;
 for(var i=0;i<arr.length;i++){
  var s=arr[i],size='',bar=s.lastIndexOf('|');
  if(bar>=0){if(showSize)size=s.substr(bar+1);s=s.substr(0,bar);}
  var p=s.replace(/\//g,'\\'),li=document.createElement('li'),a=document.createElement('a');
  if(s.charAt(s.length-1)=='/')a.href='?q='+encodeURIComponent(folderQuery(p));else a.href=encodePath(p);
  a.appendChild(document.createTextNode(p));
  if(thumbs)li.appendChild(thumbFor(p));
  li.appendChild(a);
  if(size.length)li.appendChild(document.createTextNode(' ('+size+')'));
  ol.appendChild(li);
 }
 var n=itemCount(),c=el('lblShowingCount');if(c)c.innerHTML=n;
 var m=el('showMore');if(m&&n>=totalFoundCount)m.style.display='none';
}
function toggleOptions(){var d=el('divOptions');d.style.display=d.style.display=='none'?'block':'none';}
function updateThumbnails(fromClick){
 var on=el('chkThumbnails').checked;
 if(fromClick)document.cookie='$thumb='+(on?1:0)+'; expires=Thu, 31 Dec 2099 23:59:59 UTC; path=/';
 var items=el('ol').getElementsByTagName('li');
 for(var i=0;i<items.length;i++){
  var li=items[i],first=li.firstChild,has=first&&first.nodeName=='IMG';
  if(on&&!has){var a=li.getElementsByTagName('a')[0];if(a)li.insertBefore(thumbFor(a.textContent),li.firstChild);}
  if(!on&&has)li.removeChild(first);
 }
}
function readAutoShowMore(){autoShowMore=el('chkAutoShowMore').checked;if(autoShowMore)maybeAutoShowMore();}
function maybeAutoShowMore(){
 if(!autoShowMore)return;
 var top=window.pageYOffset||document.documentElement.scrollTop,h=window.innerHeight||document.documentElement.clientHeight;
 if(top+h>=document.body.scrollHeight-2)showMore();
}
window.onscroll=maybeAutoShowMore;
document.onkeydown=function(e){
 e=e||window.event;
 if(e.ctrlKey&&(e.keyCode==77||e.which==77)){var c=el('chkThumbnails');c.checked=!c.checked;updateThumbnails(true);return false;}
 return true;
};
function loadHistory(){
 if(historyLoaded)return;historyLoaded=true;
 var h=el('txtHistory').value;
 if(h.length){try{appendItems(JSON.parse('['+h+']'));}catch(e){el('txtHistory').value='';}}
}
function onPageLoad(){
 var s=window.location.search;
 if(s.indexOf('?q=')==0){var q=s.substr(3),amp=q.indexOf('&');if(amp>=0)q=q.substr(0,amp);try{el('txt').value=decodeURIComponent(q.replace(/\+/g,' '));}catch(e){}}
 var t=el('txt');t.focus();if(t.setSelectionRange){var n=t.value.length;t.setSelectionRange(n,n);}
 loadHistory();readAutoShowMore();
 var links=el('ol').getElementsByTagName('a');
 for(var i=0;i<links.length&&i<firstLoadedCount;i++){
  var p=links[i].textContent;
  if(p.charAt(p.length-1)=='\\')links[i].href='/?q='+encodeURIComponent(folderQuery(p));else links[i].href=encodePath(p);
 }
}
function submitQuery(q){el('txt').value=q;el('frm').submit();}
function goUp(){
 var s=window.location.search,f='';
 try{s=decodeURIComponent(s.replace(/\+/g,' '));}catch(e){}
 var a=s.indexOf('"'),b=a>=0?s.indexOf('"',a+1):-1;
 if(b>a+2&&s.charAt(a+2)==':')f=s.substring(a+1,b);
 else{var q=s.indexOf('q=');var m=q>=0?/[A-Za-z]:[^ &"]*/.exec(s.substr(q+2)):null;if(m)f=m[0];}
 if(!f.length)return;
 if(f.charAt(f.length-1)=='\\')f=f.substr(0,f.length-1);
 var k=f.lastIndexOf('\\');f=k>=0?f.substr(0,k+1):f;
 if(f.length<3)f='\\';
 submitQuery(folderQuery(f));
}
)JS";

}  // namespace

std::u16string WebSizeText(int64_t bytes) {
    if (bytes < 0) {
        bytes = 0;
    }
    const uint64_t kb = (static_cast<uint64_t>(bytes) + 1023) / 1024;
    return AsciiToUtf16(Grouped(kb) + " KB");
}

std::string ResultsJson(const WebSearchResult& r) {
    std::string out = "[";
    for (size_t i = 0; i < r.items.size(); ++i) {
        const WebItem& it = r.items[i];
        if (i > 0) {
            out.push_back(',');
        }
        std::string s = Utf8(ForwardSlashes(it.folder_path));
        if (!it.folder_path.empty()) {
            s.push_back('/');
        }
        s += Utf8(it.name);
        if (it.is_folder) {
            s.push_back('/');
        } else if (r.show_size) {
            s.push_back('|');
            s += Utf8(it.size_text);
        }
        out.push_back('"');
        AppendJsonText(out, s);
        out.push_back('"');
    }
    out.push_back(']');
    return out;
}

std::string SearchPage(const WebSearchResult& r) {
    std::string q = Utf8(r.query);
    std::string quoted;
    for (const char c : q) {
        if (c == '"') {
            quoted += "&quot;";
        } else if (c == '<') {
            quoted += "&lt;";  // keeps the text field's value from closing the tag early
        } else {
            quoted.push_back(c);
        }
    }
    std::string page;
    page.reserve(8192 + r.items.size() * 160);
    page +=
        "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">"
        "<meta name=\"viewport\" content=\"width=device-width\">"
        "<title>Kavo file search</title>\n<style>\n";
    page += kStyle;
    page += "</style>\n<script>\nvar totalFoundCount=" + std::to_string(r.found) +
            ";\nvar firstLoadedCount=" + std::to_string(r.last + 1) + ";\n";
    page += kScript;
    page += "</script>\n</head>\n<body>\n";
    page +=
        "<a id=\"lnkOptions\" href=\"javascript:void(0)\" onclick=\"toggleOptions();"
        "return false;\" style=\"font-size:small\">&hellip;</a>\n";
    page +=
        "<form method=\"get\" action=\"/\" id=\"frm\">Query: <input type=\"text\" "
        "id=\"txt\" name=\"q\" value=\"" +
        quoted + "\"> <input type=\"submit\" value=\"Go\">\n";
    page +=
        "<div id=\"divOptions\" style=\"display:none\">"
        "<input type=\"checkbox\" id=\"chkThumbnails\" onclick=\"updateThumbnails(true)\">"
        "<label for=\"chkThumbnails\">Thumbnails</label> "
        "<input type=\"checkbox\" id=\"chkShowSize\" name=\"showSize\" value=\"1\"" +
        std::string(r.show_size ? " checked" : "") +
        " onclick=\"el('frm').submit()\"><label for=\"chkShowSize\">Show size</label> "
        "<input type=\"checkbox\" id=\"chkAutoShowMore\" onclick=\"readAutoShowMore()\">"
        "<label for=\"chkAutoShowMore\">Auto show more</label></div>\n";
    // Kept by the browser when the user comes back, so that loaded items come back too.
    page +=
        "<input type=\"text\" id=\"txtHistory\" style=\"display:none\" "
        "autocomplete=\"off\">\n</form>\n";
    page +=
        "<script>\nif(document.cookie.indexOf('$thumb=1')>=0)"
        "el('chkThumbnails').checked=true;\n"
        "function sizeQueryField(){el('txt').size=(window.innerWidth||"
        "document.documentElement.clientWidth)>600?48:22;}\n"
        "sizeQueryField();window.onresize=sizeQueryField;\n</script>\n";
    page +=
        "<ul class=\"toplinks\"><li><a href=\"javascript:submitQuery('')\">New search</a>"
        "</li><li><a href=\"javascript:submitQuery('\\\\')\">Root folder</a></li>"
        "<li><a href=\"javascript:goUp()\">Go up</a></li></ul>\n";
    page += "<ol id=\"ol\">\n";
    for (const WebItem& it : r.items) {
        const std::string name = Utf8(it.name);
        const std::string folder = Utf8(it.folder_path);
        const std::string forward = Utf8(ForwardSlashes(it.folder_path));
        std::string href;
        std::string text;
        if (it.is_folder && !it.folder_path.empty()) {
            href = "/" + forward + "/" + name + "/";
            text = folder + "\\" + name + "\\";
        } else if (it.is_folder) {
            href = "/" + name + "/";
            text = name + "\\";
        } else {
            href = it.folder_path.empty() ? "/" + name : "/" + forward + "/" + name;
            text = it.folder_path.empty() ? name : folder + "\\" + name;
        }
        page += "<li><a href=\"" + Html(UrlPath(href)) + "\">" + Html(text) + "</a>";
        if (!it.is_folder && r.show_size) {
            page += " (" + Html(Utf8(it.size_text)) + ")";
        }
        page += "</li>\n";
    }
    page += "</ol>\n<script>updateThumbnails(false);</script>\n";
    page += "<hr>\nFound <b>" + Grouped(static_cast<uint64_t>(std::max(0, r.found))) +
            "</b> items (" + std::to_string(r.milliseconds) + ") ms <a href=\"#\">Top</a>\n";
    if (r.found > r.last + 1) {
        page += "<span style=\"float:right\">Showing <label id='lblShowingCount'>" +
                std::to_string(r.last + 1) +
                "</label> items. <a id=\"showMore\" href=\"javascript:showMore()\">Show more"
                "</a></span>\n";
    }
    page += "<label id=\"lblLog\"></label><a name=\"bottom\"></a>\n";
    page += "<script>loadHistory();onPageLoad();</script>\n</body></html>\n";
    return page;
}

WebSearchService::WebSearchService(std::u16string database_folder, std::u16string settings_path)
    : database_folder_(std::move(database_folder)), settings_path_(std::move(settings_path)) {}

WebSearchService::~WebSearchService() = default;

void WebSearchService::UnloadDatabase() {
    std::lock_guard<std::mutex> g(lock_);
    engine_.reset();
    db_.reset();
}

void WebSearchService::EnsureDatabase() {
    if (!db_) {
        db_ = LoadedDatabase::Load(database_folder_);
        EnsureNamedSearches(settings_path_);
    }
    if (!engine_) {
        engine_ = std::make_unique<SearchEngine>(db_.get(), &nop_);
        engine_->Initialize();
        const std::u16string settings = settings_path_;
        engine_->SetNamedSearchLookup(
            [settings](const std::u16string& name) { return FindNamedSearchIn(settings, name); });
    }
}

WebSearchResult WebSearchService::Search(const HttpRequest& request) {
    WebSearchResult r;
    std::string value;
    if (request.Variable("q", &value) >= 0) {
        r.query = Utf8ToUtf16(value);
        if (r.query.size() > kVariableBuffer - 1) {
            r.query.resize(kVariableBuffer - 1);
        }
    }
    int64_t from = request.Variable("from", &value) >= 0 ? LeadingInteger(value) : 0;
    int64_t to = request.Variable("to", &value) >= 0 ? LeadingInteger(value) : 0;
    r.show_size = request.Variable("showSize", &value) >= 0 && !value.empty() && value[0] == '1';
    // A negative start would read before the first result: start at the first.
    from = std::clamp<int64_t>(from, 0, INT32_MAX - kResultWindow);
    to = std::clamp<int64_t>(to, INT32_MIN / 2, INT32_MAX);
    if (to == 0 || to - from + 1 > kResultWindow) {
        to = from + kResultWindow - 1;
    }

    EnsureDatabase();
    const int64_t started = NowMilliseconds();
    SearchEngine& engine = *engine_;
    engine.StartSearch(r.query, false);
    r.found = engine.ResultCount();
    r.milliseconds = NowMilliseconds() - started;
    r.first = static_cast<int32_t>(from);
    r.last = static_cast<int32_t>(std::min<int64_t>(to, r.found - 1));
    for (int32_t i = r.first; i <= r.last; ++i) {
        std::optional<ItemInfo> info = engine.GetItemInfo(i);
        if (!info) {
            continue;
        }
        WebItem item;
        item.is_folder = info->is_folder;
        item.name = std::move(info->name);
        item.folder_path = std::move(info->folder_path);
        if (!item.is_folder && r.show_size) {
            item.size_text = WebSizeText(SizeCodeToBytes(db_->Size(engine.RecordAt(i))));
        }
        r.items.push_back(std::move(item));
    }
    if (r.last < r.first) {
        r.last = std::max(r.last, r.first - 1);
    }
    return r;
}

void WebSearchService::SendJson(HttpRequest& request) {
    const WebSearchResult r = Search(request);
    request.SendHeader("Content-Type", "application/json; charset=utf-8");
    request.SendBody(ResultsJson(r));
}

void WebSearchService::SendPage(HttpRequest& request) {
    const WebSearchResult r = Search(request);
    request.SendHeader("Content-Type", "text/html; charset=utf-8");
    const std::string page = SearchPage(r);
    for (size_t p = 0; p < page.size(); p += kPagePiece) {
        request.SendBody(std::string_view(page).substr(p, kPagePiece));
    }
}

void WebSearchService::SendDriveFile(HttpRequest& request) {
    const std::string& uri = request.Uri();
    std::u16string path = Utf8ToUtf16(uri.substr(1));
    // Text that is not UTF-8 cannot name a record.
    const bool valid = Utf16ToUtf8(path) == uri.substr(1);
    ReplaceAll(path, u'/', u'\\');
    std::u16string lookup = path;
    while (lookup.size() > 2 && lookup.back() == u'\\') {
        lookup.pop_back();
    }
    // The database folder holds the settings with the web password: never sent.
    std::u16string db_folder = database_folder_;
    ReplaceAll(db_folder, u'/', u'\\');
    const std::u16string lower_path = Lower(lookup) + u"\\";
    if (lower_path.rfind(Lower(db_folder), 0) == 0) {
        request.SendError(404);
        return;
    }
    EnsureDatabase();
    const int32_t record = valid && lookup.size() >= 2 ? db_->RecordOfPath(lookup, true) : -1;
    if (record < 0 || db_->IsHidden(record)) {
        request.SendError(404);
        return;
    }
    request.SendFile(uri.substr(1));
}

int WebSearchService::Handle(HttpRequest& request, HttpEvent event) {
    if (event != HttpEvent::kRequest) {
        return 0;
    }
    std::lock_guard<std::mutex> g(lock_);
    const std::string& uri = request.Uri();
    if (uri == "/") {
        SendPage(request);
        return kHandlerDone;
    }
    if (uri.size() >= 3 && uri[0] == '/' && uri[2] == ':' &&
        ((uri[1] >= 'A' && uri[1] <= 'Z') || (uri[1] >= 'a' && uri[1] <= 'z'))) {
        SendDriveFile(request);
        return kHandlerFileFollows;
    }
    if (uri == "/query.json") {
        SendJson(request);
        return kHandlerDone;
    }
    if (uri == "/thumb.png") {
        // No thumbnail renderer in this build: the core answers the declined request 404.
        return kHandlerDeclined;
    }
    request.SendBody("This is a reply from server instance # " + request.UserData());
    return kHandlerDone;
}

}  // namespace kavo::web
