#include "proxy_generator_worker.h"

#include <gtest/gtest.h>

#include <chrono>

#include "catalogue_test_support.h"
#include "test_environment.h"
#include "vendor_url.h"

namespace {

const std::string kGeneratorPath(kProxyGeneratorUrlPath);

TEST(ProxyGeneratorWorkerTest, EachStartSendsOneRequest) {
    VendorServer server;
    server.AnswerBody(kGeneratorPath, "generated\n");
    ProxyGeneratorWorker worker;
    EXPECT_FALSE(worker.IsRunning());
    for (int i = 1; i <= 3; ++i) {
        ASSERT_TRUE(worker.Start(0));
        ASSERT_TRUE(testsupport::WaitFor([&] { return server.RequestsFor(kGeneratorPath) == i; }));
        EXPECT_EQ(worker.Stop(), 0u);
    }
    EXPECT_EQ(server.RequestsFor(kGeneratorPath), 3);
    EXPECT_EQ(server.Requests().size(), 3u);
    const std::string head = server.Requests()[0];
    EXPECT_EQ(head.rfind("GET /licensing/ProxyGenerator/ProxyGen.asp HTTP/1.0\r\n", 0), 0u);
}

TEST(ProxyGeneratorWorkerTest, StopCancelsARequestTheServerNeverAnswers) {
    VendorServer server;
    server.Hold(true);
    {
        ProxyGeneratorWorker worker;
        ASSERT_TRUE(worker.Start(0));
        ASSERT_TRUE(testsupport::WaitFor([&] { return server.Held() == 1; }));
        if (RunningUnderWine()) {
            // Wine's WinINet finishes a blocked request even after its
            // handles are closed: Stop would wait out the server's hold.
            server.Hold(false);
        }
        const auto before = std::chrono::steady_clock::now();
        EXPECT_EQ(worker.Stop(), 0u);
        // Far below the server's 20-second hold: the request was cut off.
        EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(10));
        server.Hold(true);

        ASSERT_TRUE(worker.Start(0));
        ASSERT_TRUE(testsupport::WaitFor([&] { return server.RequestsFor(kGeneratorPath) == 2; }));
        if (RunningUnderWine()) {
            server.Hold(false);
        }
    }  // the destructor cancels too
    EXPECT_EQ(server.RequestsFor(kGeneratorPath), 2);
    server.Hold(false);
}

TEST(ProxyGeneratorWorkerTest, QuickRestartsStopEveryRequestWhereverItIs) {
    VendorServer server;
    server.AnswerBody(kGeneratorPath, "generated\n");
    ProxyGeneratorWorker worker;
    // Each stop lands somewhere else in the request: before, during, after.
    for (int i = 0; i < 100; ++i) {
        ASSERT_TRUE(worker.Start(0));
        EXPECT_EQ(worker.Stop(), 0u);
        ASSERT_FALSE(worker.IsRunning()) << i;
    }
    // None of them left the worker in a state of its own: the next request
    // goes out.
    const int before = server.RequestsFor(kGeneratorPath);
    ASSERT_TRUE(worker.Start(0));
    EXPECT_TRUE(testsupport::WaitFor([&] { return server.RequestsFor(kGeneratorPath) > before; }));
    EXPECT_EQ(worker.Stop(), 0u);
}

}  // namespace
