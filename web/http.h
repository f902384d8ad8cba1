#pragma once

#include <cstdint>
#include <string>

namespace kelvora {

// Fetches one page over plain HTTP/1.1 and appends the response body to
// buffer, byte for byte, whatever the status code. Never throws and reports
// nothing: the caller judges the outcome only by what buffer holds.
//
// The request is exactly:
//   "GET " target " HTTP/1.1\r\n"
//   "Host: " host "\r\n"
//   "Accept: text/html, */*\r\n"
//   "User-Agent: Mozilla/3.0 (compatible; Indy Library)\r\n"
//   "\r\n"
// Backslashes become "/", a trailing fragment is dropped, "https" is refused,
// redirects are not followed. A URL holding a control byte (below 0x20, or
// 0x7F) is refused before anything is sent. The connection goes to the URL's port, or to
// port when the URL names none.
//
// Limits (a limit reached counts as a failure; the buffer keeps what arrived):
// connect 10 s, 15 s without a byte, 60 s for the whole call, body 64 MiB.
// A response head beyond its bounds (64 KiB per line, 1 MiB, 10000 lines)
// leaves the buffer as it was. The host name lookup has no limit of ours.
//
// KELVORA_RESOLVE="HOST=ADDR:PORT,..." (HOST may be "*") sends the connection
// for a matching host to ADDR:PORT instead; the Host line is unchanged.
void HttpGet(const std::string &url, std::string &buffer, int port);

// What became of one call, for the caller that must tell a server it could
// not reach from a page that holds nothing.
struct HttpGetStatus {
    // A complete response head arrived. False when the host had no address,
    // the connection was refused or timed out, or the server closed or went
    // silent before its head was complete (and for a refused URL).
    bool answered = false;
    int code = 0;   // the final status code when answered, else 0
};
// HttpGet as above, also telling what became of the call in status.
void HttpGet(const std::string &url, std::string &buffer, int port, HttpGetStatus &status);

// How many HttpGet calls have begun in this process. A caller compares two
// readings to tell whether a network wait came between two of its steps.
std::uint64_t HttpGetCalls();

} // namespace kelvora
