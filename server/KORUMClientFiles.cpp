// The worker's answers from the base folder: a file, a folder's page, or where a folder is.
#include "server/KORUMClient.h"

#include "server/FolderMemo.h"
#include "server/FolderPage.h"
#include "server/Percent.h"
#include "server/Reply.h"
#include "server/SiteLookup.h"
#include "server/UploadOffer.h"
#include "server/WebPage.h"

namespace {

// The short page of a folder asked for without its final "/": relative links in the folder's
// page only work from the address that ends in "/".
std::string RedirectReply(const std::string& location) {
    const std::string link = reply::EscapeHtml(location);
    const std::string page = webpage::Page("Moved", "<p>This folder is at <a href=\"" + link +
                                                        "\">" + link + "</a>.</p>");
    return webpage::Reply(301, page, "Location: " + location + "\r\n");
}

// Folder pages made lately, whole replies: a folder asked for many times a second is listed once.
foldermemo::Memo<std::string>& Pages() {
    static foldermemo::Memo<std::string> pages(16, 16 * 1024 * 1024);
    return pages;
}

} // namespace

// False when nothing in the base folder answers the target: the caller says what that means.
bool tPeerThread::ServeFromBase(const route::Decision& decision) {
    const lookup::Target target{decision.fileName, decision.decodedFileName, decision.requestPath,
                                decision.defaultTarget};
    const lookup::Site site{BasePath, BaseFile, Site->sources.folderPages};
    const lookup::Found found = lookup::Find(target, site);
    switch (found.kind) {
    case lookup::Kind::File:
        // A file found by its name as received keeps the type its target gave it before.
        SendFile(found.path, found.asNamed && !decision.fileFallback ? RequestPath : found.path);
        return true;
    case lookup::Kind::Folder:
        SendFolderPage(found.path, decision);
        return true;
    case lookup::Kind::Redirect:
        SendText(RedirectReply(found.path));
        return true;
    case lookup::Kind::Missing:
        break;
    }
    return false;
}

void tPeerThread::SendFolderPage(const std::string& folder, const route::Decision& decision) {
    const std::string shown =
        decision.defaultTarget ? std::string("/") : percent::Decode(decision.requestPath);
    const auto stamp = foldermemo::StampOf(folder);
    const std::optional<std::string> uploadTo = uploadoffer::UploadTarget(*Site, folder, shown);
    // A page kept with the upload area never answers where none is due, nor one kept without it.
    const std::string key = folder + '\0' + shown + '\0' + Site->logFile + '\0' +
                            (uploadTo ? "+" + *uploadTo : std::string("-"));
    std::shared_ptr<const std::string> reply = stamp ? Pages().Find(key, *stamp) : nullptr;
    if (!reply) {
        const std::optional<std::string> page =
            folderpage::Page(folder, shown, Site->logFile, uploadTo);
        // A folder that cannot be read is not shown at all: a part of it would pass for the whole.
        if (!page || !stamp) {
            SendError(404, "<h2>File not really found</h2>");
            return;
        }
        reply = std::make_shared<const std::string>(webpage::Reply(200, *page));
        Pages().Keep(key, *stamp, reply, reply->size() + key.size());
    }
    SendText(*reply);
}
