#include "server/UploadArea.h"

#include "server/Percent.h"
#include "server/Reply.h"

namespace uploadarea {
namespace {

// A card like the listing's; the picker itself is hidden but stays in the tab order, and its
// label is the large target a finger or a dropped file hits. Each file gets a row: name and bar,
// and what became of it below.
constexpr std::string_view kStart = R"html(<style>
.up{margin:0 0 1rem}
#up-pick{position:absolute;width:1px;height:1px;opacity:0;overflow:hidden}
.up label{display:block;padding:1.25rem 1rem;border:2px dashed var(--line);border-radius:12px;
background:var(--card);color:var(--muted);text-align:center;cursor:pointer}
.up label b{color:var(--link);font-weight:600}
#up-pick:focus-visible+label,.up.over label{border-color:var(--link);background:var(--hover)}
#up-pick:focus-visible+label{outline:2px solid var(--link);outline-offset:2px}
.up ul{list-style:none;margin:.5rem 0 0;padding:0}
.up li{display:grid;grid-template-columns:minmax(0,1fr) 6rem;grid-template-areas:"n b" "s s";
column-gap:.75rem;align-items:center;padding:.375rem .25rem;font-size:.875rem}
.up li span:first-child{grid-area:n;overflow-wrap:anywhere}
.up progress{grid-area:b;width:100%}
.up li span+progress+span,.up p{grid-area:s;color:var(--muted);margin:0}
.up p:not(:empty){margin-top:.5rem;font-size:.875rem}
</style>
<section class="up" id="up" aria-label="Add files" data-to=")html";

// Files go one after another, each PUT as it is: its progress is its own. A name the listing
// already shows (read when the first file comes: the listing follows the script) gets the next
// free one at once; a name taken meanwhile (or not listed) is found out by the server's refusal
// and the next one is asked for. When every file of a batch is saved the page is loaded again,
// to list them (unless more files came meanwhile); leaving it while files go asks first.
constexpr std::string_view kEnd = R"html(">
<input type="file" id="up-pick" multiple>
<label for="up-pick"><b>Choose files</b> or drop them here</label>
<ul id="up-list"></ul>
<p id="up-state" role="status"></p>
</section>
<script>
(()=>{
const $=id=>document.getElementById(id),area=$("up"),pick=$("up-pick"),list=$("up-list"),
state=$("up-state"),to=area.dataset.to,taken=new Set(),queue=[];
let busy=false,saved=0,failed=0,listed=false,reload=0;
const learn=()=>{if(listed)return;listed=true;for(const a of document.querySelectorAll(".ls a"))
try{taken.add(decodeURIComponent(a.getAttribute("href")).replace(/\/$/,""))}catch(e){}};
const named=(n,k)=>{if(k<2)return n;const d=n.lastIndexOf(".");
return d>0?n.slice(0,d)+" ("+k+")"+n.slice(d):n+" ("+k+")"};
const free=(n,k)=>{while(taken.has(named(n,k)))k++;return k};
const el=(tag,text)=>{const e=document.createElement(tag);e.textContent=text;return e};
function add(files){learn();clearTimeout(reload);if(!busy)saved=failed=0;
for(const f of files){const bar=el("progress",""),note=el("span","Waiting"),li=el("li","");
bar.max=100;bar.value=0;bar.setAttribute("aria-label",f.name);
li.append(el("span",f.name),bar,note);list.append(li);queue.push({f,bar,note})}
if(!busy)next()}
function next(){const job=queue.shift();busy=!!job;
if(job)return send(job,free(job.f.name,1));
state.textContent=saved+" saved"+(failed?", "+failed+" not saved":"");
if(saved&&!failed)reload=setTimeout(()=>location.reload(),600)}
function done(job,ok,text){ok?saved++:failed++;job.note.textContent=text;
if(ok)job.bar.value=100;next()}
function send(job,k){const name=named(job.f.name,k),x=new XMLHttpRequest();
job.note.textContent="Sending";x.open("PUT",to+encodeURIComponent(name));
x.upload.onprogress=e=>{if(e.lengthComputable){const p=Math.floor(100*e.loaded/e.total);
job.bar.value=p;job.note.textContent=p+"%"}};
x.onload=()=>{taken.add(name);
if(x.status==406&&x.responseText.includes("File already exists")&&k<1000)
return send(job,free(job.f.name,k+1));
if(x.status==200)return done(job,true,k>1?"Saved as "+name:"Saved");
const said=new DOMParser().parseFromString(x.responseText,"text/html").body.textContent;
done(job,false,said||"Not saved ("+x.status+")")};
x.onerror=()=>done(job,false,"Not saved: the connection was lost");
x.send(job.f)}
pick.addEventListener("change",()=>{add(pick.files);pick.value=""});
const files=e=>e.dataTransfer&&[...e.dataTransfer.types].includes("Files");
const over=e=>{if(files(e)){e.preventDefault();area.classList.add("over")}};
addEventListener("beforeunload",e=>{if(busy)e.preventDefault()});
addEventListener("dragenter",over);addEventListener("dragover",over);
addEventListener("dragleave",e=>{if(!e.relatedTarget)area.classList.remove("over")});
addEventListener("drop",e=>{if(!files(e))return;e.preventDefault();
area.classList.remove("over");add(e.dataTransfer.files)});
})();
</script>
)html";

} // namespace

void Append(std::string& body, std::string_view folderPath) {
    body.append(kStart);
    body.append(reply::EscapeHtml(percent::EncodePath(folderPath)));
    body.append(kEnd);
}

size_t MarkupSize() {
    return kStart.size() + kEnd.size();
}

} // namespace uploadarea
