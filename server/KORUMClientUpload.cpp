// The worker's uploads: judged at the header, streamed into a nameless file as the body arrives,
// named once whole, and told to the window.
#include "server/KORUMClient.h"

#include "platform/FileCalls.h"
#include "server/Request.h"
#include "server/Router.h"
#include "server/Upload.h"
#include "server/UploadRule.h"

#include <QFile>

// A PUT that declares its length: its body goes into a new upload file as it arrives, unless the
// upload is refused anyway. A refusal of where it goes or of its size ends the request at its
// header; a name taken already has its body read and dropped.
request::RequestCollector::BodySink tPeerThread::StartUpload(route::Decision& decision) {
    if (decision.kind != route::Kind::Upload)
        return {};
    const uploadrule::Place place{Site->sources.uploads, Site->baseFolder, Site->uploadFolder};
    const int64_t declared = request::DeclaredLength(Collector.Header()).value_or(0);
    if (const auto refused =
            uploadrule::Check(place, decision.fileName, declared, context_.freeSpace)) {
        decision.kind = route::Kind::Error;
        decision.status = refused->status;
        decision.message = refused->message;
        return {};
    }
    if (!UploadAllowed(decision.fileName))
        return {};
    UploadBody = std::make_unique<upload::UploadFile>(
        decision.fileName, upload::UploadFile::Waiting::Unnamed, IdleLimit);
    UploadProgress = beginTransfer(transfers::Direction::Upload, decision.requestPath, declared);
    return [this, file = UploadBody.get()](const char* data, size_t size) {
        file->Write(data, size);
        UploadProgress.Add(static_cast<int64_t>(size));
    };
}

// Neither an existing file nor the plug-ins folder receives an upload: a file put there would be
// loaded, and run as the owner, at the next start.
bool tPeerThread::UploadAllowed(const std::string& fileName) const {
    return !platform::IsRegularFile(fileName) &&
           !upload::InsideFolder(fileName, Site->pluginsFolder);
}

void tPeerThread::Upload(const std::string& fileName) {
    // Every upload the router lets through declares its length, so its body streamed into
    // UploadBody from the header on; none was opened for a name that cannot take one.
    if (upload::InsideFolder(fileName, Site->pluginsFolder)) {
        const upload::Answer answer = upload::CannotCreate(RequestPath);
        SendError(answer.status, answer.message);
        return;
    }
    if (!UploadBody || platform::IsRegularFile(fileName)) {
        SendError(406, "File already exists");
        return;
    }
    const upload::UploadFile::Outcome outcome = UploadBody->Publish();
    UploadProgress = {};
    if (outcome == upload::UploadFile::Outcome::Saved)
        ReportStored(fileName);
    const upload::Answer answer = upload::AnswerFor(outcome, RequestPath);
    SendError(answer.status, answer.message);
}

void tPeerThread::ReportStored(const std::string& fileName) {
    const size_t slash = fileName.find_last_of('/');
    toUi_.Post([&context = context_, peer = PeerAddress,
                name = fileName.substr(slash == std::string::npos ? 0 : slash + 1),
                bytes = request::DeclaredLength(Collector.Header()).value_or(0)] {
        if (context.uploadStored)
            context.uploadStored(QFile::decodeName(QByteArray::fromStdString(name)),
                                 QString::fromStdString(peer), bytes);
    });
}
