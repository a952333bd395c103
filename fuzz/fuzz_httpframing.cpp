// HTTP responses of any content, fed to the client through a socket pair as a server would
// send them (status line, headers, folded lines, chunk sizes, cookies), then the connection
// closed: the client ends without a fault, within its bounds, never with more body than
// was sent.
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>

#include "timesync/httpclient.h"

namespace {
// The server's side: reads the request head, sends the response, closes.
void Serve(int fd, const std::string& response) {
    std::string head;
    char buf[1024];
    while (head.find("\r\n\r\n") == std::string::npos) {
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0) break;
        head.append(buf, static_cast<size_t>(n));
    }
    for (size_t off = 0; off < response.size();) {
        const ssize_t n = write(fd, response.data() + off, response.size() - off);
        if (n <= 0) break;
        off += static_cast<size_t>(n);
    }
    close(fd);
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string response(reinterpret_cast<const char*>(data), size);
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0) return 0;
    THttpClient http;
    http.SetTimeout(200);
    http.SetTotalTimeout(2000);
    http.SetMaxDocumentSize(1024);
    http.SetMaxHeaderCount(32);
    http.Cookies().Add("seen=1");
    http.Sock().AdoptHandle(pair[0]);
    http.UseConnection("time.example", "80");
    std::thread server(Serve, pair[1], response);
    const bool whole = http.SendRequest("GET", "http://time.example/t.php");
    server.join();
    const size_t body = http.DocumentSize();
    if (body > 1024 || body > size + 2) std::abort();  // +2: a status-less first line's CR LF
    if (http.Headers().Count() > 64) std::abort();
    if (whole && http.Sock().ErrorCode() != 0) std::abort();
    if (http.Document().tellg() != 0) std::abort();
    return 0;
}
