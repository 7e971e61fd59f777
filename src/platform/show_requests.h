// A second start of the designer shows the windows of the designers already running (a hidden
// one could otherwise only come back with a key combination). Each running designer listens on
// a datagram socket named after its process id in a per-user directory; a new start sends
// "show" to every socket there.
#pragma once

#include <string>

namespace tsr {

// $XDG_RUNTIME_DIR/tessora, else /tmp/tessora-UID; created (mode 0700) by the listener.
std::string ShowRequestDirectory();

class ShowRequestListener {
  public:
    // Listens as `id` in `directory`. When the socket cannot be made, listening() is false and
    // nothing else changes.
    explicit ShowRequestListener(std::string directory = ShowRequestDirectory(), long id = -1);
    ~ShowRequestListener();
    ShowRequestListener(const ShowRequestListener&) = delete;
    ShowRequestListener& operator=(const ShowRequestListener&) = delete;

    bool listening() const { return fd_ >= 0; }
    // True when at least one request arrived since the last call; never blocks.
    bool TakeRequest();

  private:
    int fd_ = -1;
    std::string path_;
};

// Sends "show" to every listener in `directory` except `ownId`'s; sockets nobody listens on any
// more are removed. Returns how many listeners were reached.
int SendShowRequests(const std::string& directory = ShowRequestDirectory(), long ownId = -1);

}  // namespace tsr
