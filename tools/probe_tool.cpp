#include "probe_tool.h"

#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>

#include "proxy_check.h"
#include "vendor_url.h"

namespace {

constexpr const char* kUsage =
    "usage: quillon-probe [--judge URL] [--concurrency N] FILE|-\n"
    "Tests every proxy of the list FILE (- for standard input) through the judge URL\n"
    "(default: the vendor's, from QUILLON_VENDOR_URL) and prints, in list order:\n"
    "endpoint, alive|dead|bad, latency in ms, elite|anonymous|transparent, HTTPS yes|no.\n"
    "N entries are tested at once (1 to 256, default 256).\n";

struct Arguments {
    std::string file;
    ProxyCheckOptions options;
};

std::optional<int> Concurrency(const std::string& text) {
    if (text.empty() || text.size() > 3 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        return std::nullopt;
    }
    const int n = std::stoi(text);
    return n >= 1 && n <= kMaxConcurrency ? std::optional<int>(n) : std::nullopt;
}

// Nothing for a command line it does not take.
std::optional<Arguments> Parse(const std::vector<std::string>& args) {
    Arguments parsed;
    bool haveFile = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool last = i + 1 == args.size();
        if (arg == "--judge" && !last) {
            parsed.options.judgeUrl = args[++i];
        } else if (arg.starts_with("--judge=")) {
            parsed.options.judgeUrl = arg.substr(8);
        } else if ((arg == "--concurrency" && !last) || arg.starts_with("--concurrency=")) {
            const auto n = Concurrency(arg == "--concurrency" ? args[++i] : arg.substr(14));
            if (!n) {
                return std::nullopt;
            }
            parsed.options.concurrency = *n;
        } else if (!haveFile && (arg == "-" || !arg.starts_with("-"))) {
            parsed.file = arg;
            haveFile = true;
        } else {
            return std::nullopt;
        }
    }
    return haveFile ? std::optional<Arguments>(parsed) : std::nullopt;
}

std::optional<std::string> ReadAll(const std::string& file, std::istream& in) {
    if (file == "-") {
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    std::ifstream stream(file, std::ios::binary);
    if (!stream) {
        return std::nullopt;
    }
    std::ostringstream bytes;
    bytes << stream.rdbuf();
    return bytes.str();
}

}  // namespace

int RunProbeTool(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
                 std::ostream& err) {
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        out << kUsage;
        return 0;
    }
    std::optional<Arguments> parsed = Parse(args);
    if (!parsed) {
        err << kUsage;
        return 2;
    }
    const std::optional<std::string> bytes = ReadAll(parsed->file, in);
    if (!bytes) {
        err << "quillon-probe: cannot read " << parsed->file << "\n";
        return 1;
    }
    if (parsed->options.judgeUrl.empty()) {
        parsed->options.judgeUrl = VendorUrl(kJudgeUrlPath);
    }
    const std::vector<std::string> entries = CheckEntries(*bytes);

    // Lines go out in list order as soon as every entry before them is done.
    std::vector<std::optional<std::string>> lines(entries.size());
    std::size_t printed = 0;
    bool ungraded = false;
    const ProxyCheckRun run = CheckProxies(
        entries, parsed->options, {}, [&](std::size_t position, const ProxyCheckResult& result) {
            ungraded = ungraded ||
                       (result.state == ProxyState::kAlive && result.grade == ProxyGrade::kNone);
            lines[position] = FormatResultFields(result);
            for (; printed < lines.size() && lines[printed]; ++printed) {
                out << *lines[printed] << '\n';
            }
            out.flush();
        });
    switch (run.outcome) {
        case ProxyCheckRun::Outcome::kNoJudge:
            err << "quillon-probe: the judge must be an http:// URL: " << parsed->options.judgeUrl
                << "\n";
            return 1;
        case ProxyCheckRun::Outcome::kNoSockets:
        case ProxyCheckRun::Outcome::kStopped:
            err << "quillon-probe: the check could not go on\n";
            return 1;
        case ProxyCheckRun::Outcome::kDone:
            break;
    }
    if (ungraded) {
        err << "quillon-probe: " << parsed->options.judgeUrl
            << " did not answer a direct request: live proxies are not graded\n";
    }
    return 0;
}
