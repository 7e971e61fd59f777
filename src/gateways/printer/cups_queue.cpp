#include "gateways/printer/cups_queue.h"

#include <cups/cups.h>
#include <cups/pwg.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <memory>

namespace tsr {
namespace {

constexpr char kJobName[] = "Tsr";
constexpr double kHundredthsMmPerPoint = 2540.0 / 72.0;

struct HttpCloser {
    void operator()(http_t* http) const { httpClose(http); }
};
using HttpPtr = std::unique_ptr<http_t, HttpCloser>;

struct IppDeleter {
    void operator()(ipp_t* ipp) const { ippDelete(ipp); }
};
using IppPtr = std::unique_ptr<ipp_t, IppDeleter>;

// Keeps a write to a socket that the scheduler has closed from ending the process: SIGPIPE is
// blocked for this thread while the guard lives, and one raised meanwhile is consumed.
class SigpipeGuard {
public:
    SigpipeGuard() {
        sigemptyset(&pipe_);
        sigaddset(&pipe_, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipe_, &previous_);
    }
    ~SigpipeGuard() {
        if (sigismember(&previous_, SIGPIPE)) return;  // the caller blocks it already
        const timespec noWait{};
        while (sigtimedwait(&pipe_, nullptr, &noWait) > 0) {
        }
        pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    }
    SigpipeGuard(const SigpipeGuard&) = delete;
    SigpipeGuard& operator=(const SigpipeGuard&) = delete;

private:
    sigset_t pipe_;
    sigset_t previous_;
};

using Clock = std::chrono::steady_clock;

// How often a lookup's waits check its deadline.
constexpr double kDeadlinePollSeconds = 0.1;

// Answers a wait that has run out: go on waiting while the deadline at `data` lies ahead.
int WaitBeforeDeadline(http_t*, void* data) {
    return Clock::now() < *static_cast<const Clock::time_point*>(data) ? 1 : 0;
}

// Answers a wait that has run out: give up.
int GiveUp(http_t*, void*) {
    return 0;
}

// Answers every password request: none (the library would otherwise ask on the terminal).
const char* NoPassword(const char*, http_t*, const char*, const char*, void*) {
    return nullptr;
}

// A connection to the scheduler, made within `connectMs`; each wait for an answer that lasts
// `waitSeconds` asks `onTimeout(data)` whether to go on.
HttpPtr ConnectToScheduler(int connectMs, double waitSeconds, http_timeout_cb_t onTimeout,
                           void* data) {
    cupsSetPasswordCB2(NoPassword, nullptr);
    HttpPtr http(httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1,
                              connectMs, nullptr));
    if (http) httpSetTimeout(http.get(), waitSeconds, onTimeout, data);
    return http;
}

// The queue part of "queue/instance".
std::string QueueOf(std::string_view destination) {
    return std::string(destination.substr(0, destination.find('/')));
}

// The name of the user's default destination, empty when there is none.
std::string DefaultDestination(http_t* http) {
    cups_dest_t* dest = cupsGetNamedDest(http, nullptr, nullptr);
    if (!dest) return {};
    std::string name = dest->name ? dest->name : "";
    cupsFreeDests(1, dest);
    return name;
}

// True when the scheduler answered, and with a success status.
bool Succeeded(ipp_t* response) {
    return response && ippGetStatusCode(response) < IPP_STATUS_REDIRECTION_OTHER_SITE;
}

int IntegerMember(ipp_t* collection, const char* name) {
    ipp_attribute_t* attr = ippFindAttribute(collection, name, IPP_TAG_INTEGER);
    return attr ? ippGetInteger(attr, 0) : 0;
}

MediaMargins DefaultMargins(ipp_t* attributes) {
    ipp_attribute_t* attr =
        ippFindAttribute(attributes, "media-col-default", IPP_TAG_BEGIN_COLLECTION);
    ipp_t* media = attr ? ippGetCollection(attr, 0) : nullptr;
    if (!media) return {};
    return {IntegerMember(media, "media-left-margin"), IntegerMember(media, "media-top-margin"),
            IntegerMember(media, "media-right-margin"),
            IntegerMember(media, "media-bottom-margin")};
}

std::string DefaultMedia(ipp_t* attributes) {
    ipp_attribute_t* attr = ippFindAttribute(attributes, "media-default", IPP_TAG_ZERO);
    const char* media = attr ? ippGetString(attr, 0, nullptr) : nullptr;
    return media ? media : "";
}

// Asks the scheduler for queue `name`'s default paper; false when it does not know the queue.
bool QueryQueue(http_t* http, const std::string& name, CupsQueue& queue) {
    char uri[HTTP_MAX_URI];
    if (httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost",
                         ippPort(), "/printers/%s", name.c_str()) != HTTP_URI_STATUS_OK) {
        return false;
    }
    static const char* const kWanted[] = {"printer-name", "media-default", "media-col-default"};
    ipp_t* request = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri);
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                  static_cast<int>(std::size(kWanted)), nullptr, kWanted);
    IppPtr response(cupsDoRequest(http, request, "/"));  // frees the request
    if (!Succeeded(response.get())) return false;
    queue.name = name;
    queue.format = PageFormatForMedia(DefaultMedia(response.get()), DefaultMargins(response.get()));
    return true;
}

// Sends the document of job `job`; false when it is not accepted completely.
bool SendDocument(http_t* http, const std::string& queueName, int job, std::string_view pdf) {
    if (cupsStartDocument(http, queueName.c_str(), job, kJobName, CUPS_FORMAT_PDF, 1) !=
        HTTP_STATUS_CONTINUE) {
        return false;
    }
    bool written = cupsWriteRequestData(http, pdf.data(), pdf.size()) == HTTP_STATUS_CONTINUE;
    // What cupsFinishDocument does, but judged by the answer itself: when the connection is
    // lost there is no answer, and the library's last status may still be an earlier success.
    const std::string resource = "/printers/" + queueName;
    IppPtr response(cupsGetResponse(http, resource.c_str()));
    return written && Succeeded(response.get());
}

double PointsOf(int hundredthsMm) {
    return hundredthsMm / kHundredthsMmPerPoint;
}

// `format` with each margin set to the larger of `least` and the printer's own.
PageFormat WithMargins(PageFormat format, const MediaMargins& margins, double least) {
    format.marginLeft = std::max(least, PointsOf(margins.left));
    format.marginTop = std::max(least, PointsOf(margins.top));
    format.marginRight = std::max(least, PointsOf(margins.right));
    format.marginBottom = std::max(least, PointsOf(margins.bottom));
    return format;
}

}  // namespace

PageFormat PageFormatForMedia(std::string_view media, const MediaMargins& margins) {
    PageFormat paper;
    const std::string name(media);
    pwg_media_t* size = nullptr;
    if (!name.empty()) size = pwgMediaForPWG(name.c_str());
    if (!size && !name.empty()) size = pwgMediaForLegacy(name.c_str());
    if (!size && !name.empty()) size = pwgMediaForPPD(name.c_str());
    if (size && size->width > 0 && size->length > 0) {
        paper.width = PointsOf(size->width);
        paper.height = PointsOf(size->length);
    }
    PageFormat format = WithMargins(paper, margins, kPrintMarginMm * kPointsPerMm);
    if (format.IsUsable()) return format;
    format = WithMargins(paper, margins, 0);  // small paper such as labels
    return format.IsUsable() ? format : PageFormat{};
}

bool FindCupsQueue(const std::string& name, CupsQueue& queue) {
    SigpipeGuard guard;
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kCupsLookupTimeoutMs);
    HttpPtr http = ConnectToScheduler(kCupsLookupTimeoutMs, kDeadlinePollSeconds,
                                      WaitBeforeDeadline, &deadline);
    if (!http) return false;
    const std::string wanted = name.empty() ? DefaultDestination(http.get()) : name;
    if (wanted.empty()) return false;
    return QueryQueue(http.get(), QueueOf(wanted), queue);
}

bool SubmitCupsJob(const std::string& queueName, std::string_view pdf) {
    SigpipeGuard guard;
    HttpPtr http = ConnectToScheduler(kCupsLookupTimeoutMs, kCupsJobWaitSeconds, GiveUp, nullptr);
    if (!http) return false;
    int job = cupsCreateJob(http.get(), queueName.c_str(), kJobName, 0, nullptr);
    if (job <= 0) return false;
    if (SendDocument(http.get(), queueName, job, pdf)) return true;
    cupsCancelJob2(http.get(), queueName.c_str(), job, 0);
    return false;
}

}  // namespace tsr
