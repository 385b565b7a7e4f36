// The judge's answer: the vendor's judge (kJudgeUrlPath) answers a GET with
// the address the request came from and the request's head as it arrived,
//   REMOTE_ADDR: 203.0.113.7
//   GET /licensing/ProxyGenerator/judge HTTP/1.0
//   Host: www.quillon.example
//   Via: 1.1 proxy
// so a request sent through a proxy shows what the proxy gave away.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

inline constexpr std::string_view kRemoteAddrPrefix = "REMOTE_ADDR: ";

// How much of the user a live proxy hides.
enum class ProxyGrade {
    kNone,         // not graded: not alive, or the user's own address is unknown
    kTransparent,  // the answer holds the user's own address
    kAnonymous,    // it does not, but a header tells that a proxy relayed it
    kElite,        // neither
};

struct JudgeAnswer {
    std::string remoteAddress;       // where the request came from, as the judge saw it
    std::vector<std::string> lines;  // every other line, without its line end
};

// Nothing unless the body's first line starts with "REMOTE_ADDR: ". Lines may
// end with LF or CR LF.
std::optional<JudgeAnswer> ParseJudgeAnswer(std::string_view body);

// Headers that only a proxy adds, compared without regard to case: the one
// list the grading goes by.
inline constexpr std::array kProxyHeaders = {
    std::string_view("Via"),
    std::string_view("X-Forwarded-For"),
    std::string_view("Forwarded"),
    std::string_view("Forwarded-For"),
    std::string_view("X-Forwarded"),
    std::string_view("X-Forwarded-Host"),
    std::string_view("X-Real-IP"),
    std::string_view("Client-IP"),
    std::string_view("X-Client-IP"),
    std::string_view("X-Originating-IP"),
    std::string_view("X-Proxy-ID"),
    std::string_view("Proxy-Connection"),
    std::string_view("X-Tinyproxy"),
    std::string_view("X-BlueCoat-Via"),
    std::string_view("X-Coming-From"),
    std::string_view("Coming-From"),
    std::string_view("X-ProxyUser-IP"),
};
bool RevealsProxy(std::string_view headerName);

// Whether the text holds the dotted address as a whole, not as a piece of a
// longer number ("10.0.0.1" is not in "10.0.0.12").
bool NamesAddress(std::string_view text, std::string_view address);

// The grade of an answer to a request through a proxy, given the address the
// judge reports for the user's own requests (empty: unknown, kNone). The
// request line and the Host line are not searched for that address: they
// name the judge, which may be reached at the user's own address when both
// run on one machine.
ProxyGrade GradeAnswer(const JudgeAnswer& answer, std::string_view ownAddress);
