#include "server/Admission.h"

#include "server/PeerRule.h"
#include "server/Request.h"
#include "server/UploadRule.h"

namespace admission {

bool Served(ReachChoice reach, std::string_view address, const HomePeer& homePeer) {
    switch (reach) {
    case ReachChoice::ThisComputer:
        return peerrule::IsLoopbackPeer(address);
    case ReachChoice::HomeNetwork:
        return homePeer ? homePeer(address) : peerrule::IsHomePeer(address);
    case ReachChoice::Anywhere:
        break;
    }
    return true;
}

std::optional<request::RequestCollector::Refusal> AtHeader(ReachChoice reach, UploadsChoice uploads,
                                                           std::string_view address,
                                                           const HomePeer& homePeer,
                                                           std::string_view header) {
    if (!Served(reach, address, homePeer))
        return request::RequestCollector::Refusal{
            403, reach == ReachChoice::ThisComputer ? kOnlyThisComputer : kOnlyHomeNetwork};
    if (uploads == UploadsChoice::Off) {
        const std::optional<std::string> line = request::RequestLine(header);
        if (line && request::MethodTarget(*line, "PUT"))
            return request::RequestCollector::Refusal{403, uploadrule::kSwitchedOff};
    }
    return std::nullopt;
}

} // namespace admission
