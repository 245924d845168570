#pragma once

#include <cstdlib>
#include <optional>
#include <string>

namespace kqget::testing {

// Sets or clears one environment variable and restores it at the end of the scope.
class ScopedEnvironment
{
public:
    ScopedEnvironment(const char* name, const std::optional<std::string>& value) : m_name(name)
    {
        if (const char* old = std::getenv(name)) {
            m_old = old;
        }
        assign(value);
    }
    ~ScopedEnvironment() { assign(m_old); }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    void assign(const std::optional<std::string>& value)
    {
        if (value) {
            ::setenv(m_name, value->c_str(), 1);
        } else {
            ::unsetenv(m_name);
        }
    }

    const char* m_name;
    std::optional<std::string> m_old;
};

// libcurl would send even 127.0.0.1 through a proxy named in the environment,
// so every test that talks to the local service starts without one.
struct NoProxyEnvironment
{
    ScopedEnvironment httpProxy{"http_proxy", std::nullopt};
    ScopedEnvironment allProxy{"all_proxy", std::nullopt};
    ScopedEnvironment allProxyUpper{"ALL_PROXY", std::nullopt};
    ScopedEnvironment noProxy{"no_proxy", std::nullopt};
    ScopedEnvironment noProxyUpper{"NO_PROXY", std::nullopt};
};

} // namespace kqget::testing
