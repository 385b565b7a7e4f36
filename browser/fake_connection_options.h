// Connection options for presenter tests: records each call and answers
// with the result the test chose.
#pragma once

#include <string>
#include <vector>

#include "connection_options.h"

class FakeConnectionOptions final : public IConnectionOptions {
public:
    struct Call {
        std::string operation;  // "Set" or "Disable"
        std::string connectionName;
        std::string proxyServer;  // empty for "Disable"
    };

    bool SetConnectionOptions(const char* connectionName, const char* proxyServer) override {
        m_calls.push_back({"Set", Text(connectionName), Text(proxyServer)});
        return m_result;
    }
    bool DisableConnectionProxy(const char* connectionName) override {
        m_calls.push_back({"Disable", Text(connectionName), ""});
        return m_result;
    }

    void SetResult(bool result) { m_result = result; }
    const std::vector<Call>& Calls() const { return m_calls; }

private:
    static std::string Text(const char* text) { return text != nullptr ? text : ""; }

    std::vector<Call> m_calls;
    bool m_result = true;
};
