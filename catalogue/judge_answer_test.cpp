// Reading the judge's answer and grading a proxy by it.
#include "judge_answer.h"

#include <gtest/gtest.h>

namespace {

constexpr const char* kOwn = "198.51.100.7";

JudgeAnswer Answer(const std::string& body) {
    const auto answer = ParseJudgeAnswer(body);
    EXPECT_TRUE(answer) << body;
    return answer.value_or(JudgeAnswer{});
}

TEST(JudgeAnswerTest, OnlyABodyThatStartsWithTheAddressLineIsAnAnswer) {
    const auto answer =
        ParseJudgeAnswer("REMOTE_ADDR: 203.0.113.9 \nGET /j HTTP/1.0\r\nHost: judge\r\n\r\n");
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->remoteAddress, "203.0.113.9");
    EXPECT_EQ(answer->lines, (std::vector<std::string>{"GET /j HTTP/1.0", "Host: judge"}));
    EXPECT_TRUE(ParseJudgeAnswer("REMOTE_ADDR: 1.2.3.4"));
    for (const char* body : {"", "ok", "\nREMOTE_ADDR: 1.2.3.4\n", "remote_addr: 1.2.3.4\n",
                             "REMOTE_ADDR:1.2.3.4\n", "<html>REMOTE_ADDR: 1.2.3.4</html>"}) {
        EXPECT_FALSE(ParseJudgeAnswer(body)) << body;
    }
}

TEST(JudgeAnswerTest, AnAddressCountsOnlyWhole) {
    EXPECT_TRUE(NamesAddress("X-Forwarded-For: 10.0.0.1", "10.0.0.1"));
    EXPECT_TRUE(NamesAddress("for=\"[::ffff:10.0.0.1]:4711\"", "10.0.0.1"));
    EXPECT_TRUE(NamesAddress("a, 10.0.0.12, 10.0.0.1", "10.0.0.1"));
    EXPECT_FALSE(NamesAddress("10.0.0.12", "10.0.0.1"));
    EXPECT_FALSE(NamesAddress("110.0.0.1", "10.0.0.1"));
    EXPECT_FALSE(NamesAddress("10.0.0.1.5", "10.0.0.1"));
    EXPECT_FALSE(NamesAddress("5.10.0.0.1", "10.0.0.1"));
    EXPECT_FALSE(NamesAddress("anything", ""));
}

TEST(JudgeAnswerTest, TheUsersAddressAnywhereMakesATransparentProxy) {
    const std::string head = "REMOTE_ADDR: 203.0.113.9\nGET /j HTTP/1.0\r\nHost: judge\r\n";
    EXPECT_EQ(GradeAnswer(Answer(head + "X-Forwarded-For: 198.51.100.7\r\n"), kOwn),
              ProxyGrade::kTransparent);
    // Under a name no list knows.
    EXPECT_EQ(GradeAnswer(Answer(head + "X-Whoever: 198.51.100.7\r\n"), kOwn),
              ProxyGrade::kTransparent);
    // A proxy that leaves from the user's own address.
    EXPECT_EQ(GradeAnswer(Answer("REMOTE_ADDR: 198.51.100.7\n"), kOwn), ProxyGrade::kTransparent);
    // Not where the request names the judge, which may live at the user's
    // own address (a judge on this machine).
    EXPECT_EQ(GradeAnswer(Answer("REMOTE_ADDR: 203.0.113.9\n"
                                 "GET http://198.51.100.7/j HTTP/1.0\r\nhost: 198.51.100.7:80\r\n"),
                          kOwn),
              ProxyGrade::kElite);
}

TEST(JudgeAnswerTest, AProxyHeaderWithoutTheAddressMakesAnAnonymousOne) {
    const std::string head = "REMOTE_ADDR: 203.0.113.9\nGET /j HTTP/1.0\r\nHost: judge\r\n";
    for (const char* header :
         {"Via: 1.1 cache", "via:1.1 cache", "X-FORWARDED-FOR: 10.1.1.1", "Forwarded: for=unknown",
          "Proxy-Connection: close", "X-Tinyproxy: 10.1.1.1"}) {
        EXPECT_EQ(GradeAnswer(Answer(head + header + "\r\n"), kOwn), ProxyGrade::kAnonymous)
            << header;
    }
    EXPECT_EQ(GradeAnswer(Answer(head + "User-Agent: x\r\nConnection: close\r\n"), kOwn),
              ProxyGrade::kElite);
    // Without the user's own address nothing can be told.
    EXPECT_EQ(GradeAnswer(Answer(head), ""), ProxyGrade::kNone);
}

}  // namespace
