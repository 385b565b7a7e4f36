// quillon-probe as a user runs it, against real proxies that each leave from
// an address of their own (catalogue/testing/vendor_peers.sh, started inside
// this test's network namespace), the hostile ones of a public list and a
// blackholed port.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "hostile_peer.h"
#include "loopback.h"
#include "peers.h"
#include "probe_tool.h"
#include "proxy_list.h"

namespace {

using testsupport::Behaviour;

std::string Endpoint(std::uint16_t port) {
    return "127.0.0.1:" + std::to_string(port);
}

struct Outcome {
    int code;
    std::string out;
    std::string err;
};

Outcome RunInProcess(std::vector<std::string> args, const std::string& input = "") {
    std::istringstream in(input);
    std::ostringstream out, err;
    const int code = RunProbeTool(args, in, out, err);
    return {code, out.str(), err.str()};
}

class ProbeTool : public testing::Test {
protected:
    static void SetUpTestSuite() {
        s_dir = new testsupport::TempDir;
        const auto started =
            testsupport::RunCommand(std::string(QUILLON_VENDOR_PEERS_SCRIPT) + " start " + Peers() +
                                    " " QUILLON_VENDOR_FILES);
        ASSERT_EQ(started.exitCode, 0) << started.text;
    }
    static void TearDownTestSuite() {
        testsupport::RunCommand(std::string(QUILLON_VENDOR_PEERS_SCRIPT) + " stop " + Peers());
        delete s_dir;
        s_dir = nullptr;
    }
    static std::string Peers() { return s_dir->Path() + "/peers"; }
    static std::uint16_t PeerPort(const std::string& name) {
        return static_cast<std::uint16_t>(
            std::atoi(testsupport::ReadFile(Peers() + "/" + name + ".port").c_str()));
    }
    static std::string JudgeUrl() {
        return "http://" + Endpoint(PeerPort("nginx")) + "/licensing/ProxyGenerator/judge";
    }

    // Runs the real program on a list file in the program's stored form.
    static Outcome RunProgram(const std::vector<std::string>& entries) {
        std::string list;
        for (const std::string& entry : entries) {
            list += entry + "\r\n";
        }
        s_dir->Write("list.txt", ToStoredForm(list));
        const std::string err = s_dir->Path() + "/err.txt";
        const auto run = testsupport::RunCommand("{ " QUILLON_PROBE " --judge " + JudgeUrl() + " " +
                                                 s_dir->Path() + "/list.txt 2>" + err + "; }");
        return {run.exitCode, run.text, testsupport::ReadFile(err)};
    }

    static testsupport::TempDir* s_dir;
};

testsupport::TempDir* ProbeTool::s_dir = nullptr;

// The line with its latency (a number for a live entry) replaced by "N".
std::vector<std::string> Lines(const std::string& out) {
    std::vector<std::string> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        std::vector<std::string> fields;
        std::istringstream cells(line);
        for (std::string cell; std::getline(cells, cell, '\t');) {
            fields.push_back(cell);
        }
        if (fields.size() == 5 && fields[1] == "alive" && std::atoi(fields[2].c_str()) >= 1) {
            fields[2] = "N";
        }
        std::string joined;
        for (const std::string& field : fields) {
            joined += (joined.empty() ? "" : "\t") + field;
        }
        lines.push_back(joined);
    }
    return lines;
}

TEST_F(ProbeTool, GradesEveryKindOfEntryInListOrder) {
    ASSERT_NE(PeerPort("elite"), 0);
    testsupport::HostilePeer hostile;
    std::vector<std::string> entries = {
        Endpoint(PeerPort("transparent")),
        Endpoint(PeerPort("anonymous")),
        Endpoint(PeerPort("elite")),
        // A name, looked up beside the waiting.
        "localhost:" + std::to_string(PeerPort("elite")),
        "no-such-proxy.invalid:3128",
        "127.0.0.1:0",
    };
    std::vector<std::string> expected = {
        entries[0] + "\talive\tN\ttransparent\tyes",
        entries[1] + "\talive\tN\tanonymous\tno",
        entries[2] + "\talive\tN\telite\tyes",
        entries[3] + "\talive\tN\telite\tyes",
        entries[4] + "\tdead\t-\t-\t-",
        entries[5] + "\tdead\t-\t-\t-",
    };
    for (Behaviour behaviour : testsupport::kBehaviours) {
        const std::uint16_t port = hostile.Serve(behaviour);
        ASSERT_NE(port, 0);
        entries.push_back(Endpoint(port));
        // A refused connect is dead; whatever connects and gives no judge's
        // answer (an "ok" page included) is bad.
        expected.push_back(entries.back() + "\t" +
                           (behaviour == Behaviour::kRefuses ? "dead" : "bad") + "\t-\t-\t-");
    }
    testsupport::Blackhole blackhole;
    if (blackhole.Made()) {
        entries.push_back(Endpoint(blackhole.Port()));
        expected.push_back(entries.back() + "\tdead\t-\t-\t-");
    } else {
        std::fprintf(stderr, "without a blackholed port: %s\n", blackhole.WhyNot().c_str());
    }

    const Outcome run = RunProgram(entries);
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(Lines(run.out), expected) << run.out;
    EXPECT_EQ(run.err, "");
}

TEST_F(ProbeTool, ReadsStandardInputAndTellsWhenTheJudgeDoesNotAnswerDirectly) {
    // nginx answers a proxy's GET itself, judge's answer and all, so it is
    // alive as a proxy; the judge URL names a port that refuses, so this
    // machine's own request gets no answer and nothing can be graded.
    const std::string nginx = Endpoint(PeerPort("nginx"));
    const std::string judge =
        "http://" + Endpoint(testsupport::FreePort()) + "/licensing/ProxyGenerator/judge";
    const Outcome ungraded =
        RunInProcess({"--judge=" + judge, "-"}, nginx + "\n\nnot an entry\x01\n");
    EXPECT_EQ(ungraded.code, 0);
    EXPECT_EQ(Lines(ungraded.out), std::vector<std::string>{nginx + "\talive\tN\t-\tno"});
    EXPECT_NE(ungraded.err.find("did not answer"), std::string::npos) << ungraded.err;
    // Without a live entry there is nothing to tell.
    const std::string elite = Endpoint(PeerPort("elite"));
    const Outcome dead = RunInProcess({"--judge", judge, "-"}, elite + "\n");
    EXPECT_EQ(Lines(dead.out), std::vector<std::string>{elite + "\tbad\t-\t-\t-"});
    EXPECT_EQ(dead.err, "");
}

TEST(ProbeToolArguments, RefusesWhatItCannotRun) {
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{},
                                               {"--concurrency", "0", "-"},
                                               {"--concurrency=257", "-"},
                                               {"--concurrency", "x", "-"},
                                               {"a", "b"},
                                               {"--judge"},
                                               {"--unknown", "-"}}) {
        EXPECT_EQ(RunInProcess(args).code, 2) << ::testing::PrintToString(args);
    }
    EXPECT_EQ(RunInProcess({"/nonexistent/list.txt"}).code, 1);
    const Outcome https = RunInProcess({"--judge", "https://127.0.0.1/judge", "-"}, "");
    EXPECT_EQ(https.code, 1);
    EXPECT_NE(https.err.find("http://"), std::string::npos);
    // An empty list is a check that ran.
    const Outcome empty = RunInProcess({"--concurrency", "1", "-"}, "");
    EXPECT_EQ(empty.code, 0);
    EXPECT_EQ(empty.out, "");
}

}  // namespace
