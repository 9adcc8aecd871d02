// A plain HTTP/1.1 client for the panel's tests: the request goes out byte
// for byte as written (so a test can send any Host, Origin or length it
// likes), and the response is read until the panel closes the connection.
#pragma once

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <cstdlib>
#include <string>

namespace paneltest {

struct HttpResponse {
    int status = 0;    // 0: no response
    std::string head;  // the status line and headers
    std::string body;
};

#ifdef _WIN32
using Socket = SOCKET;
inline void CloseSocket(Socket s) { closesocket(s); }
inline bool Valid(Socket s) { return s != INVALID_SOCKET; }
#else
using Socket = int;
inline void CloseSocket(Socket s) { close(s); }
inline bool Valid(Socket s) { return s >= 0; }
#endif

// Sends `request` as it stands to 127.0.0.1:`port` and reads the response
// until the connection closes.
inline HttpResponse SendRaw(unsigned short port, const std::string& request) {
    HttpResponse response;
    const Socket s = socket(AF_INET, SOCK_STREAM, 0);
    if (!Valid(s)) return response;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        CloseSocket(s);
        return response;
    }
    for (std::size_t sent = 0; sent < request.size();) {
        const int n = static_cast<int>(send(s, request.data() + sent, static_cast<int>(request.size() - sent), 0));
        if (n <= 0) break;
        sent += static_cast<std::size_t>(n);
    }
    std::string text;
    char buffer[4096];
    for (int n; (n = static_cast<int>(recv(s, buffer, sizeof buffer, 0))) > 0;)
        text.append(buffer, static_cast<std::size_t>(n));
    CloseSocket(s);
    const std::size_t end = text.find("\r\n\r\n");
    if (text.compare(0, 9, "HTTP/1.1 ") != 0 || end == std::string::npos) return response;
    response.status = std::atoi(text.c_str() + 9);
    response.head = text.substr(0, end);
    response.body = text.substr(end + 4);
    return response;
}

// One request that closes the connection after its response; `headers`
// each end with "\r\n". A body gets its Content-Length.
inline HttpResponse Send(unsigned short port, const std::string& method, const std::string& target,
                         const std::string& headers, const std::string& body = "") {
    std::string request = method + " " + target + " HTTP/1.1\r\n" + headers + "Connection: close\r\n";
    if (!body.empty() || method == "POST") request += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    return SendRaw(port, request + "\r\n" + body);
}

// The Host header of the panel on `port` as a browser that opened its URL sends it.
inline std::string HostHeader(unsigned short port) { return "Host: 127.0.0.1:" + std::to_string(port) + "\r\n"; }

// The headers of a JSON POST from the page itself.
inline std::string JsonPost(unsigned short port) {
    return HostHeader(port) + "Content-Type: application/json\r\nOrigin: http://127.0.0.1:" + std::to_string(port) +
           "\r\n";
}

}  // namespace paneltest
